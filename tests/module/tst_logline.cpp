#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "StdoutCapture.h"
#include <vxSyslog/vxLogging.h>

using namespace SystemLog;

// Taken during static initialisation, before main, like the level itself.
static const int g_levelBeforeMain = LogLine::level();

using BuildLine = void (*)();
Q_DECLARE_METATYPE(BuildLine)

namespace {

// Installs a sink that records every line, from any thread, as its type, a
// space and its text, and puts standard output back when it goes.
class SinkRecorder
{
public:
    SinkRecorder()
    {
        LogLine::setSink([this](int type, const char* text, int length) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.append(QByteArray::number(type) + ' ' + QByteArray(text, length));
        });
    }
    ~SinkRecorder() { LogLine::setSink(SinkFunc()); }

    QByteArrayList calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    QByteArrayList m_calls;
};

void setTimeZone(const char* zone)
{
    qputenv("TZ", zone);
    tzset();
}

// The bytes appendTime adds to an empty line.
QByteArray timeTextOfLine()
{
    SinkRecorder recorder;
    LogLine line(4);
    line.appendTime();
    return QByteArray(line.stream().buffer().data(), line.stream().buffer().length());
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
// and a short check that starts now ends within the same second. The short
// sleeps only poll the clock; a clock that stands still for five seconds ends
// the wait, and the caller's comparisons then fail.
std::time_t startOfNewSecond()
{
    const std::time_t last = std::time(nullptr);
    const QDeadlineTimer deadline(5000);
    while (std::time(nullptr) == last && !deadline.hasExpired())
        QTest::qSleep(5);
    return std::time(nullptr);
}

} // namespace

class tst_LogLine : public QObject
{
    Q_OBJECT

private slots:
    // First: it needs the output function that was installed before main.
    void defaultOutputIsStdout();
    void levelBeforeMainIsFour();
    void levelIsFourWhateverTheTraceVariable_data();
    void levelIsFourWhateverTheTraceVariable();
    void levelAndFlushAreOnlyStored();
    void lineOutput_data();
    void lineOutput();
    void typeNamesTable();
    void timeIsFormattedOncePerSecondPerThread();
    void timeFromTwoThreadsAtOnce();
};

void tst_LogLine::defaultOutputIsStdout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("stdout.txt"));

    StdoutCapture capture(path);
    LogLine(3, "motor").stream() << 42 << ' ' << -1.5;
    writeToStdout(9, "abc", 2);     // exactly `length` bytes, NULs included
    writeToStdout(0, "zzz", 0);
    writeToStdout(0, "x\0y", 3);
    QCOMPARE(capture.finish(), QByteArray("motor 42 -1.5\nabx\0y", 19));

    StdoutCapture captureAfter(path);
    {
        SinkRecorder recorder;
        LogLine(1, "elsewhere");
        QCOMPARE(recorder.calls(), QByteArrayList{"1 elsewhere \n"});
    }
    QCOMPARE(captureAfter.finish(), QByteArray());
}

void tst_LogLine::levelBeforeMainIsFour()
{
    QCOMPARE(g_levelBeforeMain, 4);
}

void tst_LogLine::levelIsFourWhateverTheTraceVariable_data()
{
    QTest::addColumn<QString>("value");   // null: not set at all
    QTest::newRow("VXLOG_TRACE unset") << QString();
    QTest::newRow("VXLOG_TRACE empty") << QString(QLatin1String(""));
    QTest::newRow("VXLOG_TRACE=0") << QStringLiteral("0");
    QTest::newRow("VXLOG_TRACE=1") << QStringLiteral("1");
    QTest::newRow("VXLOG_TRACE=9") << QStringLiteral("9");
}

void tst_LogLine::levelIsFourWhateverTheTraceVariable()
{
    QFETCH(QString, value);

    // The level is settled before main, so each environment needs a fresh
    // process: this binary again, running only the check of that level.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VXLOG_TRACE"));
    if (!value.isNull())
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

void tst_LogLine::levelAndFlushAreOnlyStored()
{
    // A level of 1 filters nothing, and no line calls the flush function.
    int flushes = 0;
    LogLine::setFlushSink([&flushes] { ++flushes; });
    QByteArrayList calls;
    {
        SinkRecorder recorder;
        LogLine::setLevel(1);
        QCOMPARE(LogLine::level(), 1);
        LogLine(4, "info").stream() << 7;
        LogLine(0, "params").stream() << 7;
        LogLine::setLevel(4);
        calls = recorder.calls();
    }
    LogLine::setFlushSink(FlushSinkFunc());
    QCOMPARE(flushes, 0);
    QCOMPARE(calls, QByteArrayList({"4 info 7\n", "0 params 7\n"}));
}

void tst_LogLine::lineOutput_data()
{
    QTest::addColumn<BuildLine>("build");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("text");

    static const std::string k3997(3997, 't');
    static const std::string k3998(3998, 'c');
    QTest::newRow("no type, no values") << BuildLine([] { LogLine(); }) << 4 << QByteArray("\n");
    QTest::newRow("type only") << BuildLine([] { LogLine(1); }) << 1 << QByteArray("\n");
    QTest::newRow("type with text") << BuildLine([] { LogLine(2, "abc"); }) << 2 << QByteArray("abc \n");
    QTest::newRow("text then values")
        << BuildLine([] { LogLine(0, "speed").stream() << 12 << "rpm"; }) << 0 << QByteArray("speed 12rpm\n");
    QTest::newRow("null text") << BuildLine([] { LogLine(1, nullptr); }) << 1 << QByteArray("(null) \n");
    QTest::newRow("type 9 outside 0..4") << BuildLine([] { LogLine(9, "x"); }) << 9 << QByteArray("x \n");
    QTest::newRow("type -7 outside 0..4") << BuildLine([] { LogLine(-7); }) << -7 << QByteArray("\n");
    QTest::newRow("3998 bytes of content keep the newline")
        << BuildLine([] { LogLine(2).stream() << k3998.c_str(); }) << 2 << QByteArray::fromStdString(k3998 + "\n");
    QTest::newRow("3999 bytes of content lose the newline")
        << BuildLine([] { LogLine(2).stream() << k3998.c_str() << 'c'; }) << 2
        << QByteArray::fromStdString(k3998 + "c");
    QTest::newRow("text of 3997 and its space fill 3998")
        << BuildLine([] { LogLine(4, k3997.c_str()); }) << 4 << QByteArray::fromStdString(k3997 + " \n");
}

void tst_LogLine::lineOutput()
{
    QFETCH(BuildLine, build);
    QFETCH(int, type);
    QFETCH(QByteArray, text);

    SinkRecorder recorder;
    build();
    QCOMPARE(recorder.calls(), QByteArrayList{QByteArray::number(type) + ' ' + text});
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
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const QByteArray oldZone = qgetenv("TZ");
    const auto restoreZone = qScopeGuard([hadZone, oldZone] {
        if (hadZone)
            qputenv("TZ", oldZone);
        else
            qunsetenv("TZ");
        tzset();
    });
    for (int attempt = 0; attempt < 5; ++attempt) {
        setTimeZone("UTC0");
        const std::time_t before = startOfNewSecond();
        const QByteArray inUtc = timeTextOfLine();
        setTimeZone("ABC-5");
        const QByteArray cached = timeTextOfLine();
        QByteArray otherThread;
        std::thread([&otherThread] { otherThread = timeTextOfLine(); }).join();
        if (std::time(nullptr) != before)
            continue;
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
    QFAIL("no try fell within one second");
}

void tst_LogLine::timeFromTwoThreadsAtOnce()
{
    // Both threads format and read their time text at the same time; under
    // ThreadSanitizer a shared, unlocked cache shows up as a race.
    constexpr int kLinesPerThread = 2000;
    SinkRecorder recorder;
    auto writeLines = [](int type) {
        for (int i = 0; i < kLinesPerThread; ++i)
            LogLine(type).appendTime();
    };
    std::thread first(writeLines, 1);
    std::thread second(writeLines, 2);
    first.join();
    second.join();

    // Each line holds only the time: its text, then the line's own newline.
    const QRegularExpression timeOnly(QStringLiteral("^[12] \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\n\\n$"));
    const QByteArrayList calls = recorder.calls();
    for (const QByteArray& call : calls)
        QVERIFY2(timeOnly.match(QString::fromLatin1(call)).hasMatch(), call.constData());
    QCOMPARE(calls.size(), 2 * kLinesPerThread);
    QCOMPARE(std::count_if(calls.begin(), calls.end(), [](const QByteArray& c) { return c.startsWith('1'); }),
             std::ptrdiff_t(kLinesPerThread));
}

QTEST_MAIN(tst_LogLine)
#include "tst_logline.moc"
