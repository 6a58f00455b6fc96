// Log records as RFC 5424 messages: PRI of each type and facility, the time
// stamp with the UTC offset of the machine's zone at that moment (the zone is
// set through TZ), the structured data, and the message with its byte order
// mark, inner line ends and Chinese text.
#include <QtTest>

#include <ctime>

#include <vxSyslog/SyslogFormat.h>

using SystemLog::LogRecord;
using SystemLog::SyslogFormatter;

Q_DECLARE_METATYPE(LogRecord::StoredType)

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

void setTimeZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    tzset();
}

} // namespace

class tst_SyslogFormat : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { setTimeZone(QByteArray()); }
    void formatsRecords_data();
    void formatsRecords();
    void escapesParamValues_data();
    void escapesParamValues();
    void sendsOtherStoredTypesAsStored_data();
    void sendsOtherStoredTypesAsStored();
    void keepsTheMaximumSize_data();
    void keepsTheMaximumSize();
};

void tst_SyslogFormat::formatsRecords_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("facility");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("datetime");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray shanghai("Asia/Shanghai");
    const QByteArray at("2024-05-01 08:30:00");
    const QByteArray stamp(" 2024-05-01T08:30:00+08:00 plc-7 quarrow - ");
    QTest::newRow("param: local0.notice") << shanghai << 16 << 0 << at << QByteArray("进给 800 -> 1200")
        << "<133>1" + stamp + "param [vxlog@32473 id=\"42\" type=\"0\"] " + kBom + "进给 800 -> 1200";
    QTest::newRow("user: local0.info") << shanghai << 16 << 1 << at << QByteArray("login")
        << "<134>1" + stamp + "user [vxlog@32473 id=\"42\" type=\"1\"] " + kBom + "login";
    QTest::newRow("status: local0.info") << shanghai << 16 << 2 << at << QByteArray("homed")
        << "<134>1" + stamp + "status [vxlog@32473 id=\"42\" type=\"2\"] " + kBom + "homed";
    QTest::newRow("alarm: local0.err") << shanghai << 16 << 3 << at << QByteArray("E4001")
        << "<131>1" + stamp + "alarm [vxlog@32473 id=\"42\" type=\"3\"] " + kBom + "E4001";
    QTest::newRow("info: local0.notice") << shanghai << 16 << 4 << at << QByteArray("x")
        << "<133>1" + stamp + "info [vxlog@32473 id=\"42\" type=\"4\"] " + kBom + "x";
    QTest::newRow("unknown type: notice, typeN") << shanghai << 16 << 99 << at << QByteArray("x")
        << "<133>1" + stamp + "type99 [vxlog@32473 id=\"42\" type=\"99\"] " + kBom + "x";
    QTest::newRow("negative type") << shanghai << 16 << -1 << at << QByteArray("x")
        << "<133>1" + stamp + "type-1 [vxlog@32473 id=\"42\" type=\"-1\"] " + kBom + "x";
    QTest::newRow("alarm as local7") << shanghai << 23 << 3 << at << QByteArray("x")
        << "<187>1" + stamp + "alarm [vxlog@32473 id=\"42\" type=\"3\"] " + kBom + "x";
    QTest::newRow("alarm as kern") << shanghai << 0 << 3 << at << QByteArray("x")
        << "<3>1" + stamp + "alarm [vxlog@32473 id=\"42\" type=\"3\"] " + kBom + "x";

    QTest::newRow("Chinese lines, trailing line ends spelled in eol") << shanghai << 16 << 3 << at
        << QByteArray("主轴温度 78.5 °C\r\n超过上限\n\n")
        << "<131>1" + stamp + "alarm [vxlog@32473 id=\"42\" type=\"3\" eol=\"nn\"] " + kBom + "主轴温度 78.5 °C\r\n超过上限";
    QTest::newRow("CR LF at the end") << shanghai << 16 << 3 << at << QByteArray("x\r\n")
        << "<131>1" + stamp + "alarm [vxlog@32473 id=\"42\" type=\"3\" eol=\"rn\"] " + kBom + "x";
    QTest::newRow("bytes that are not UTF-8: as stored, no mark") << shanghai << 16 << 4 << at
        << QByteArray("a\xFF" "b\n")
        << "<133>1" + stamp + "info [vxlog@32473 id=\"42\" type=\"4\" eol=\"n\"] a\xFF" "b";
    QTest::newRow("a NUL byte: U+2400, still UTF-8") << shanghai << 16 << 4 << at << QByteArray("a\0#000b\n", 8)
        << "<133>1" + stamp + "info [vxlog@32473 id=\"42\" type=\"4\" eol=\"n\"] " + kBom + "a\xE2\x90\x80#000b";
    QTest::newRow("empty message: no MSG") << shanghai << 16 << 4 << at << QByteArray("\n")
        << "<133>1" + stamp + "info [vxlog@32473 id=\"42\" type=\"4\" eol=\"n\"]";
    QTest::newRow("structured-data characters in the message stay") << shanghai << 16 << 4 << at
        << QByteArray("a \"] \\ b")
        << "<133>1" + stamp + "info [vxlog@32473 id=\"42\" type=\"4\"] " + kBom + "a \"] \\ b";

    const QByteArray tail(" plc-7 quarrow - alarm [vxlog@32473 id=\"42\" type=\"3\"] " + kBom + "x");
    QTest::newRow("New York, summer") << QByteArray("America/New_York") << 16 << 3 << at << QByteArray("x")
        << "<131>1 2024-05-01T08:30:00-04:00" + tail;
    QTest::newRow("New York, winter") << QByteArray("America/New_York") << 16 << 3 << QByteArray("2024-12-24 23:59:59")
        << QByteArray("x") << "<131>1 2024-12-24T23:59:59-05:00" + tail;
    QTest::newRow("New York, the minute after the clocks went forward") << QByteArray("America/New_York") << 16 << 3
        << QByteArray("2024-03-10 03:00:00") << QByteArray("x") << "<131>1 2024-03-10T03:00:00-04:00" + tail;
    QTest::newRow("New York, a minute the clocks skipped") << QByteArray("America/New_York") << 16 << 3
        << QByteArray("2024-03-10 02:30:00") << QByteArray("x") << "<131>1 2024-03-10T02:30:00-05:00" + tail;
    QTest::newRow("Kolkata, half an hour") << QByteArray("Asia/Kolkata") << 16 << 3 << at << QByteArray("x")
        << "<131>1 2024-05-01T08:30:00+05:30" + tail;
    QTest::newRow("UTC") << QByteArray("UTC") << 16 << 3 << at << QByteArray("x")
        << "<131>1 2024-05-01T08:30:00+00:00" + tail;
    QTest::newRow("a stored time that is no time stamp: as stored in time") << shanghai << 16 << 3 << QByteArray("2024-05-01 8:30")
        << QByteArray("x") << "<131>1 - plc-7 quarrow - alarm [vxlog@32473 id=\"42\" type=\"3\" time=\"2024-05-01 8:30\"] " + kBom + "x";
    QTest::newRow("no stored time at all") << shanghai << 16 << 3 << QByteArray() << QByteArray("x")
        << "<131>1 - plc-7 quarrow - alarm [vxlog@32473 id=\"42\" type=\"3\" time=\"\"] " + kBom + "x";
}

void tst_SyslogFormat::formatsRecords()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, facility);
    QFETCH(int, type);
    QFETCH(QByteArray, datetime);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, expected);
    setTimeZone(zone);

    SyslogFormatter::Options options;
    options.facility = facility;
    options.hostname = "plc-7";
    SyslogFormatter formatter(options);
    LogRecord record;
    record.id = 42;
    record.type = type;
    record.datetime = datetime;
    record.message = message;
    QByteArray out("kept|");
    formatter.append(record, out);
    QCOMPARE(out, "kept|" + expected);

    // The cached offset of one minute is not carried into another.
    record.datetime = "2024-01-15 12:00:00";
    QByteArray january;
    formatter.append(record, january);
    const QByteArray winter = zone == "America/New_York" ? "-05:00" : zone == "Asia/Kolkata" ? "+05:30"
                              : zone == "UTC" ? "+00:00" : "+08:00";
    QVERIFY2(january.contains("2024-01-15T12:00:00" + winter), january.constData());
}

void tst_SyslogFormat::escapesParamValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("4711") << QByteArray("4711");
    QTest::newRow("quote, backslash, bracket") << QByteArray("a\"b\\c]d") << QByteArray("a\\\"b\\\\c\\]d");
    QTest::newRow("only specials") << QByteArray("\"\\]") << QByteArray("\\\"\\\\\\]");
    QTest::newRow("opening bracket and UTF-8 stay") << QByteArray("[报警]") << QByteArray("[报警\\]");
}

void tst_SyslogFormat::escapesParamValues()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, expected);
    QByteArray out;
    SyslogFormatter::appendParamValue(value, out);
    QCOMPARE(out, expected);
}

namespace {

SyslogFormatter::Options boundedTo(int maxSize)
{
    SyslogFormatter::Options options;
    options.hostname = "plc-7";
    options.maxSize = maxSize;
    return options;
}

LogRecord alarm(const QByteArray& message)
{
    LogRecord record;
    record.id = 42;
    record.type = 3;
    record.datetime = "2024-05-01 08:30:00";
    record.message = message;
    return record;
}

// The message up to MSG: "<131>1 … [vxlog@32473 …] ", with the eol that
// the line ends at the end of `message` give it.
QByteArray header(const QByteArray& message = QByteArray())
{
    int text = message.size();
    while (text > 0 && (message.at(text - 1) == '\n' || message.at(text - 1) == '\r'))
        --text;
    SyslogFormatter formatter(boundedTo(0));
    QByteArray out;
    formatter.append(alarm(message.mid(text)), out);
    return out + ' ';
}

} // namespace

void tst_SyslogFormat::sendsOtherStoredTypesAsStored_data()
{
    QTest::addColumn<LogRecord::StoredType>("storedType");
    QTest::addColumn<QByteArray>("typeText");
    QTest::addColumn<QByteArray>("header");  // from MSGID to the structured data
    QTest::newRow("integer beyond int") << LogRecord::StoredType::Number << QByteArray("9999999999")
                                        << QByteArray("type9999999999 [vxlog@32473 id=\"42\" type=\"9999999999\"]");
    QTest::newRow("real") << LogRecord::StoredType::Number << QByteArray("3.5") << QByteArray("- [vxlog@32473 id=\"42\" type=\"3.5\"]");
    QTest::newRow("text, escaped") << LogRecord::StoredType::Text << QByteArray("a]b")
                                   << QByteArray("- [vxlog@32473 id=\"42\" type=\"a\\]b\"]");
    QTest::newRow("NULL") << LogRecord::StoredType::Null << QByteArray() << QByteArray("- [vxlog@32473 id=\"42\" type=\"\"]");
}

void tst_SyslogFormat::sendsOtherStoredTypesAsStored()
{
    QFETCH(LogRecord::StoredType, storedType);
    QFETCH(QByteArray, typeText);
    QFETCH(QByteArray, header);
    setTimeZone("Asia/Shanghai");
    SyslogFormatter formatter(boundedTo(0));
    LogRecord record = alarm("x");
    record.type = 0;
    record.storedType = storedType;
    record.typeText = typeText;
    QByteArray out;
    formatter.append(record, out);
    // Severity notice, whatever the stored value.
    QCOMPARE(out, "<133>1 2024-05-01T08:30:00+08:00 plc-7 quarrow - " + header + " " + kBom + "x");
}

void tst_SyslogFormat::keepsTheMaximumSize_data()
{
    QTest::addColumn<int>("room");  // bytes of the bound left for MSG (with its byte order mark); -1: no bound
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("msg");  // as sent
    const QByteArray ascii(61, 'a');
    QTest::newRow("fits exactly") << 3 + 10 << QByteArray("0123456789") << kBom + "0123456789";
    QTest::newRow("one byte over") << 3 + 60 << ascii << kBom + QByteArray(30, 'a') + "…[截断，原长 61 字节]";
    QTest::newRow("trailing line ends do not count, beyond their eol") << 3 + 10 << QByteArray("0123456789\n\n") << kBom + "0123456789";
    QByteArray chinese;
    for (int i = 0; i < 40; ++i)
        chinese += "温";
    // 31 bytes of room after the marker: ten characters, not a part of the eleventh.
    QTest::newRow("not inside a character") << 3 + 62 << chinese << kBom + chinese.left(30) + "…[截断，原长 120 字节]";
    const QByteArray raw = '\xFF' + QByteArray(99, 'b');
    QTest::newRow("bytes that are not UTF-8: cut anywhere, no mark") << 50 << raw << raw.left(19) + "…[截断，原长 100 字节]";
    QTest::newRow("no bound: 200 kB whole") << -1 << QByteArray(200000, 'x') << kBom + QByteArray(200000, 'x');
}

void tst_SyslogFormat::keepsTheMaximumSize()
{
    QFETCH(int, room);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, msg);
    setTimeZone("Asia/Shanghai");
    const int maxSize = room < 0 ? 0 : header(message).size() + room;
    SyslogFormatter formatter(boundedTo(maxSize));
    QByteArray out;
    const bool cut = formatter.append(alarm(message), out);
    QCOMPARE(out, header(message) + msg);
    QCOMPARE(cut, msg.contains("截断"));
    QVERIFY(maxSize == 0 || out.size() <= maxSize);
}

QTEST_MAIN(tst_SyslogFormat)
#include "tst_syslogformat.moc"
