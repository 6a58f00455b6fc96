#include <QtTest>

#include <string>
#include <string_view>

#include <vxSyslog/vxLogging.h>

using namespace SystemLog;

namespace {

struct Line
{
    int type;
    QByteArray text;
};

// Records every finished line; puts standard output back when it goes.
class LineRecorder
{
public:
    LineRecorder()
    {
        LogLine::setSink([this](int type, const char* text, int length) {
            m_lines.append({type, QByteArray(text, length)});
        });
    }
    ~LineRecorder() { LogLine::setSink(SinkFunc()); }

    const QVector<Line>& lines() const { return m_lines; }

private:
    QVector<Line> m_lines;
};

const QString kChinese = QStringLiteral("主轴温度过高，请检查冷却液泵与过滤网状态");  // 20 characters
const QString kBeyondBmp = QStringLiteral("刀具\U0001F527更换");                       // a surrogate pair

using Statement = void (*)();
using Piece = void (*)(LogStream&);

} // namespace

Q_DECLARE_METATYPE(Statement)
Q_DECLARE_METATYPE(Piece)

class tst_LogMacros : public QObject
{
    Q_OBJECT

private slots:
    void eachMacroFinishesOneLineOfItsType_data();
    void eachMacroFinishesOneLineOfItsType();
    void levelIsNotConsulted();
    void textPiecesAreUtf8ByteForByte_data();
    void textPiecesAreUtf8ByteForByte();
    void pieceThatDoesNotFitIsDroppedWhole_data();
    void pieceThatDoesNotFitIsDroppedWhole();
};

void tst_LogMacros::eachMacroFinishesOneLineOfItsType_data()
{
    QTest::addColumn<Statement>("statement");
    QTest::addColumn<int>("type");

    QTest::newRow("VXLOG_PARAM") << Statement([] { VXLOG_PARAM << "feed " << 120 << " mm/min"; }) << 0;
    QTest::newRow("VXLOG_USER") << Statement([] { VXLOG_USER << "feed " << 120 << " mm/min"; }) << 1;
    QTest::newRow("VXLOG_STATUS") << Statement([] { VXLOG_STATUS << "feed " << 120 << " mm/min"; }) << 2;
    QTest::newRow("VXLOG_ALARM") << Statement([] { VXLOG_ALARM << "feed " << 120 << " mm/min"; }) << 3;
    QTest::newRow("VXLOG_INFO") << Statement([] { VXLOG_INFO << "feed " << 120 << " mm/min"; }) << 4;
    QTest::newRow("VXLOG(9)") << Statement([] { VXLOG(9) << "feed " << 120 << " mm/min"; }) << 9;
}

void tst_LogMacros::eachMacroFinishesOneLineOfItsType()
{
    QFETCH(Statement, statement);
    QFETCH(int, type);

    LineRecorder recorder;
    statement();
    // The line is finished by the end of the statement, not of the scope.
    QCOMPARE(recorder.lines().size(), 1);
    QCOMPARE(recorder.lines().front().type, type);
    QCOMPARE(recorder.lines().front().text, QByteArray("feed 120 mm/min\n"));
}

void tst_LogMacros::levelIsNotConsulted()
{
    const int saved = LogLine::level();
    LogLine::setLevel(-1);
    {
        LineRecorder recorder;
        VXLOG_PARAM << "still logged";
        QCOMPARE(recorder.lines().size(), 1);
    }
    QCOMPARE(LogLine::level(), -1);
    LogLine::setLevel(saved);
}

void tst_LogMacros::textPiecesAreUtf8ByteForByte_data()
{
    QTest::addColumn<Piece>("piece");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray utf8 = kChinese.toUtf8();
    QTest::newRow("QString") << Piece([](LogStream& s) { s << kChinese; }) << utf8;
    QTest::newRow("QString outside the BMP") << Piece([](LogStream& s) { s << kBeyondBmp; }) << kBeyondBmp.toUtf8();
    QTest::newRow("QString latin") << Piece([](LogStream& s) { s << QStringLiteral("axis X"); }) << QByteArray("axis X");
    QTest::newRow("QString with lone surrogate")
        << Piece([](LogStream& s) { s << (QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b")); })
        << QByteArray("a\xEF\xBF\xBD" "b");
    QTest::newRow("empty QString") << Piece([](LogStream& s) { s << QString(); }) << QByteArray();
    QTest::newRow("QByteArray") << Piece([](LogStream& s) { s << kChinese.toUtf8(); }) << utf8;
    QTest::newRow("string_view") << Piece([](LogStream& s) {
        const std::string text = kChinese.toStdString();
        s << std::string_view(text);
    }) << utf8;
    QTest::newRow("std::string") << Piece([](LogStream& s) { s << kChinese.toStdString(); }) << utf8;
    QTest::newRow("string_view with NUL inside")
        << Piece([](LogStream& s) { s << std::string_view("a\0b", 3); }) << QByteArray("a\0b", 3);
}

void tst_LogMacros::textPiecesAreUtf8ByteForByte()
{
    QFETCH(Piece, piece);
    QFETCH(QByteArray, expected);

    LineRecorder recorder;
    {
        LogLine line(2);
        piece(line.stream());
    }
    QCOMPARE(recorder.lines().size(), 1);
    QCOMPARE(recorder.lines().front().text, expected + '\n');
}

void tst_LogMacros::pieceThatDoesNotFitIsDroppedWhole_data()
{
    QTest::addColumn<Piece>("piece");
    QTest::addColumn<int>("bytes");

    QTest::newRow("QString") << Piece([](LogStream& s) { s << kChinese; }) << 60;
    QTest::newRow("QString outside the BMP") << Piece([](LogStream& s) { s << kBeyondBmp; }) << 16;
    QTest::newRow("QByteArray") << Piece([](LogStream& s) { s << kChinese.toUtf8(); }) << 60;
    QTest::newRow("string_view") << Piece([](LogStream& s) { s << std::string_view("0123456789"); }) << 10;
}

// Fills a stream so that exactly `bytes` are free, then appends the piece:
// it needs one byte to spare, so it is dropped; with one more byte free it fits.
void tst_LogMacros::pieceThatDoesNotFitIsDroppedWhole()
{
    QFETCH(Piece, piece);
    QFETCH(int, bytes);

    for (const int spare : {0, 1}) {
        LogStream stream;
        const std::string filler(static_cast<size_t>(kLineCapacity - bytes - spare), 'x');
        stream << filler;
        QCOMPARE(stream.buffer().available(), bytes + spare);
        piece(stream);
        const int expected = static_cast<int>(filler.size()) + (spare ? bytes : 0);
        QCOMPARE(stream.buffer().length(), expected);
        if (spare)
            continue;
        // What stays after a dropped piece is still a run of whole pieces, and
        // a later piece that fits is still taken.
        QVERIFY(std::string_view(stream.buffer().data(), stream.buffer().length()) == filler);
        stream << "z";
        QCOMPARE(stream.buffer().length(), expected + 1);
    }
}

QTEST_MAIN(tst_LogMacros)
#include "tst_logmacros.moc"
