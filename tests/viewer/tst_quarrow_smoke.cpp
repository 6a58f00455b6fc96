// Starts the real Quarrow binary on a private Xvfb server in a temporary
// folder, waits for its window, closes it the way a desktop does
// (WM_DELETE_WINDOW) and expects a clean exit with code 0: in its working
// folder (--here, as scripts/run starts it), with a log file named on the
// command line or by the machine's setting, which the title names and
// nothing changes, and as the desktop's menu starts it without a setting,
// when nothing is made in the working folder (the user's home there).
// And on the offscreen platform: a viewer killed while it shows a file whose
// last write was cut off leaves its private copy, which the next start removes.
#include <functional>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "BuiltPath.h"
#include "InterruptedWrite.h"
#include "TestDatabase.h"
#include "XWindow.h"

namespace {

const int kStartTimeoutMs = 60000; // generous: sanitizer builds start slowly

// Xvfb chooses a free display itself and writes its number to -displayfd.
QString startXvfb(QProcess& server)
{
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(QStringLiteral("Xvfb"),
                 QStringLiteral("-displayfd 1 -screen 0 1024x768x24 -noreset -nolisten tcp").split(QLatin1Char(' ')));
    if (!server.waitForStarted(kStartTimeoutMs))
        return QString();
    QByteArray number;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!number.contains('\n') && server.waitForReadyRead(int(deadline.remainingTime())))
        number += server.readAllStandardOutput();
    number = number.trimmed();
    return number.isEmpty() ? QString() : QStringLiteral(":") + QString::fromLatin1(number);
}

QByteArray checksumOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

// A process that is ended, if still running, when it goes out of scope.
struct Process : QProcess
{
    ~Process() override
    {
        if (state() == NotRunning)
            return;
        terminate();
        if (!waitForFinished(10000))
            kill();
        waitForFinished(10000);
    }
};

} // namespace

class tst_QuarrowSmoke : public QObject
{
    Q_OBJECT

private slots:
    void startsShowsItsWindowAndClosesCleanly_data();
    void startsShowsItsWindowAndClosesCleanly();
    void copyOfAKilledViewerGoesAtTheNextStart();
};

void tst_QuarrowSmoke::startsShowsItsWindowAndClosesCleanly_data()
{
    QTest::addColumn<QStringList>("arguments"); // FILE stands for a log file the test makes
    QTest::addColumn<QByteArray>("setting");    // the machine's setting file; null: none
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("ownLog");           // ./dbLog.db made in the working folder
    const QString named = QStringLiteral("系统日志查询工具 - 另一台机器.db");
    QTest::newRow("in its working folder") << QStringList{"--here"} << QByteArray() << QStringLiteral("系统日志查询工具")
                                           << true;
    QTest::newRow("with a log file named") << QStringList{"FILE"} << QByteArray() << named << false;
    QTest::newRow("from the menu, the setting naming the log")
        << QStringList{"--machine-log"} << QByteArray("QUARROW_LOG=FILE\n") << named << false;
    QTest::newRow("from the menu without a setting") << QStringList{"--machine-log"} << QByteArray()
                                                     << QStringLiteral("系统日志查询工具") << false;
}

void tst_QuarrowSmoke::startsShowsItsWindowAndClosesCleanly()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, setting);
    QFETCH(QString, title);
    QFETCH(bool, ownLog);
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QFAIL("Xvfb is not installed (scripts/deps installs it)");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QTemporaryDir machine;
    QVERIFY(machine.isValid());
    const QString path = machine.filePath(QStringLiteral("另一台机器.db"));
    {
        TestDatabase log(path);
        QVERIFY(log.exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                        "datetime DATETIME, type INT, message TEXT)")));
        QVERIFY(log.insertRow(QStringLiteral("2024-05-01 09:00:00"), 3, QStringLiteral("报警")));
    }
    const QByteArray checksum = checksumOf(path);
    arguments.replaceInStrings(QStringLiteral("FILE"), path);
    const QString settingFile = machine.filePath(QStringLiteral("quarrow.conf"));
    if (!setting.isNull()) {
        QFile file(settingFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(setting.replace("FILE", path.toUtf8()));
    }

    Process server;
    const QString display = startXvfb(server);
    QVERIFY2(!display.isEmpty(), "Xvfb did not report a display");

    Process viewer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // A bare test server: no session bus to start (libdbus would try to
    // autolaunch one and keeps buffers of its own), no OpenGL drivers to load.
    // Neither is used by the viewer; both only bring in leaks of other libraries.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
    // Read only by a ThreadSanitizer build: the xcb plugin's D-Bus thread hands
    // memory over under Qt's futex locks, which the tool cannot see, so calls
    // made from Qt's uninstrumented code are left unchecked in the viewer too.
    QStringList tsanOptions = env.value(QStringLiteral("TSAN_OPTIONS")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    tsanOptions << QStringLiteral("ignore_noninstrumented_modules=1");
    env.insert(QStringLiteral("TSAN_OPTIONS"), tsanOptions.join(QLatin1Char(':')));
    env.insert(QStringLiteral("QUARROW_CONF"), settingFile);
    viewer.setProcessEnvironment(env);
    viewer.setWorkingDirectory(folder.path());
    viewer.setProcessChannelMode(QProcess::ForwardedChannels);
    viewer.start(vxtest::built(QUARROW_BINARY), arguments);
    QVERIFY2(viewer.waitForStarted(kStartTimeoutMs), qPrintable(viewer.errorString()));

    // Declared last, so closed before the server goes: Xlib ends the process
    // when a connection's server disappears under it.
    XWindow x(display);
    QVERIFY(x.connected());
    const unsigned long window = x.waitForTitle(title, kStartTimeoutMs);
    QVERIFY2(window, qPrintable(QStringLiteral("no window titled %1 appeared").arg(title)));
    QCOMPARE(viewer.state(), QProcess::Running);
    QVERIFY(x.requestClose(window));
    QVERIFY2(viewer.waitForFinished(kStartTimeoutMs), "the viewer did not end after its window was closed");
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), 0);

    // The log service worked in its working folder: the store is there, no
    // settings written; with a named file there is no service and no store,
    // and the file is as it was.
    QCOMPARE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("dbLog.db"))), ownLog);
    QVERIFY(!QFile::exists(QDir(folder.path()).filePath(QStringLiteral("Quarrow.ini"))));
    QCOMPARE(checksumOf(path), checksum);
}

namespace {

QStringList copyFolders(const QString& temp)
{
    return QDir(temp).entryList({QStringLiteral("vxSyslog-copy-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
}

// The one copy in `temp`, made completely: its lock, and the file rolled back
// (no journal left beside it).
// Waits, in real time, until `done` holds or `ms` have passed (a loaded
// sanitizer run can make QTRY's counted steps run out early).
// True as soon as `done` is: a state seen once may pass (a copy being made
// looks whole for a moment before its journal arrives).
bool holdsWithin(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
}

bool copyIsMade(const QString& temp)
{
    const QStringList folders = copyFolders(temp);
    if (folders.size() != 1)
        return false;
    const QDir copy(QDir(temp).filePath(folders.first()));
    return copy.exists(QStringLiteral("owner.lock")) && copy.exists(QStringLiteral("dbLog.db"))
           && !copy.exists(QStringLiteral("dbLog.db-journal"));
}

} // namespace

void tst_QuarrowSmoke::copyOfAKilledViewerGoesAtTheNextStart()
{
    QTemporaryDir folder;
    QTemporaryDir temp;
    QVERIFY(folder.isValid() && temp.isValid());
    const QString path = folder.filePath(QStringLiteral("plc-7.db"));
    {
        TestDatabase log(path);
        QVERIFY(log.exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                        "datetime DATETIME, type INT, message TEXT)")));
        QVERIFY(log.insertRow(QStringLiteral("2024-05-01 09:00:00"), 3, QStringLiteral("报警")));
    }
    leaveInterruptedWrite(path);
    if (QTest::currentTestFailed())
        return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    // This row is about the copy's files, not threads. Under the thread
    // checker the viewer meets hand-overs inside Qt and glibc the tool cannot
    // see (tests/support/tsan.supp names those known); here it reports any
    // on its standard error and goes on instead of stopping, so that the
    // row still checks the copy. The threaded tests keep stopping at a race.
    if (env.contains(QStringLiteral("TSAN_OPTIONS")))
        env.insert(QStringLiteral("TSAN_OPTIONS"), env.value(QStringLiteral("TSAN_OPTIONS")) + QStringLiteral(":halt_on_error=0"));

    Process shown;
    shown.setProcessEnvironment(env);
    shown.setWorkingDirectory(folder.path());
    shown.start(vxtest::built(QUARROW_BINARY), {path});
    QVERIFY2(shown.waitForStarted(kStartTimeoutMs), qPrintable(shown.errorString()));
    QVERIFY(holdsWithin([&temp] { return copyIsMade(temp.path()); }, kStartTimeoutMs));
    shown.kill();
    QVERIFY(shown.waitForFinished(kStartTimeoutMs));
    const QStringList left = copyFolders(temp.path());
    QCOMPARE(left.size(), 1);

    Process next;
    next.setProcessEnvironment(env);
    next.setWorkingDirectory(folder.path());
    next.start(vxtest::built(QUARROW_BINARY), QStringList());
    QVERIFY2(next.waitForStarted(kStartTimeoutMs), qPrintable(next.errorString()));
    QVERIFY2(holdsWithin([&temp] { return copyFolders(temp.path()).isEmpty(); }, kStartTimeoutMs),
             qPrintable(copyFolders(temp.path()).join(QLatin1Char(' '))));
    QCOMPARE(next.state(), QProcess::Running);
}

QTEST_MAIN(tst_QuarrowSmoke)
#include "tst_quarrow_smoke.moc"
