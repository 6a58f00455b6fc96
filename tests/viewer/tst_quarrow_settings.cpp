// What ./Quarrow.ini remembers: the record type, read at start-up and
// written only by the day query; the day and the range last queried; the
// saved filters. Start-up, page switches and closing write nothing.
// The machine's log: the log a start without a FILE shows, from the machine's
// setting (QUARROW_LOG= in /etc/quarrow/quarrow.conf) and the working folder.
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

#include "StartLog.h"

#include "QuarrowTestSupport.h"
#include "SavedFilters.h"
#include "TypeChooser.h"

using namespace QuarrowTest;

Q_DECLARE_METATYPE(SavedFilter)

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
    void lastDayAndRangeAreRestored_data();
    void lastDayAndRangeAreRestored();
    void savedFiltersRoundTrip_data();
    void savedFiltersRoundTrip();
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

// Both lists show the remembered type; starting, page switches and closing
// leave the file as it was (or absent); a range query adds its range and
// changes nothing else.
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
        for (const char* name : {"toolButton", "toolButton_2", "toolButton"})
            window.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
        QVERIFY(window.close());
        QCOMPARE(QFile::exists(kIni), !iniText.isNull());
        QCOMPARE(fileBytes(kIni), iniText);

        window.findChild<QAbstractButton*>(QStringLiteral("pushButton_2"))->click();
        ResultPane* pane = window.findChild<ResultPane*>();
        QTRY_VERIFY_WITH_TIMEOUT(!pane->isBusy(), kQueryTimeoutMs);
        QCOMPARE(pane->toPlainText(), QStringLiteral("没有找到相关记录"));
    }
    if (!iniText.isNull()) {
        QFile file(QStringLiteral("before.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(iniText);
    }
    const QSettings before(QStringLiteral("before.ini"), QSettings::IniFormat);
    const QSettings after(kIni, QSettings::IniFormat);
    QStringList added = after.allKeys();
    for (const QString& key : before.allKeys()) {
        QCOMPARE(after.value(key), before.value(key));
        added.removeOne(key);
    }
    QCOMPARE(added, (QStringList{"lastRangeEnd", "lastRangeStart"}));
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

void tst_QuarrowSettings::lastDayAndRangeAreRestored_data()
{
    const QDate today = QDate::currentDate();
    QTest::addColumn<QByteArray>("iniText"); // null: a day query and a range query write it
    QTest::addColumn<QDate>("day");           // the day page's day at the next start
    QTest::addColumn<QDateTime>("start");     // the range page's, once shown
    QTest::addColumn<QDateTime>("end");
    QTest::newRow("a past day and a range, as queried")
        << QByteArray() << kDay << at("2024-05-01 08:00:00") << at("2024-05-02 18:30:00");
    QTest::newRow("a day only: the range page starts at it")
        << QByteArray("lastDay=2024-05-01\n") << kDay << QDateTime(kDay, QTime(0, 0)) << QDateTime(kDay, QTime(23, 59, 59));
    QTest::newRow("today stays today, the day after")
        << QByteArray("lastDay=today\n") << today << QDateTime(today, QTime(0, 0)) << QDateTime(today, QTime(23, 59, 59));
    QTest::newRow("a range only: kept when the page is shown")
        << QByteArray("lastRangeStart=2024-05-01 08:00:00\nlastRangeEnd=2024-05-01 09:00:00\n") << today
        << at("2024-05-01 08:00:00") << at("2024-05-01 09:00:00");
    QTest::newRow("hand-edited texts that are no times are passed over")
        << QByteArray("lastDay=yesterday\nlastRangeStart=8:00\nlastRangeEnd=2024-05-01 09:00:00\n") << today
        << QDateTime(today, QTime(0, 0)) << QDateTime(today, QTime(23, 59, 59));
}

void tst_QuarrowSettings::lastDayAndRangeAreRestored()
{
    QFETCH(QByteArray, iniText);
    QFETCH(QDate, day);
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, end);
    Viewer v;
    if (iniText.isNull()) {
        QVERIFY(v.queryRange(start, end, 3));
        QVERIFY(v.queryDay(day, 3));
        const QSettings settings(kIni, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("lastDay")).toString(), day.toString(Qt::ISODate));
        QCOMPARE(settings.value(QStringLiteral("lastRangeStart")).toString(), start.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    } else {
        v.window.reset();
        QFile file(kIni);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(iniText);
    }
    v.window.reset(new Quarrow);
    QCOMPARE(v.widget<QDateEdit>("dateEdit")->date(), day);
    v.click("toolButton");
    QCOMPARE(v.widget<QStackedWidget>("stackedWidget")->currentIndex(), 1);
    QCOMPARE(v.widget<QDateTimeEdit>("m_startdateTimeEdit")->dateTime(), start);
    QCOMPARE(v.widget<QDateTimeEdit>("m_enddateTimeEdit")->dateTime(), end);
}

namespace {

// Answers the name dialog of 保存当前筛选… with `name` (and a question with
// `answer`, where one comes).
QList<SeenModal> saveFilterAs(Viewer& v, const QString& name, QMessageBox::StandardButton answer = QMessageBox::Yes)
{
    QMenu* menu = v.widget<QToolButton>("savedFiltersButton")->menu();
    emit menu->aboutToShow();
    ModalDriver modals({[name](QWidget* modal) {
                            auto* dialog = qobject_cast<QInputDialog*>(modal);
                            QVERIFY(dialog);
                            dialog->setTextValue(name);
                            dialog->accept();
                        },
                        [answer](QWidget* modal) {
                            if (auto* box = qobject_cast<QMessageBox*>(modal))
                                box->button(answer)->click();
                        }});
    menu->findChild<QAction*>(QStringLiteral("saveFilterAction"))->trigger();
    return modals.seen();
}

QAction* menuEntry(QMenu* menu, const QString& text)
{
    emit menu->aboutToShow();
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace

void tst_QuarrowSettings::savedFiltersRoundTrip_data()
{
    QTest::addColumn<QList<SavedFilter>>("saved");  // in turn, from the day page
    QTest::addColumn<QString>("deleted");            // then, if not empty
    QTest::addColumn<QList<SavedFilter>>("stored");  // in the file then, and in a new window's menu
    const SavedFilter alarms{QStringLiteral("报警 主轴"), {3}, QStringLiteral("主轴")};
    const SavedFilter everything{QStringLiteral("全部 motor"), {}, QStringLiteral("motor")};
    const SavedFilter two{QStringLiteral("参数与报警"), {0, 3}, QString()};
    QTest::newRow("one") << QList<SavedFilter>{alarms} << QString() << QList<SavedFilter>{alarms};
    QTest::newRow("every type, several types") << QList<SavedFilter>{everything, two} << QString()
                                               << QList<SavedFilter>{everything, two};
    QTest::newRow("the same name again replaces it")
        << QList<SavedFilter>{alarms, two, SavedFilter{alarms.name, {2}, QStringLiteral("温度")}} << QString()
        << QList<SavedFilter>{SavedFilter{alarms.name, {2}, QStringLiteral("温度")}, two};
    QTest::newRow("one deleted") << QList<SavedFilter>{alarms, everything, two} << everything.name
                                 << QList<SavedFilter>{alarms, two};
    const SavedFilter pattern{QStringLiteral("主轴或电机"), {2}, QStringLiteral("主轴|motor"), true};
    const SavedFilter plain{QStringLiteral("括号"), {2}, QStringLiteral("主轴 温度"), false};
    QTest::newRow("a regular expression stays one, plain text stays plain")
        << QList<SavedFilter>{pattern, plain} << QString() << QList<SavedFilter>{pattern, plain};
}

// Saved from the window, kept in their own group beside comBoxIndex, read by
// the next start, applied from its menu: the types, the filter and a query.
void tst_QuarrowSettings::savedFiltersRoundTrip()
{
    QFETCH(QList<SavedFilter>, saved);
    QFETCH(QString, deleted);
    QFETCH(QList<SavedFilter>, stored);
    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 09:00:00", 2, "motor 主轴 温度"}}));
    for (const SavedFilter& filter : saved) {
        v.window->findChild<TypeChooser*>(QStringLiteral("typeChooser"))->setTypes(filter.types);
        // The switch lists again when there is text; a query would store the type.
        v.widget<QLineEdit>("filterEdit")->clear();
        v.widget<QToolButton>("regexToggle")->setChecked(filter.regex);
        v.widget<QLineEdit>("filterEdit")->setText(filter.filter);
        QVERIFY(!saveFilterAs(v, filter.name).isEmpty());
    }
    if (!deleted.isEmpty()) {
        QMenu* menu = v.widget<QToolButton>("savedFiltersButton")->menu();
        emit menu->aboutToShow();
        ModalDriver modals({[](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click(); }});
        menuEntry(menu->findChild<QMenu*>(QStringLiteral("deleteFilterMenu")), deleted)->trigger();
        QCOMPARE(modals.seen().size(), 1);
    }
    QCOMPARE(SavedFilters(kIni).all(), stored);
    QSettings ini(kIni, QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("comBoxIndex"), -1).toInt(), -1); // no query ran
    QVERIFY(ini.childGroups().contains(SavedFilters::groupName()));

    v.window.reset(new Quarrow);
    v.widget<QDateEdit>("dateEdit")->setDate(kDay);
    QMenu* menu = v.widget<QToolButton>("savedFiltersButton")->menu();
    for (const SavedFilter& filter : stored) {
        QAction* entry = menuEntry(menu, filter.name);
        QVERIFY(entry);
        entry->trigger();
        QVERIFY(v.queryEnded());
        QCOMPARE(v.window->findChild<TypeChooser*>(QStringLiteral("typeChooser"))->types(), filter.types);
        QCOMPARE(v.widget<QLineEdit>("filterEdit")->text(), filter.filter);
        QCOMPARE(v.widget<QToolButton>("regexToggle")->isChecked(), filter.regex);
        QCOMPARE(v.pane()->recordCount(), 1);
    }
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
