#include <QtTest>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <vxSyslog/LogStream.h>

#include "front/NumberText.h"

using namespace SystemLog;

// Row actions: what a row feeds into a stream, or a text or value it produces.
using StreamFeed = std::function<void(LogStream&)>;
using Produce = std::function<QByteArray()>;
using DoubleAt = double (*)(int index);
using Check = void (*)();
Q_DECLARE_METATYPE(StreamFeed)
Q_DECLARE_METATYPE(Produce)
Q_DECLARE_METATYPE(DoubleAt)
Q_DECLARE_METATYPE(Check)

// A feed small enough for one table row.
#define FEED(pieces) StreamFeed([](LogStream& s) { s << pieces; })

namespace {

constexpr char kGuard = '\x5a';
constexpr int kGuardBytes = 16;

// Runs one conversion into the middle of a guarded array and checks that
// nothing outside the text and its NUL was touched.
template <typename Convert>
QByteArray convertGuarded(Convert convert)
{
    char area[kGuardBytes + 32 + kGuardBytes];
    std::memset(area, kGuard, sizeof area);
    char* out = area + kGuardBytes;
    const int len = convert(out);
    const auto untouched = [](const char* from, const char* to) {
        return std::all_of(from, to, [](char c) { return c == kGuard; });
    };
    if (len < 0 || len > 31 || out[len] != '\0')
        return "<bad length or no NUL>";
    if (!untouched(area, out) || !untouched(out + len + 1, area + sizeof area))
        return "<written outside the text and its NUL>";
    return QByteArray(out, len);
}

// 0, ±1, min, max, and every power of ten the type holds with its neighbours
// on both sides, each against std::to_string.
template <typename T>
void addDecimalRows(const char* typeName)
{
    using Limits = std::numeric_limits<T>;
    auto add = [&](const QByteArray& what, T value) {
        QTest::newRow((QByteArray(typeName) + ' ' + what).constData())
            << Produce([value] { return convertGuarded([value](char* out) { return toDecimal(out, value); }); })
            << QByteArray::fromStdString(std::to_string(value));
    };
    add("0", 0);
    add("1", 1);
    add("max", Limits::max());
    if constexpr (Limits::is_signed) {
        add("-1", static_cast<T>(-1));
        add("min", Limits::min());
    }
    T power = 1;
    for (int exponent = 1; power <= Limits::max() / 10; ++exponent) {
        power = static_cast<T>(power * 10);
        const QByteArray e = "10^" + QByteArray::number(exponent);
        add(e + " - 1", static_cast<T>(power - 1));
        add(e, power);
        add(e + " + 1", static_cast<T>(power + 1));
        if constexpr (Limits::is_signed) {
            add("-" + e + " + 1", static_cast<T>(-(power - 1)));
            add("-" + e, static_cast<T>(-power));
            add("-" + e + " - 1", static_cast<T>(-power - 1));
        }
    }
}

// A FormattedValue streamed into an empty stream, against snprintf.
template <typename T>
void addFormattedRow(const char* typeName, const char* format, T value)
{
    char expected[64];
    std::snprintf(expected, sizeof expected, format, value);
    QTest::newRow(qPrintable(QStringLiteral("formatted %1 %2").arg(QLatin1String(typeName), QLatin1String(format))))
        << kLineCapacity << StreamFeed([format, value](LogStream& s) { s << FormattedValue(format, value); })
        << QByteArray(expected);
}

// A cheap, repeatable source of bit patterns.
std::uint64_t scrambled(int index)
{
    std::uint64_t x = 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(index + 1);
    x ^= x >> 31;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 29;
    return x;
}

QByteArray contentOf(const LogStream& stream)
{
    return QByteArray(stream.buffer().data(), stream.buffer().length());
}

// Runs `body` in a forked child and returns what it wrote to stderr, or an
// empty array when it did not end by abort().
template <typename Body>
QByteArray stderrOfAbortingChild(Body body)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(file.handle(), 2);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    file.seek(0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT ? file.readAll() : QByteArray();
}

// Every operation of either capacity; both live on the heap (the bulk one is 4 MB).
template <int N>
void checkLineBuffer()
{
    auto buffer = std::make_unique<LineBuffer<N>>();
    QCOMPARE(buffer->available(), N);
    buffer->append("ab", 2);
    QVERIFY(buffer->asCString() == buffer->data());
    QCOMPARE(QByteArray(buffer->asCString()), QByteArray("ab"));
    std::memcpy(buffer->current(), "xyz", 3);   // formatting in place
    buffer->advance(3);
    QCOMPARE(buffer->toString(), std::string("abxyz"));
    QCOMPARE(buffer->available(), N - 5);

    buffer->reset();
    QCOMPARE(buffer->length(), 0);
    QCOMPARE(buffer->available(), N);
    QCOMPARE(buffer->data()[0], 'a');           // reset does not clear the bytes

    buffer->append("abc", 3);
    buffer->zeroFill();
    QCOMPARE(buffer->toString(), std::string(3, '\0'));   // zeroFill keeps the length
    QCOMPARE(std::count(buffer->data(), buffer->data() + N, '\0'), std::ptrdiff_t(N));
    buffer->append("q", -1);                    // a negative length is never copied
    QCOMPARE(buffer->length(), 3);

    // Full: one byte always stays free for asCString's terminator.
    buffer->reset();
    const std::string almost(static_cast<size_t>(N - 2), 'a');
    buffer->append(almost.data(), N - 2);
    buffer->append("bc", 2);
    buffer->append("b", 1);
    buffer->append("c", 1);
    QCOMPARE(buffer->length(), N - 1);
    const char* text = buffer->asCString();
    QCOMPARE(std::strlen(text), static_cast<size_t>(N - 1));
    QCOMPARE(text[N - 2], 'b');
}

} // namespace

class tst_LogStream : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
    void streamedPiece_data();
    void streamedPiece();
    void doubleTextIsPrintfG12_data();
    void doubleTextIsPrintfG12();
    void endlessFeedKeepsWholePiecesOnly();
    void lineBuffer_data();
    void lineBuffer();
    void assertionTexts_data();
    void assertionTexts();
};

void tst_LogStream::conversion_data()
{
    QTest::addColumn<Produce>("convert");
    QTest::addColumn<QByteArray>("expected");

    addDecimalRows<int>("int");
    addDecimalRows<unsigned int>("unsigned int");
    addDecimalRows<long>("long");
    addDecimalRows<unsigned long>("unsigned long");
    addDecimalRows<long long>("long long");
    addDecimalRows<unsigned long long>("unsigned long long");

    const std::uintptr_t highBit = std::uintptr_t(1) << (sizeof(std::uintptr_t) * 8 - 1);
    for (std::uintptr_t v : {std::uintptr_t(0), std::uintptr_t(1), std::uintptr_t(15), std::uintptr_t(16),
                             std::uintptr_t(0xdeadbeef), highBit, std::numeric_limits<std::uintptr_t>::max()}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%" PRIxPTR, v);
        QTest::newRow(qPrintable(QStringLiteral("hex %1").arg(QLatin1String(expected))))
            << Produce([v] { return convertGuarded([v](char* out) { return toHex(out, v); }); })
            << QByteArray(expected);
    }
}

void tst_LogStream::conversion()
{
    QFETCH(Produce, convert);
    QFETCH(QByteArray, expected);
    QCOMPARE(convert(), expected);
}

void tst_LogStream::doubleTextIsPrintfG12_data()
{
    QTest::addColumn<DoubleAt>("valueAt");
    QTest::addColumn<int>("count");

    // Where "%g" switches between fixed and exponent form, and where 12
    // significant digits round up into another power of ten.
    QTest::newRow("powers of ten and their neighbours") << DoubleAt([](int i) {
        const double power = std::pow(10.0, i / 3 - 330);
        const double sides[3] = {std::nextafter(power, 0.0), power, std::nextafter(power, HUGE_VAL)};
        return sides[i % 3];
    }) << 3 * 640;
    QTest::newRow("rounding into the next power of ten")
        << DoubleAt([](int i) { return (i % 2 ? -1 : 1) * (1.0 - 5e-13) * std::pow(10.0, i / 2 - 20); }) << 80;
    QTest::newRow("halfway at the twelfth digit") << DoubleAt([](int i) { return 100000000000.5 + i; }) << 200;
    QTest::newRow("short decimals") << DoubleAt([](int i) {
        return static_cast<double>(static_cast<std::int64_t>(scrambled(i) % 2000001) - 1000000) / 100.0;
    }) << 20000;
    QTest::newRow("integers up to 2^53")
        << DoubleAt([](int i) { return static_cast<double>(scrambled(i) >> (11 + i % 53)); }) << 20000;
    QTest::newRow("any bit pattern but NaN") << DoubleAt([](int i) {
        double d;
        const std::uint64_t bits = scrambled(i);
        std::memcpy(&d, &bits, sizeof d);
        return std::isnan(d) ? 0.0 : d;
    }) << 50000;
    QTest::newRow("signed zeros and infinities") << DoubleAt([](int i) {
        const double special[4] = {0.0, -0.0, HUGE_VAL, -HUGE_VAL};
        return special[i];
    }) << 4;
}

void tst_LogStream::doubleTextIsPrintfG12()
{
    QFETCH(DoubleAt, valueAt);
    QFETCH(int, count);
    for (int i = 0; i < count; ++i) {
        const double value = valueAt(i);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.12g", value);
        LogStream stream;
        stream << value;
        if (contentOf(stream) != QByteArray(expected)) {
            char bits[40];
            std::snprintf(bits, sizeof bits, "%a", value);
            QFAIL(qPrintable(QStringLiteral("%1 streamed as %2")
                                 .arg(QLatin1String(bits), QLatin1String(contentOf(stream)))));
        }
    }
}

void tst_LogStream::streamedPiece_data()
{
    QTest::addColumn<int>("freeBytes");
    QTest::addColumn<StreamFeed>("feed");
    QTest::addColumn<QByteArray>("appended");

    // Into an empty stream: each integer overload with the value that a wrong
    // width would spoil, and every other kind of piece.
    const int empty = kLineCapacity;
    const auto text = [](auto value) { return QByteArray::fromStdString(std::to_string(value)); };
    QTest::newRow("short min") << empty << FEED(static_cast<short>(SHRT_MIN)) << QByteArray("-32768");
    QTest::newRow("unsigned short max") << empty << FEED(static_cast<unsigned short>(USHRT_MAX)) << QByteArray("65535");
    QTest::newRow("int min") << empty << FEED(INT_MIN) << text(INT_MIN);
    QTest::newRow("unsigned int max") << empty << FEED(UINT_MAX) << text(UINT_MAX);
    QTest::newRow("long min") << empty << FEED(LONG_MIN) << text(LONG_MIN);
    QTest::newRow("unsigned long max") << empty << FEED(ULONG_MAX) << text(ULONG_MAX);
    QTest::newRow("long long min") << empty << FEED(LLONG_MIN) << QByteArray("-9223372036854775808");
    QTest::newRow("unsigned long long max") << empty << FEED(ULLONG_MAX) << QByteArray("18446744073709551615");
    QTest::newRow("bool true as int") << empty << FEED(true) << QByteArray("1");
    QTest::newRow("null pointer") << empty << FEED(static_cast<const void*>(nullptr)) << QByteArray("0x0");
    QTest::newRow("double one third") << empty << FEED(1.0 / 3.0) << QByteArray("0.333333333333");
    QTest::newRow("float 0.5 as double") << empty << FEED(0.5f) << QByteArray("0.5");
    QTest::newRow("char NUL is one byte") << empty << FEED('\0') << QByteArray(1, '\0');
    QTest::newRow("empty text") << empty << FEED("") << QByteArray();
    // A null text appends "(null)" rather than crashing the process.
    QTest::newRow("null text") << empty << FEED(static_cast<const char*>(nullptr)) << QByteArray("(null)");
    QTest::newRow("chained pieces") << empty << FEED("speed=" << 12 << ' ' << -3LL << ' ' << 2.5 << SizedText(" ok", 3))
                                    << QByteArray("speed=12 -3 2.5 ok");

    // One row per FormattedValue constructor.
    addFormattedRow("char", "%c", 'A');
    addFormattedRow("short", "%hd", static_cast<short>(-5));
    addFormattedRow("unsigned short", "%x", static_cast<unsigned short>(65535));
    addFormattedRow("int", "%05d", 42);
    addFormattedRow("unsigned int", "%u", UINT_MAX);
    addFormattedRow("long", "%ld", LONG_MIN);
    addFormattedRow("unsigned long", "%lu", ULONG_MAX);
    addFormattedRow("long long", "%lld", LLONG_MIN);
    addFormattedRow("unsigned long long", "%llx", ULLONG_MAX);
    addFormattedRow("float", "%.3f", 2.5f);
    addFormattedRow("double", "%.10e", -1.0 / 3.0);
    addFormattedRow("int, 31 characters still fit", "%031d", 7);

    // Near the end: a number needs 32 free bytes, whatever its length; any
    // other piece needs one byte more than its length.
    QTest::newRow("int 7, 31 free") << 31 << FEED(7) << QByteArray();
    QTest::newRow("int 7, 32 free") << 32 << FEED(7) << QByteArray("7");
    QTest::newRow("long long min, 32 free") << 32 << FEED(LLONG_MIN) << QByteArray("-9223372036854775808");
    QTest::newRow("pointer, 31 free") << 31 << FEED(reinterpret_cast<const void*>(0xab)) << QByteArray();
    QTest::newRow("pointer, 32 free") << 32 << FEED(reinterpret_cast<const void*>(0xab)) << QByteArray("0xab");
    QTest::newRow("double, 31 free") << 31 << FEED(1.5) << QByteArray();
    QTest::newRow("double, 32 free") << 32 << FEED(1.5) << QByteArray("1.5");
    QTest::newRow("5-byte text, 5 free") << 5 << FEED("abcde") << QByteArray();
    QTest::newRow("5-byte text, 6 free") << 6 << FEED("abcde") << QByteArray("abcde");
    QTest::newRow("5-byte sized text, 5 free") << 5 << FEED(SizedText("abcde", 5)) << QByteArray();
    QTest::newRow("5-byte sized text, 6 free") << 6 << FEED(SizedText("abcde", 5)) << QByteArray("abcde");
    QTest::newRow("formatted 5 bytes, 5 free") << 5 << FEED(FormattedValue("%5d", 1)) << QByteArray();
    QTest::newRow("char, 1 free") << 1 << FEED('z') << QByteArray();
    QTest::newRow("char, 2 free") << 2 << FEED('z') << QByteArray("z");
    QTest::newRow("dropped piece leaves room for a shorter one, 5 free")
        << 5 << FEED("abcde" << "abcd" << 'x') << QByteArray("abcd");
}

void tst_LogStream::streamedPiece()
{
    QFETCH(int, freeBytes);
    QFETCH(StreamFeed, feed);
    QFETCH(QByteArray, appended);

    LogStream stream;
    stream << std::string(static_cast<size_t>(kLineCapacity - freeBytes), 'f').c_str();
    QCOMPARE(stream.buffer().available(), freeBytes);
    const QByteArray before = contentOf(stream);
    feed(stream);
    QCOMPARE(contentOf(stream), before + appended);
}

void tst_LogStream::endlessFeedKeepsWholePiecesOnly()
{
    // Pieces of every kind and many lengths, fed far past the capacity: after
    // each one the content grew by exactly that piece or did not change.
    LogStream stream;
    QByteArray model;
    int accepted = 0;
    int dropped = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray piece;
        const unsigned long long big = static_cast<unsigned long long>(i) * 0x9e3779b97f4a7c15ULL;
        char text[32];
        switch (i % 6) {
        case 0: piece = QByteArray(1 + (i * 7) % 23, char('a' + i % 26)); stream << piece.constData(); break;
        case 1: piece = QByteArray::number(-(i % 2000) * 1000003); stream << -(i % 2000) * 1000003; break;
        case 2: piece = QByteArray::number(big); stream << big; break;
        case 3: std::snprintf(text, sizeof text, "%.12g", i / 7.0); piece = text; stream << i / 7.0; break;
        case 4: piece = ","; stream << ','; break;
        case 5: piece = "0x" + QByteArray::number(i, 16); stream << reinterpret_cast<const void*>(std::uintptr_t(i));
        }
        const QByteArray now = contentOf(stream);
        if (now == model + piece) {
            model = now;
            ++accepted;
        } else {
            QCOMPARE(now, model);
            ++dropped;
        }
    }
    QVERIFY(accepted > 0 && dropped > 0);
    for (int i = 0; i < kLineCapacity; ++i)
        stream << '.';
    QCOMPARE(stream.buffer().length(), kLineCapacity - 1);
}

void tst_LogStream::lineBuffer_data()
{
    QTest::addColumn<Check>("check");
    QTest::newRow("line capacity") << Check(&checkLineBuffer<kLineCapacity>);
    QTest::newRow("bulk capacity") << Check(&checkLineBuffer<kBulkCapacity>);
}

void tst_LogStream::lineBuffer()
{
    QFETCH(Check, check);
    check();
}

void tst_LogStream::assertionTexts_data()
{
    QTest::addColumn<StreamFeed>("breakContract");
    QTest::addColumn<QByteArray>("assertionText");

    const QByteArray sizedText("strlen(str) == len_");
    QTest::newRow("sized text shorter than its length") << FEED(SizedText("abc", 4)) << sizedText;
    QTest::newRow("sized text longer than its length") << FEED(SizedText("abc", 2)) << sizedText;
    QTest::newRow("formatted value of 32 characters")
        << FEED(FormattedValue("%032d", 1)) << QByteArray("static_cast<size_t>(length_) < sizeof buf_");
}

void tst_LogStream::assertionTexts()
{
#ifdef NDEBUG
    QSKIP("assertions are compiled out in this build type (NDEBUG); a Debug build checks them");
#endif
    QFETCH(StreamFeed, breakContract);
    QFETCH(QByteArray, assertionText);
    const QByteArray text = stderrOfAbortingChild([breakContract] {
        LogStream stream;
        breakContract(stream);
    });
    QVERIFY2(text.contains(assertionText), text.constData());
}

QTEST_MAIN(tst_LogStream)
#include "tst_logstream.moc"
