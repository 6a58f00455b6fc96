#include <QtTest>

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "LogStream.h"

using namespace SystemLog;

// A row's action on a stream or a value maker, as a plain function so that a
// capture-less lambda can sit in a data table.
using StreamFeed = void (*)(LogStream&);
using MakeFormatted = FormattedValue (*)();
using DoubleAt = double (*)(int index);
Q_DECLARE_METATYPE(StreamFeed)
Q_DECLARE_METATYPE(MakeFormatted)
Q_DECLARE_METATYPE(DoubleAt)

namespace {

enum class IntKind { Int, UInt, Long, ULong, LongLong, ULongLong };

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
    for (int i = 0; i < kGuardBytes; ++i)
        if (area[i] != kGuard)
            return QByteArray("<written before the buffer>");
    if (len < 0 || len > 31 || out[len] != '\0')
        return QByteArray("<bad length or no NUL>");
    for (char* p = out + len + 1; p < area + sizeof area; ++p)
        if (*p != kGuard)
            return QByteArray("<written past the NUL>");
    return QByteArray(out, len);
}

template <typename T>
QByteArray decimalOf(T value)
{
    return convertGuarded([value](char* out) { return toDecimal(out, value); });
}

template <typename T>
void addDecimalRows(IntKind kind, const char* typeName)
{
    auto add = [&](const QByteArray& what, T value) {
        QTest::newRow((QByteArray(typeName) + ' ' + what).constData())
            << kind << static_cast<qint64>(value) << static_cast<quint64>(value)
            << QByteArray::fromStdString(std::to_string(value));
    };
    add("0", 0);
    add("1", 1);
    add("max", std::numeric_limits<T>::max());
    add("max - 1", std::numeric_limits<T>::max() - 1);
    if constexpr (std::numeric_limits<T>::is_signed) {
        add("-1", static_cast<T>(-1));
        add("min", std::numeric_limits<T>::min());
        add("min + 1", std::numeric_limits<T>::min() + 1);
    }
    // Every power of ten the type holds, with its neighbours on both sides.
    T power = 1;
    for (int exponent = 1; power <= std::numeric_limits<T>::max() / 10; ++exponent) {
        power = static_cast<T>(power * 10);
        const QByteArray e = "10^" + QByteArray::number(exponent);
        add(e + " - 1", static_cast<T>(power - 1));
        add(e, power);
        add(e + " + 1", static_cast<T>(power + 1));
        if constexpr (std::numeric_limits<T>::is_signed) {
            add("-" + e + " + 1", static_cast<T>(-(power - 1)));
            add("-" + e, static_cast<T>(-power));
            add("-" + e + " - 1", static_cast<T>(-power - 1));
        }
    }
}

// Fills a stream until exactly `freeBytes` bytes are free.
void fillUntilFree(LogStream& stream, int freeBytes)
{
    const std::string filler(static_cast<size_t>(kLineCapacity - freeBytes), 'f');
    stream << filler.c_str();
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

double fromBits(std::uint64_t bits)
{
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
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
    char path[] = "/tmp/tst_logstream_stderr_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return QByteArray();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 2);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    QFile file(QString::fromLocal8Bit(path));
    QByteArray text;
    if (file.open(QIODevice::ReadOnly))
        text = file.readAll();
    close(fd);
    unlink(path);
    const bool aborted = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
    return aborted ? text : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(IntKind)

class tst_LogStream : public QObject
{
    Q_OBJECT

private slots:
    void digitTables();

    void decimalConversion_data();
    void decimalConversion();
    void hexConversion_data();
    void hexConversion();

    void streamedValues_data();
    void streamedValues();

    void doubleTextIsPrintfG12_data();
    void doubleTextIsPrintfG12();

    void pieceAtFreeSpaceBoundary_data();
    void pieceAtFreeSpaceBoundary();
    void droppedPieceLeavesRoomForShorterOnes();
    void endlessFeedKeepsWholePiecesOnly();

    void lineBufferOperations_data();
    void lineBufferOperations();

    void formattedValue_data();
    void formattedValue();

    void assertionTexts_data();
    void assertionTexts();
};

void tst_LogStream::digitTables()
{
    QCOMPARE(QByteArray(kDigits), QByteArray("9876543210123456789"));
    for (int d = -9; d <= 9; ++d)
        QCOMPARE(kZero[d], static_cast<char>('0' + (d < 0 ? -d : d)));
    QCOMPARE(QByteArray(kHexDigits), QByteArray("0123456789abcdef"));
}

void tst_LogStream::decimalConversion_data()
{
    QTest::addColumn<IntKind>("kind");
    QTest::addColumn<qint64>("signedValue");
    QTest::addColumn<quint64>("unsignedValue");
    QTest::addColumn<QByteArray>("expected");

    addDecimalRows<int>(IntKind::Int, "int");
    addDecimalRows<unsigned int>(IntKind::UInt, "unsigned int");
    addDecimalRows<long>(IntKind::Long, "long");
    addDecimalRows<unsigned long>(IntKind::ULong, "unsigned long");
    addDecimalRows<long long>(IntKind::LongLong, "long long");
    addDecimalRows<unsigned long long>(IntKind::ULongLong, "unsigned long long");
}

void tst_LogStream::decimalConversion()
{
    QFETCH(IntKind, kind);
    QFETCH(qint64, signedValue);
    QFETCH(quint64, unsignedValue);
    QFETCH(QByteArray, expected);

    QByteArray actual;
    switch (kind) {
    case IntKind::Int: actual = decimalOf(static_cast<int>(signedValue)); break;
    case IntKind::UInt: actual = decimalOf(static_cast<unsigned int>(unsignedValue)); break;
    case IntKind::Long: actual = decimalOf(static_cast<long>(signedValue)); break;
    case IntKind::ULong: actual = decimalOf(static_cast<unsigned long>(unsignedValue)); break;
    case IntKind::LongLong: actual = decimalOf(static_cast<long long>(signedValue)); break;
    case IntKind::ULongLong: actual = decimalOf(static_cast<unsigned long long>(unsignedValue)); break;
    }
    QCOMPARE(actual, expected);
}

void tst_LogStream::hexConversion_data()
{
    QTest::addColumn<quint64>("value");

    QTest::newRow("0") << quint64(0);
    QTest::newRow("1") << quint64(1);
    QTest::newRow("15") << quint64(15);
    QTest::newRow("16") << quint64(16);
    QTest::newRow("255") << quint64(255);
    QTest::newRow("256") << quint64(256);
    QTest::newRow("0xdeadbeef") << quint64(0xdeadbeef);
    QTest::newRow("high bit only") << quint64(std::uintptr_t(1) << (sizeof(std::uintptr_t) * 8 - 1));
    QTest::newRow("max") << quint64(std::numeric_limits<std::uintptr_t>::max());
}

void tst_LogStream::hexConversion()
{
    QFETCH(quint64, value);
    const auto v = static_cast<std::uintptr_t>(value);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%" PRIxPTR, v);
    QCOMPARE(convertGuarded([v](char* out) { return toHex(out, v); }), QByteArray(expected));
}

void tst_LogStream::streamedValues_data()
{
    QTest::addColumn<StreamFeed>("feed");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("int 0") << StreamFeed([](LogStream& s) { s << 0; }) << QByteArray("0");
    QTest::newRow("int -1") << StreamFeed([](LogStream& s) { s << -1; }) << QByteArray("-1");
    QTest::newRow("int min") << StreamFeed([](LogStream& s) { s << INT_MIN; })
                             << QByteArray("-2147483648");
    QTest::newRow("long long min") << StreamFeed([](LogStream& s) { s << LLONG_MIN; })
                                   << QByteArray("-9223372036854775808");
    QTest::newRow("unsigned long long max") << StreamFeed([](LogStream& s) { s << ULLONG_MAX; })
                                            << QByteArray("18446744073709551615");
    QTest::newRow("short -5") << StreamFeed([](LogStream& s) { s << static_cast<short>(-5); })
                              << QByteArray("-5");
    QTest::newRow("unsigned short 65535")
        << StreamFeed([](LogStream& s) { s << static_cast<unsigned short>(65535); })
        << QByteArray("65535");
    QTest::newRow("bool true as int") << StreamFeed([](LogStream& s) { s << true; })
                                      << QByteArray("1");

    QTest::newRow("null pointer") << StreamFeed([](LogStream& s) { s << static_cast<const void*>(nullptr); })
                                  << QByteArray("0x0");
    QTest::newRow("pointer 255")
        << StreamFeed([](LogStream& s) { s << reinterpret_cast<const void*>(std::uintptr_t(255)); })
        << QByteArray("0xff");

    QTest::newRow("double 0.1") << StreamFeed([](LogStream& s) { s << 0.1; }) << QByteArray("0.1");
    QTest::newRow("double 100") << StreamFeed([](LogStream& s) { s << 100.0; }) << QByteArray("100");
    QTest::newRow("double one third") << StreamFeed([](LogStream& s) { s << 1.0 / 3.0; })
                                      << QByteArray("0.333333333333");
    QTest::newRow("double -2.5e-300") << StreamFeed([](LogStream& s) { s << -2.5e-300; })
                                      << QByteArray("-2.5e-300");
    QTest::newRow("double infinity")
        << StreamFeed([](LogStream& s) { s << -std::numeric_limits<double>::infinity(); })
        << QByteArray("-inf");
    QTest::newRow("float 0.5 as double") << StreamFeed([](LogStream& s) { s << 0.5f; })
                                         << QByteArray("0.5");

    QTest::newRow("char") << StreamFeed([](LogStream& s) { s << 'x'; }) << QByteArray("x");
    QTest::newRow("char NUL is one byte") << StreamFeed([](LogStream& s) { s << '\0'; })
                                          << QByteArray(1, '\0');
    QTest::newRow("text") << StreamFeed([](LogStream& s) { s << "abc"; }) << QByteArray("abc");
    QTest::newRow("empty text") << StreamFeed([](LogStream& s) { s << ""; }) << QByteArray();
    QTest::newRow("null text") << StreamFeed([](LogStream& s) { s << static_cast<const char*>(nullptr); })
                               << QByteArray("(null)");
    QTest::newRow("sized text") << StreamFeed([](LogStream& s) { s << SizedText("hello", 5); })
                                << QByteArray("hello");
    QTest::newRow("formatted value") << StreamFeed([](LogStream& s) { s << FormattedValue("%05d", 42); })
                                     << QByteArray("00042");
    QTest::newRow("chained")
        << StreamFeed([](LogStream& s) { s << "speed=" << 12 << ' ' << -3LL << ' ' << 2.5 << '!'; })
        << QByteArray("speed=12 -3 2.5!");
}

void tst_LogStream::streamedValues()
{
    QFETCH(StreamFeed, feed);
    QFETCH(QByteArray, expected);

    LogStream stream;
    feed(stream);
    QCOMPARE(contentOf(stream), expected);
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
    QTest::newRow("rounding into the next power of ten") << DoubleAt([](int i) {
        return (i % 2 ? -1 : 1) * (1.0 - 5e-13) * std::pow(10.0, i / 2 - 20);
    }) << 80;
    QTest::newRow("halfway at the twelfth digit") << DoubleAt([](int i) {
        return (100000000000.0 + i) + 0.5;
    }) << 200;
    QTest::newRow("short decimals") << DoubleAt([](int i) {
        return static_cast<double>(static_cast<std::int64_t>(scrambled(i) % 2000001) - 1000000) / 100.0;
    }) << 20000;
    QTest::newRow("integers up to 2^53") << DoubleAt([](int i) {
        return static_cast<double>(scrambled(i) >> (11 + i % 53));
    }) << 20000;
    QTest::newRow("any bit pattern but NaN") << DoubleAt([](int i) {
        const double d = fromBits(scrambled(i));
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

void tst_LogStream::pieceAtFreeSpaceBoundary_data()
{
    QTest::addColumn<int>("freeBytes");
    QTest::addColumn<StreamFeed>("feed");
    QTest::addColumn<QByteArray>("appended");

    const StreamFeed seven = [](LogStream& s) { s << 7; };
    QTest::newRow("int 7, 31 free") << 31 << seven << QByteArray();
    QTest::newRow("int 7, 32 free") << 32 << seven << QByteArray("7");
    QTest::newRow("int 7, 1 free") << 1 << seven << QByteArray();

    const StreamFeed longest = [](LogStream& s) { s << LLONG_MIN; };
    QTest::newRow("long long min, 31 free") << 31 << longest << QByteArray();
    QTest::newRow("long long min, 32 free") << 32 << longest << QByteArray("-9223372036854775808");

    const StreamFeed shortValue = [](LogStream& s) { s << static_cast<unsigned short>(9); };
    QTest::newRow("unsigned short 9, 31 free") << 31 << shortValue << QByteArray();
    QTest::newRow("unsigned short 9, 32 free") << 32 << shortValue << QByteArray("9");

    const StreamFeed pointer = [](LogStream& s) { s << reinterpret_cast<const void*>(std::uintptr_t(0xab)); };
    QTest::newRow("pointer, 31 free") << 31 << pointer << QByteArray();
    QTest::newRow("pointer, 32 free") << 32 << pointer << QByteArray("0xab");

    const StreamFeed real = [](LogStream& s) { s << 1.5; };
    QTest::newRow("double, 31 free") << 31 << real << QByteArray();
    QTest::newRow("double, 32 free") << 32 << real << QByteArray("1.5");

    const StreamFeed five = [](LogStream& s) { s << "abcde"; };
    const StreamFeed fiveSized = [](LogStream& s) { s << SizedText("abcde", 5); };
    QTest::newRow("5-byte text, 5 free") << 5 << five << QByteArray();
    QTest::newRow("5-byte text, 6 free") << 6 << five << QByteArray("abcde");
    QTest::newRow("5-byte sized text, 5 free") << 5 << fiveSized << QByteArray();
    QTest::newRow("5-byte sized text, 6 free") << 6 << fiveSized << QByteArray("abcde");
    QTest::newRow("4-byte text, 5 free") << 5 << StreamFeed([](LogStream& s) { s << "abcd"; })
                                         << QByteArray("abcd");
    QTest::newRow("char, 1 free") << 1 << StreamFeed([](LogStream& s) { s << 'z'; }) << QByteArray();
    QTest::newRow("char, 2 free") << 2 << StreamFeed([](LogStream& s) { s << 'z'; }) << QByteArray("z");
    QTest::newRow("formatted 5 bytes, 5 free")
        << 5 << StreamFeed([](LogStream& s) { s << FormattedValue("%5d", 1); }) << QByteArray();
}

void tst_LogStream::pieceAtFreeSpaceBoundary()
{
    QFETCH(int, freeBytes);
    QFETCH(StreamFeed, feed);
    QFETCH(QByteArray, appended);

    LogStream stream;
    fillUntilFree(stream, freeBytes);
    QCOMPARE(stream.buffer().available(), freeBytes);
    const QByteArray before = contentOf(stream);

    feed(stream);
    QCOMPARE(contentOf(stream), before + appended);
    QCOMPARE(stream.buffer().available(), freeBytes - appended.size());
}

void tst_LogStream::droppedPieceLeavesRoomForShorterOnes()
{
    LogStream stream;
    fillUntilFree(stream, 5);
    stream << "abcde" << "abcd";
    QCOMPARE(stream.buffer().available(), 1);
    QVERIFY(contentOf(stream).endsWith("fabcd"));
    stream << 'x';
    QCOMPARE(stream.buffer().length(), kLineCapacity - 1);
    QVERIFY(contentOf(stream).endsWith("fabcd"));
}

void tst_LogStream::endlessFeedKeepsWholePiecesOnly()
{
    // Pieces of every kind and of many lengths, fed far past the capacity.
    // After each one the content either grew by exactly that piece or did not
    // change, and it never exceeds 3999 bytes.
    LogStream stream;
    QByteArray model;
    int accepted = 0;
    int dropped = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray piece;
        switch (i % 6) {
        case 0: {
            piece = QByteArray(1 + (i * 7) % 23, char('a' + i % 26));
            stream << piece.constData();
            break;
        }
        case 1: {
            const int value = -(i % 2000) * 1000003;
            piece = QByteArray::number(value);
            stream << value;
            break;
        }
        case 2:
            piece = QByteArray::number(static_cast<qulonglong>(i) * 0x9e3779b97f4a7c15ULL);
            stream << static_cast<unsigned long long>(i) * 0x9e3779b97f4a7c15ULL;
            break;
        case 3: {
            char text[32];
            std::snprintf(text, sizeof text, "%.12g", i / 7.0);
            piece = text;
            stream << i / 7.0;
            break;
        }
        case 4:
            piece = QByteArray(1, ',');
            stream << ',';
            break;
        case 5:
            piece = "0x" + QByteArray::number(i, 16);
            stream << reinterpret_cast<const void*>(static_cast<std::uintptr_t>(i));
            break;
        }
        const QByteArray now = contentOf(stream);
        if (now == model + piece) {
            model = now;
            ++accepted;
        } else {
            QCOMPARE(now, model);
            ++dropped;
        }
        QVERIFY(stream.buffer().length() <= kLineCapacity - 1);
    }
    QVERIFY(accepted > 0);
    QVERIFY(dropped > 0);
    while (stream.buffer().length() < kLineCapacity - 1 && stream.buffer().available() > 1)
        stream << '.';
    QCOMPARE(stream.buffer().length(), kLineCapacity - 1);
    stream << '.';
    QCOMPARE(stream.buffer().length(), kLineCapacity - 1);
}

// Drives the same checks through either capacity. The bulk one is 4 MB, so
// both live on the heap.
template <int N>
static void checkLineBufferOperations()
{
    auto buffer = std::make_unique<LineBuffer<N>>();
    QCOMPARE(buffer->length(), 0);
    QCOMPARE(buffer->available(), N);
    QVERIFY(buffer->current() == buffer->data());

    buffer->append("ab", 2);
    QCOMPARE(buffer->length(), 2);
    QCOMPARE(buffer->available(), N - 2);
    QCOMPARE(buffer->toString(), std::string("ab"));
    QVERIFY(buffer->asCString() == buffer->data());
    QCOMPARE(QByteArray(buffer->asCString()), QByteArray("ab"));
    QCOMPARE(buffer->length(), 2);

    // Formatting in place: the caller writes at current(), then advances.
    std::memcpy(buffer->current(), "xyz", 3);
    buffer->advance(3);
    QCOMPARE(buffer->toString(), std::string("abxyz"));

    buffer->reset();
    QCOMPARE(buffer->length(), 0);
    QCOMPARE(buffer->available(), N);
    QCOMPARE(buffer->data()[0], 'a');   // reset does not clear the bytes
    QCOMPARE(buffer->toString(), std::string());

    buffer->append("abc", 3);
    buffer->zeroFill();
    QCOMPARE(buffer->length(), 3);      // zeroFill does not empty the buffer
    int nonZero = 0;
    for (int i = 0; i < N; ++i)
        nonZero += buffer->data()[i] != 0;
    QCOMPARE(nonZero, 0);
    QCOMPARE(buffer->toString(), std::string(3, '\0'));

    buffer->append("q", -1);            // a negative length is never copied
    QCOMPARE(buffer->length(), 3);

    // setMarker may replace the marker at any time; nothing calls through it.
    buffer->setMarker(nullptr);
    QCOMPARE(buffer->length(), 3);
}

template <int N>
static void checkFullBufferStillTerminates()
{
    auto buffer = std::make_unique<LineBuffer<N>>();
    const std::string almost(static_cast<size_t>(N - 2), 'a');
    buffer->append(almost.data(), N - 2);
    buffer->append("bc", 2);            // would leave nothing free: dropped
    QCOMPARE(buffer->length(), N - 2);
    buffer->append("b", 1);
    QCOMPARE(buffer->length(), N - 1);
    QCOMPARE(buffer->available(), 1);
    buffer->append("c", 1);
    QCOMPARE(buffer->length(), N - 1);

    const char* text = buffer->asCString();
    QCOMPARE(std::strlen(text), static_cast<size_t>(N - 1));
    QCOMPARE(text[N - 2], 'b');
    QCOMPARE(buffer->length(), N - 1);
}

void tst_LogStream::lineBufferOperations_data()
{
    QTest::addColumn<int>("capacity");
    QTest::newRow("line capacity") << kLineCapacity;
    QTest::newRow("bulk capacity") << kBulkCapacity;
}

void tst_LogStream::lineBufferOperations()
{
    QFETCH(int, capacity);
    if (capacity == kLineCapacity) {
        checkLineBufferOperations<kLineCapacity>();
        checkFullBufferStillTerminates<kLineCapacity>();
    } else {
        checkLineBufferOperations<kBulkCapacity>();
        checkFullBufferStillTerminates<kBulkCapacity>();
    }
}

void tst_LogStream::formattedValue_data()
{
    QTest::addColumn<MakeFormatted>("make");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("%d int 42") << MakeFormatted([] { return FormattedValue("%d", 42); })
                               << QByteArray("42");
    QTest::newRow("%.3f float 2.5") << MakeFormatted([] { return FormattedValue("%.3f", 2.5f); })
                                    << QByteArray("2.500");
    QTest::newRow("%c char") << MakeFormatted([] { return FormattedValue("%c", 'A'); })
                             << QByteArray("A");
    QTest::newRow("%hd short") << MakeFormatted([] { return FormattedValue("%hd", short(-5)); })
                               << QByteArray("-5");
    QTest::newRow("%x unsigned short")
        << MakeFormatted([] { return FormattedValue("%x", static_cast<unsigned short>(65535)); })
        << QByteArray("ffff");
    QTest::newRow("%ld long min") << MakeFormatted([] { return FormattedValue("%ld", LONG_MIN); })
                                  << QByteArray::fromStdString(std::to_string(LONG_MIN));
    QTest::newRow("%lld long long") << MakeFormatted([] { return FormattedValue("%lld", LLONG_MIN); })
                                    << QByteArray("-9223372036854775808");
    QTest::newRow("%llx unsigned long long")
        << MakeFormatted([] { return FormattedValue("%llx", ULLONG_MAX); })
        << QByteArray("ffffffffffffffff");
    QTest::newRow("31 characters fit")
        << MakeFormatted([] { return FormattedValue("%031d", 7); })
        << QByteArray(30, '0') + '7';
}

void tst_LogStream::formattedValue()
{
    QFETCH(MakeFormatted, make);
    QFETCH(QByteArray, expected);

    const FormattedValue value = make();
    QCOMPARE(value.length(), expected.size());
    QCOMPARE(QByteArray(value.data(), value.length()), expected);
    QCOMPARE(value.data()[value.length()], '\0');

    LogStream stream;
    stream << value;
    QCOMPARE(contentOf(stream), expected);
}

void tst_LogStream::assertionTexts_data()
{
    QTest::addColumn<StreamFeed>("breakContract");
    QTest::addColumn<QByteArray>("assertionText");

    QTest::newRow("sized text shorter than its length")
        << StreamFeed([](LogStream& s) { s << SizedText("abc", 4); })
        << QByteArray("strlen(str) == len_");
    QTest::newRow("sized text longer than its length")
        << StreamFeed([](LogStream& s) { s << SizedText("abc", 2); })
        << QByteArray("strlen(str) == len_");
    QTest::newRow("formatted value of 32 characters")
        << StreamFeed([](LogStream& s) { s << FormattedValue("%032d", 1); })
        << QByteArray("static_cast<size_t>(length_) < sizeof buf_");
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
