#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "BuiltPath.h"

// A line finished in a static object's destructor, while the process exits,
// reaches the output installed at that moment and the process exits cleanly.
// Runs the helper linked both ways: against vxSyslog::vxSyslog (static or
// shared, as built) and against the static internal library, where the
// library's own static objects are constructed after the helper's global.
class tst_LogExit : public QObject
{
    Q_OBJECT

private slots:
    void lineLoggedDuringExitReachesTheInstalledOutput_data();
    void lineLoggedDuringExitReachesTheInstalledOutput();
};

void tst_LogExit::lineLoggedDuringExitReachesTheInstalledOutput_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("expected");

    const QMap<QString, QString> programs{{QStringLiteral("library"), vxtest::built(LOGEXIT_HELPER)},
                                          {QStringLiteral("static objects"), vxtest::built(LOGEXIT_HELPER_STATIC)}};
    for (auto it = programs.cbegin(); it != programs.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        QTest::newRow(name + ", nothing installed") << it.value() << QStringLiteral("stdout")
                                                    << QByteArray("logged at exit 42\n");
        QTest::newRow(name + ", after the service") << it.value() << QStringLiteral("session")
                                                    << QByteArray("logged at exit 42\n");
        QTest::newRow(name + ", program's sink") << it.value() << QStringLiteral("sink")
                                                 << QByteArray("the program's own output function, type 3: logged at exit 42\n");
    }
}

void tst_LogExit::lineLoggedDuringExitReachesTheInstalledOutput()
{
    QFETCH(QString, program);
    QFETCH(QString, mode);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess helper;
    helper.setWorkingDirectory(dir.path());
    helper.start(program, {mode});
    QVERIFY2(helper.waitForFinished(60000), qPrintable(helper.errorString()));
    const QByteArray errors = helper.readAllStandardError();
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit, errors.constData());
    QVERIFY2(helper.exitCode() == 0, errors.constData());
    // The line logged in main went to the service, not here.
    QCOMPARE(helper.readAllStandardOutput(), expected);
}

QTEST_MAIN(tst_LogExit)
#include "tst_logexit.moc"
