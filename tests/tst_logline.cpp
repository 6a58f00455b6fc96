#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StdoutCapture.h"
#include "vxLogging.h"

using namespace SystemLog;

// Taken during static initialisation, before main, like the level itself.
static const int g_levelBeforeMain = LogLine::level();

using BuildLine = void (*)();
Q_DECLARE_METATYPE(BuildLine)

namespace {

struct OutputCall
{
    int type;
    QByteArray text;
};

// Installs a sink that records every line, from any thread, and puts standard
// output back when it goes.
class SinkRecorder
{
public:
    SinkRecorder()
    {
        LogLine::setSink([this](int type, const char* text, int length) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back({type, QByteArray(text, length)});
        });
    }
    ~SinkRecorder() { LogLine::setSink(SinkFunc()); }

    std::vector<OutputCall> calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::vector<OutputCall> m_calls;
};

// Sets TZ for the duration of one check; the previous value comes back after.
class TimeZoneOverride
{
public:
    explicit TimeZoneOverride(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (m_hadOld)
            m_old = old;
        set(zone);
    }
    ~TimeZoneOverride()
    {
        if (m_hadOld)
            set(m_old.c_str());
        else {
            unsetenv("TZ");
            tzset();
        }
    }
    static void set(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }

private:
    bool m_hadOld = false;
    std::string m_old;
};

// The bytes appendTime adds to an empty line.
QByteArray timeTextOfLine()
{
    SinkRecorder recorder;
    LogLine line(4);
    line.appendTime();
    const LogStream::Buffer& content = line.stream().buffer();
    return QByteArray(content.data(), content.length());
}

QByteArray utcText(std::time_t seconds)
{
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S\n", &utc);
    return QByteArray(text);
}

// Waits for the clock to reach a new second. Every cache, of this thread or any
// other, then holds an older second, so the next appendTime converts afresh,
// and a short check that starts now ends within the same second.
std::time_t startOfNewSecond()
{
    const std::time_t last = std::time(nullptr);
    std::time_t now = last;
    while (now == last) {
        QTest::qSleep(5);
        now = std::time(nullptr);
    }
    return now;
}

// A line holding only the time: the time text, then the line's own newline.
const QRegularExpression kTimeOnlyLine(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\n\\n$"));

} // namespace

class tst_LogLine : public QObject
{
    Q_OBJECT

private slots:
    // First: it needs the output function that was installed before main.
    void lineBeforeAnySinkGoesToStdout();
    void writeToStdoutWritesExactlyLength();

    void levelBeforeMainIsFour();
    void levelIsFourWhateverTheTraceVariable_data();
    void levelIsFourWhateverTheTraceVariable();
    void levelIsOnlyStored();
    void lineNeverCallsFlush();

    void lineOutput_data();
    void lineOutput();
    void typeNamesTable();

    void timeIsFormattedOncePerSecondPerThread();
    void timeFromTwoThreadsAtOnce();
};

void tst_LogLine::lineBeforeAnySinkGoesToStdout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("stdout.txt"));

    StdoutCapture capture(path);
    {
        LogLine line(3, "motor");
        line.stream() << 42 << ' ' << -1.5;
    }
    const QByteArray beforeSink = capture.finish();
    QCOMPARE(beforeSink, QByteArray("motor 42 -1.5\n"));

    StdoutCapture captureAfter(path);
    {
        SinkRecorder recorder;
        LogLine(1, "elsewhere");
        QCOMPARE(int(recorder.calls().size()), 1);
    }
    QCOMPARE(captureAfter.finish(), QByteArray());
}

void tst_LogLine::writeToStdoutWritesExactlyLength()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    StdoutCapture capture(dir.filePath(QStringLiteral("stdout.txt")));
    writeToStdout(9, "abc", 2);
    writeToStdout(0, "zzz", 0);
    writeToStdout(0, "x\0y", 3);
    QCOMPARE(capture.finish(), QByteArray("abx\0y", 5));
}

void tst_LogLine::levelBeforeMainIsFour()
{
    QCOMPARE(g_levelBeforeMain, 4);
}

void tst_LogLine::levelIsFourWhateverTheTraceVariable_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("value");

    QTest::newRow("VXLOG_TRACE unset") << false << QString();
    QTest::newRow("VXLOG_TRACE=1") << true << QStringLiteral("1");
    QTest::newRow("VXLOG_TRACE=0") << true << QStringLiteral("0");
    QTest::newRow("VXLOG_TRACE empty") << true << QString();
    QTest::newRow("VXLOG_TRACE=9") << true << QStringLiteral("9");
}

void tst_LogLine::levelIsFourWhateverTheTraceVariable()
{
    QFETCH(bool, set);
    QFETCH(QString, value);

    // The level is settled before main, so each environment needs a fresh
    // process: this binary again, running only the check of that level.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VXLOG_TRACE"));
    if (set)
        env.insert(QStringLiteral("VXLOG_TRACE"), value);

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("levelBeforeMainIsFour")});
    QVERIFY(child.waitForFinished(120000));
    const QByteArray report = child.readAll();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, report.constData());
    QVERIFY2(report.contains("PASS   : tst_LogLine::levelBeforeMainIsFour()"), report.constData());
}

void tst_LogLine::levelIsOnlyStored()
{
    SinkRecorder recorder;
    LogLine::setLevel(1);
    const int afterSet = LogLine::level();
    LogLine(4, "info").stream() << 7;
    LogLine(0, "params").stream() << 7;
    LogLine::setLevel(4);

    QCOMPARE(afterSet, 1);
    const std::vector<OutputCall> calls = recorder.calls();
    QCOMPARE(int(calls.size()), 2);
    QCOMPARE(calls[0].type, 4);
    QCOMPARE(calls[0].text, QByteArray("info 7\n"));
    QCOMPARE(calls[1].type, 0);
    QCOMPARE(calls[1].text, QByteArray("params 7\n"));
}

void tst_LogLine::lineNeverCallsFlush()
{
    int flushes = 0;
    LogLine::setFlushSink([&flushes] { ++flushes; });
    {
        SinkRecorder recorder;
        for (int type = -1; type <= 5; ++type)
            LogLine(type, "t");
        QCOMPARE(int(recorder.calls().size()), 7);
    }
    LogLine::setFlushSink(FlushSinkFunc());
    QCOMPARE(flushes, 0);
}

void tst_LogLine::lineOutput_data()
{
    QTest::addColumn<BuildLine>("build");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("no type, no values") << BuildLine([] { LogLine(); }) << 4 << QByteArray("\n");
    QTest::newRow("type only") << BuildLine([] { LogLine(1); }) << 1 << QByteArray("\n");
    QTest::newRow("type 2 with text abc") << BuildLine([] { LogLine(2, "abc"); }) << 2
                                          << QByteArray("abc \n");
    QTest::newRow("type 3, x and 5 streamed")
        << BuildLine([] { LogLine(3).stream() << "x" << 5; }) << 3 << QByteArray("x5\n");
    QTest::newRow("text then values")
        << BuildLine([] { LogLine(0, "speed").stream() << 12 << "rpm"; }) << 0
        << QByteArray("speed 12rpm\n");
    QTest::newRow("null text") << BuildLine([] { LogLine(1, nullptr); }) << 1
                               << QByteArray("(null) \n");
    QTest::newRow("type 9 outside 0..4") << BuildLine([] { LogLine(9, "x"); }) << 9
                                         << QByteArray("x \n");
    QTest::newRow("type -7 outside 0..4") << BuildLine([] { LogLine(-7); }) << -7 << QByteArray("\n");

    static const std::string k3998(3998, 'c');
    static const std::string k3999(3999, 'c');
    QTest::newRow("3998 bytes of content keep the newline")
        << BuildLine([] { LogLine(2).stream() << k3998.c_str(); }) << 2
        << QByteArray::fromStdString(k3998 + "\n");
    QTest::newRow("3999 bytes of content lose the newline")
        << BuildLine([] { LogLine(2).stream() << k3998.c_str() << 'c'; }) << 2
        << QByteArray::fromStdString(k3999);
    QTest::newRow("text of 3997 and its space fill 3998")
        << BuildLine([] { LogLine(4, std::string(3997, 't').c_str()); }) << 4
        << QByteArray::fromStdString(std::string(3997, 't') + " \n");
}

void tst_LogLine::lineOutput()
{
    QFETCH(BuildLine, build);
    QFETCH(int, type);
    QFETCH(QByteArray, text);

    SinkRecorder recorder;
    build();
    const std::vector<OutputCall> calls = recorder.calls();
    QCOMPARE(int(calls.size()), 1);
    QCOMPARE(calls[0].type, type);
    QCOMPARE(calls[0].text.size(), text.size());
    QCOMPARE(calls[0].text, text);
}

void tst_LogLine::typeNamesTable()
{
    const char* const expected[6] = {"params ", "user ", "status  ", "warn  ", "info ", "num "};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(QByteArray(LogLine::kLogTypeNames[i]), QByteArray(expected[i]));
}

void tst_LogLine::timeIsFormattedOncePerSecondPerThread()
{
    // A change of time zone becomes visible only when the time is converted
    // again. Within one second the cached text must stay; another thread has
    // its own cache and converts for itself; the next second converts again.
    TimeZoneOverride zone("UTC0");
    for (int attempt = 0; attempt < 5; ++attempt) {
        TimeZoneOverride::set("UTC0");
        const std::time_t before = startOfNewSecond();
        const QByteArray inUtc = timeTextOfLine();
        TimeZoneOverride::set("ABC-5");
        const QByteArray cached = timeTextOfLine();
        QByteArray otherThread;
        std::thread([&otherThread] { otherThread = timeTextOfLine(); }).join();
        const bool sameSecond = std::time(nullptr) == before;
        if (sameSecond) {
            QCOMPARE(inUtc, utcText(before));
            QCOMPARE(cached, inUtc);
            QCOMPARE(otherThread, utcText(before + 5 * 3600));

            const std::time_t now = startOfNewSecond();
            const QByteArray converted = timeTextOfLine();
            if (std::time(nullptr) == now) {
                QCOMPARE(converted, utcText(now + 5 * 3600));
                return;
            }
        }
    }
    QFAIL("no try fell within one second");
}

void tst_LogLine::timeFromTwoThreadsAtOnce()
{
    // Both threads format and read their time text at the same time; under
    // ThreadSanitizer a shared, unlocked cache shows up as a race.
    constexpr int kLinesPerThread = 2000;
    SinkRecorder recorder;
    auto writeLines = [](int type) {
        for (int i = 0; i < kLinesPerThread; ++i) {
            LogLine line(type);
            line.appendTime();
        }
    };
    std::thread first(writeLines, 1);
    std::thread second(writeLines, 2);
    first.join();
    second.join();

    const std::vector<OutputCall> calls = recorder.calls();
    QCOMPARE(int(calls.size()), 2 * kLinesPerThread);
    int perType[3] = {0, 0, 0};
    for (const OutputCall& call : calls) {
        QVERIFY(call.type == 1 || call.type == 2);
        ++perType[call.type];
        QVERIFY2(kTimeOnlyLine.match(QString::fromLatin1(call.text)).hasMatch(), call.text.constData());
    }
    QCOMPARE(perType[1], kLinesPerThread);
    QCOMPARE(perType[2], kLinesPerThread);
}

QTEST_MAIN(tst_LogLine)
#include "tst_logline.moc"
