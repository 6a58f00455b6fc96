// The remembered record type: read from ./Quarrow.ini at start-up, written
// only by the day query, and never by start-up, closing or the other actions.
// The machine's log: the log a start without a FILE shows, from the machine's
// setting (QUARROW_LOG= in /etc/quarrow/quarrow.conf) and the working folder.
#include <QSettings>
#include <QtTest>

#include "StartLog.h"

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

const QString kIni = QStringLiteral("Quarrow.ini");

} // namespace

class tst_QuarrowSettings : public QObject
{
    Q_OBJECT

private slots:
    void startUpReadsOnly_data();
    void startUpReadsOnly();
    void dayQueryStoresIndex_data();
    void dayQueryStoresIndex();
    void startShowsTheMachineLog_data();
    void startShowsTheMachineLog();
};

void tst_QuarrowSettings::startUpReadsOnly_data()
{
    QTest::addColumn<QByteArray>("iniText"); // null: no file
    QTest::addColumn<int>("expectedIndex");

    QTest::newRow("no file selects parameter changes") << QByteArray() << 0;
    QTest::newRow("3 selects the alarm records") << QByteArray("comBoxIndex=3\n") << 3;
    QTest::newRow("4, the last entry") << QByteArray("comBoxIndex=4\n") << 4;
    QTest::newRow("5 is every type") << QByteArray("comBoxIndex=5\n") << 5;
    QTest::newRow("6 is past the list, falls back to 0") << QByteArray("comBoxIndex=6\n") << 0;
    QTest::newRow("-1 falls back to 0") << QByteArray("comBoxIndex=-1\n") << 0;
    QTest::newRow("huge value falls back to 0") << QByteArray("comBoxIndex=99999\n") << 0;
    QTest::newRow("text is not a number, counts as 0") << QByteArray("comBoxIndex=abc\n") << 0;
    QTest::newRow("key in a group is not the key") << QByteArray("[other]\ncomBoxIndex=2\n") << 0;
}

// Both lists show the remembered type; starting, a range query, page switches
// and closing leave the file as it was (or absent).
void tst_QuarrowSettings::startUpReadsOnly()
{
    QFETCH(QByteArray, iniText);
    QFETCH(int, expectedIndex);

    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    if (!iniText.isNull()) {
        QFile file(kIni);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(iniText);
    }
    {
        Quarrow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char* name : {"comboBox", "comboBox_2"}) {
            auto* list = window.findChild<QComboBox*>(QString::fromLatin1(name));
            QCOMPARE(list->currentIndex(), expectedIndex);
            QCOMPARE(list->currentText(), caption(expectedIndex));
        }
        window.findChild<QComboBox*>(QStringLiteral("comboBox_2"))->setCurrentIndex(2);
        for (const char* name : {"toolButton", "pushButton_2", "toolButton_2"})
            window.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
        ResultPane* pane = window.findChild<ResultPane*>();
        QTRY_VERIFY_WITH_TIMEOUT(!pane->isBusy(), kQueryTimeoutMs);
        QCOMPARE(pane->toPlainText(), QStringLiteral("没有找到相关记录"));
        QVERIFY(window.close());
    }
    QCOMPARE(QFile::exists(kIni), !iniText.isNull());
    QCOMPARE(fileBytes(kIni), iniText);
}

void tst_QuarrowSettings::dayQueryStoresIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("queryFails");
    QTest::newRow("nothing found, index 2") << 2 << false;
    QTest::newRow("query fails, index 4") << 4 << true;
}

// Stored before the query runs, whatever it finds, and selected in both lists
// on the next start; a later change of the list without a query is not.
void tst_QuarrowSettings::dayQueryStoresIndex()
{
    QFETCH(int, index);
    QFETCH(bool, queryFails);

    Viewer v;
    if (queryFails)
        QVERIFY(v.breakStore());
    v.widget<QComboBox>("comboBox")->setCurrentIndex(index);
    v.click("pushButton");
    QVERIFY(v.queryEnded());
    const QVariant stored = QSettings(QStringLiteral("./Quarrow.ini"), QSettings::IniFormat).value(QStringLiteral("comBoxIndex"));
    QVERIFY(stored.isValid());
    QCOMPARE(stored.toInt(), index);
    QCOMPARE(v.widget<QComboBox>("comboBox_2")->currentIndex(), 0);

    v.widget<QComboBox>("comboBox")->setCurrentIndex(1);
    v.window.reset();
    v.window.reset(new Quarrow);
    QCOMPARE(v.widget<QComboBox>("comboBox")->currentIndex(), index);
    QCOMPARE(v.widget<QComboBox>("comboBox_2")->currentIndex(), index);
}

void tst_QuarrowSettings::startShowsTheMachineLog_data()
{
    QTest::addColumn<QByteArray>("setting"); // %LOG% stands for the machine's log; null: no file
    QTest::addColumn<int>("mode");           // StartLog::Mode
    QTest::addColumn<bool>("ownLog");        // a ./dbLog.db before the start
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("paneSays");   // a piece of the pane's text before a query
    QTest::addColumn<bool>("ownLogAfter");   // ./dbLog.db after the start and a day query
    QTest::addColumn<bool>("listed");        // the day query ran (and so stored its type)

    const int normal = int(StartLog::Mode::Default);
    const int menu = int(StartLog::Mode::MachineLog);
    const int here = int(StartLog::Mode::Here);
    const QString machineTitle = QStringLiteral("系统日志查询工具 - plc-7.db");
    const QString defaultTitle = QStringLiteral("系统日志查询工具");
    const QString notSet = QStringLiteral("QUARROW_LOG=日志文件的完整路径");
    QTest::newRow("the setting names the log") << QByteArray("QUARROW_LOG=%LOG%\n") << normal << false << machineTitle
                                               << QStringLiteral("plc-7.db") << false << true;
    QTest::newRow("the setting wins over ./dbLog.db")
        << QByteArray("# the machine\nQUARROW_LOG = \"%LOG%\"\n") << normal << true << machineTitle << QStringLiteral("plc-7.db")
        << true << true;
    QTest::newRow("menu start with the setting") << QByteArray("QUARROW_LOG=%LOG%\n") << menu << false << machineTitle
                                                 << QStringLiteral("plc-7.db") << false << true;
    QTest::newRow("the last assignment counts") << QByteArray("QUARROW_LOG=/nowhere/a.db\nQUARROW_LOG='%LOG%'\n") << menu
                                                << false << machineTitle << QStringLiteral("plc-7.db") << false << true;
    QTest::newRow("menu start without a setting") << QByteArray() << menu << false << defaultTitle << notSet << false << false;
    QTest::newRow("menu start never reads the home folder's log")
        << QByteArray() << menu << true << defaultTitle << notSet << true << false;
    QTest::newRow("no setting, no ./dbLog.db: nothing is made") << QByteArray() << normal << false << defaultTitle
                                                                << QStringLiteral("当前文件夹中也没有 dbLog.db") << false << false;
    QTest::newRow("a commented or empty line is no setting")
        << QByteArray("#QUARROW_LOG=%LOG%\nQUARROW_LOG=\n") << menu << false << defaultTitle << notSet << false << false;
    QTest::newRow("a relative path is refused") << QByteArray("QUARROW_LOG=dbLog.db\n") << menu << false << defaultTitle
                                                << QStringLiteral("QUARROW_LOG=dbLog.db 不是日志文件的完整路径") << false << false;
    QTest::newRow("no setting: ./dbLog.db as before") << QByteArray() << normal << true << defaultTitle
                                                      << QStringLiteral("dbLog.db") << true << true;
    QTest::newRow("--here makes ./dbLog.db, setting or not") << QByteArray("QUARROW_LOG=%LOG%\n") << here << false
                                                             << defaultTitle << QStringLiteral("dbLog.db") << true << true;
}

// Whatever is shown, only --here and an existing ./dbLog.db (the log service's)
// ever see a file made in the working folder; the machine's log is read-only.
void tst_QuarrowSettings::startShowsTheMachineLog()
{
    QFETCH(QByteArray, setting);
    QFETCH(int, mode);
    QFETCH(bool, ownLog);
    QFETCH(QString, title);
    QFETCH(QString, paneSays);
    QFETCH(bool, ownLogAfter);
    QFETCH(bool, listed);

    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    QTemporaryDir machine;
    QVERIFY(machine.isValid());
    const QString machineLog = machine.filePath(QStringLiteral("plc-7.db"));
    QVERIFY(makeLog(machineLog, {{QStringLiteral("2024-05-01 09:00:00"), 3, QStringLiteral("主轴过热")}}));
    const QByteArray machineBytes = fileBytes(machineLog);
    const QString settingFile = machine.filePath(QStringLiteral("quarrow.conf"));
    if (!setting.isNull()) {
        QFile file(settingFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(setting.replace("%LOG%", machineLog.toUtf8()));
    }
    if (ownLog)
        QVERIFY(makeLog(dir.filePath(QStringLiteral("dbLog.db")), {}));

    {
        Quarrow window(StartLog::choose({}, StartLog::Mode(mode), settingFile, dir.path()));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), title);
        auto* pane = window.findChild<ResultPane*>();
        QVERIFY2(pane->placeholderText().contains(paneSays), qPrintable(pane->placeholderText()));
        window.findChild<QComboBox*>(QStringLiteral("comboBox"))->setCurrentIndex(3);
        window.findChild<QDateEdit*>(QStringLiteral("dateEdit"))->setDate(QDate(2024, 5, 1));
        window.findChild<QAbstractButton*>(QStringLiteral("pushButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!pane->isBusy(), kQueryTimeoutMs);
        if (listed && title.endsWith(QLatin1String("plc-7.db")))
            QCOMPARE(pane->toPlainText(), QStringLiteral("2024-05-01 09:00:00:\n主轴过热"));
        QVERIFY(window.close());
    }
    QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("dbLog.db"))), ownLogAfter);
    QCOMPARE(fileBytes(machineLog), machineBytes);
    // With no log there is no query, so nothing to remember either.
    QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("Quarrow.ini"))), listed);
}

QTEST_MAIN(tst_QuarrowSettings)
#include "tst_quarrow_settings.moc"
