// The window's one slot: which button does what, the day and range queries
// seen through the result pane (bounds included, types, order), copied and
// found in; the not-found and failure notices; Esc and a new query cancel a
// running one; a log file opened by name or dropped is read, never changed;
// page switches leave the pane alone.
#include <QClipboard>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QMimeData>
#include <QStackedWidget>
#include <QtTest>

#include "PaneFindBar.h"

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

const QString kNotFound = QStringLiteral("没有找到相关记录");

// Seeded for every query case, in time order.
const QList<Row> kRows = {
    {"2024-04-30 23:59:59", 1, "day before"},
    {"2024-05-01 00:00:00", 1, "at midnight"},
    {"2024-05-01 00:00:01", 1, "first second"},
    {"2024-05-01 09:30:15", 1, "用户 <b>admin</b> 登录\n来自 a < b && c"},
    {"2024-05-01 10:00:00", 4, "other info"},
    {"2024-05-01 12:00:00", 0, "parameter"},
    {"2024-05-01 23:59:58", 1, "last but one second"},
    {"2024-05-01 23:59:59", 1, "last second"},
    {"2024-05-02 13:00:00", 1, "next day"},
};

QList<Row> rowsWith(const QStringList& messages)
{
    QList<Row> rows;
    for (const Row& row : kRows)
        if (messages.contains(row.message))
            rows << row;
    return rows;
}

// Counts the connections of one of `sender`'s signals. QObject::receivers()
// is protected; naming it through a derived class gives a member pointer
// that works on any QObject.
struct ConnectionCounter : QObject
{
    static int count(const QObject* sender, const char* signal)
    {
        return (sender->*(&ConnectionCounter::receivers))(signal);
    }
};

} // namespace

class tst_QuarrowQuery : public QObject
{
    Q_OBJECT

private slots:
    void eachButtonConnectedOnce();
    void otherSendersDoNothing_data();
    void otherSendersDoNothing();
    void queries_data();
    void queries();
    void typeComesFromItemData();
    void failedQueryIsNotShownAsNotFound();
    void escAndANewQueryCancelTheRunningOne();
    void findAndCopyReadTheListedAnswer();
    void opensALogFileReadOnly_data();
    void opensALogFileReadOnly();
    void pageSwitchesLeaveThePaneAlone();
    void startHint_data();
    void startHint();
};

void tst_QuarrowQuery::eachButtonConnectedOnce()
{
    Viewer v;
    for (const char* name : {"pushButton", "toolButton", "pushButton_2", "toolButton_2", "m_pbExport"})
        QCOMPARE(ConnectionCounter::count(v.widget(name), SIGNAL(clicked(bool))), 1);
    int wired = 0;
    // The pane's find bar and the filter field have buttons of their own.
    for (const QAbstractButton* b : v.window->findChildren<QAbstractButton*>())
        if (!v.pane()->isAncestorOf(b) && !v.widget("filterEdit")->isAncestorOf(b))
            wired += ConnectionCounter::count(b, SIGNAL(clicked(bool)));
    QCOMPARE(wired, 5);
}

void tst_QuarrowQuery::otherSendersDoNothing_data()
{
    QTest::addColumn<QString>("senderName"); // null: the slot is called with no sender
    QTest::newRow("name differs in case") << QStringLiteral("PushButton");
    QTest::newRow("name with a suffix") << QStringLiteral("toolButton_3");
    QTest::newRow("export name with a space") << QStringLiteral("m_pbExport ");
    QTest::newRow("empty name") << QStringLiteral("");
    QTest::newRow("no sender") << QString();
}

void tst_QuarrowQuery::otherSendersDoNothing()
{
    QFETCH(QString, senderName);
    Viewer v;
    QVERIFY(v.seed(kRows));
    v.pane()->showRecords({{QStringLiteral("earlier"), QStringLiteral("result")}});
    v.widget<QDateEdit>("dateEdit")->setDate(kDay);

    ModalDriver modals;
    QPushButton stranger;
    stranger.setObjectName(senderName);
    QObject::connect(&stranger, &QPushButton::clicked, v.window.get(), &Quarrow::onButtonClicked);
    if (senderName.isNull())
        QVERIFY(QMetaObject::invokeMethod(v.window.get(), "onButtonClicked"));
    else
        stranger.click();
    QCoreApplication::processEvents();

    QCOMPARE(v.pane()->toPlainText(), QStringLiteral("earlier:\nresult"));
    QCOMPARE(v.widget<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("Quarrow.ini")));
    QCOMPARE(modals.seen().size(), 0);
}

void tst_QuarrowQuery::queries_data()
{
    QTest::addColumn<bool>("range");
    QTest::addColumn<QDateTime>("start"); // the day of a day query
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("expected"); // messages, in order; none: the not-found notice

    const QDateTime day(kDay, QTime());
    QTest::newRow("day: the day's records of the type, both ends included")
        << false << day << QDateTime() << 1
        << QStringList{"at midnight", "first second", kRows[3].message, "last but one second", "last second"};
    QTest::newRow("day: another type") << false << day << QDateTime() << 0 << QStringList{"parameter"};
    QTest::newRow("day: nothing of the type") << false << day << QDateTime() << 2 << QStringList();
    QTest::newRow("day: nothing on the day") << false << QDateTime(QDate(2024, 5, 3), QTime()) << QDateTime() << 1
                                             << QStringList();
    QTest::newRow("range: both bounds included, across midnight")
        << true << at("2024-05-01 00:00:01") << at("2024-05-02 13:00:00") << 1
        << QStringList{"first second", kRows[3].message, "last but one second", "last second", "next day"};
    QTest::newRow("range: type from its own list, not the day list")
        << true << at("2024-04-30 00:00:00") << at("2024-05-03 00:00:00") << 4 << QStringList{"other info"};
    QTest::newRow("range: start after end finds nothing")
        << true << at("2024-05-03 00:00:00") << at("2024-04-30 00:00:00") << 1 << QStringList();
    QTest::newRow("range: nothing between") << true << at("2024-05-01 12:00:00") << at("2024-05-01 23:59:57") << 1
                                            << QStringList();
}

// The pane's earlier content is replaced; records come in the 18 px font,
// one paragraph per line, exactly as logged; the notice in the 30 px font.
void tst_QuarrowQuery::queries()
{
    QFETCH(bool, range);
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, end);
    QFETCH(int, type);
    QFETCH(QStringList, expected);

    Viewer v;
    QVERIFY(v.seed(kRows));
    v.pane()->showRecords({{QStringLiteral("earlier"), QStringLiteral("content\n")}});
    if (range)
        QVERIFY(v.queryRange(start, end, type));
    else
        QVERIFY(v.queryDay(start.date(), type));

    QVERIFY(!QApplication::overrideCursor()); // the busy cursor went with the query
    const QString text = expected.isEmpty() ? kNotFound : blocks(rowsWith(expected));
    QCOMPARE(v.pane()->toPlainText(), text);
    QCOMPARE(v.pane()->recordCount(), expected.isEmpty() ? 1 : expected.size());
    const int pixelSize = expected.isEmpty() ? 30 : 18;
    QCOMPARE(v.pane()->font().pixelSize(), pixelSize);

    QApplication::clipboard()->clear();
    QTest::keyClick(v.pane(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(v.pane(), Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->text(), text, kQueryTimeoutMs);
}

void tst_QuarrowQuery::typeComesFromItemData()
{
    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 10:00:00", 7, "type seven"}, {"2024-05-01 10:00:00", 0, "type zero"}}));
    v.widget<QComboBox>("comboBox")->setItemData(0, 7, Qt::UserRole);
    QVERIFY(v.queryDay(kDay, 0));
    QCOMPARE(v.pane()->toPlainText(), blocks({{"2024-05-01 10:00:00", 7, "type seven"}}));
}

void tst_QuarrowQuery::failedQueryIsNotShownAsNotFound()
{
    Viewer v;
    QVERIFY(v.breakStore());
    QVERIFY(v.queryDay(kDay, 0));
    const QString shown = v.pane()->toPlainText();
    QVERIFY2(shown.startsWith(QStringLiteral("查询失败：")) && shown.contains(QStringLiteral("SystemInfo")),
             qPrintable(shown));
    QCOMPARE(v.pane()->font().pixelSize(), 30);

    QVERIFY(v.queryRange(at("2024-05-01 00:00:00"), at("2024-05-02 00:00:00"), 0));
    QVERIFY2(v.pane()->toPlainText().startsWith(QStringLiteral("查询失败：")), qPrintable(v.pane()->toPlainText()));
}

// The store is locked by another program, so a query provably runs (waiting
// for the lock) when it is cancelled; it shows the busy cursor meanwhile.
void tst_QuarrowQuery::escAndANewQueryCancelTheRunningOne()
{
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    const QList<Row> rows = {{"2024-05-01 10:00:00", 0, "zero"}, {"2024-05-01 10:00:00", 1, "one"}};
    QVERIFY(v.seed(rows));
    TestDatabase locker(v.dir.filePath(QStringLiteral("dbLog.db")));
    QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));

    v.selectDay(kDay, 1);
    v.click("pushButton");
    QVERIFY(v.pane()->isBusy());
    QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    QTest::keyClick(v.window.get(), Qt::Key_Escape);
    QVERIFY(!v.pane()->isBusy());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(v.pane()->toPlainText(), QStringLiteral("查询已取消"));

    v.click("pushButton");
    v.selectDay(kDay, 0);
    v.click("pushButton"); // cancels the one before, still waiting for the lock
    QVERIFY(locker.exec(QStringLiteral("COMMIT")));
    QVERIFY(v.queryEnded());
    QCOMPARE(v.pane()->toPlainText(), blocks({rows.first()}));
}

// Ctrl+F and Ctrl+C on a listed answer are read by the worker, by id.
void tst_QuarrowQuery::findAndCopyReadTheListedAnswer()
{
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    QList<Row> rows;
    for (int i = 0; i < 600; ++i)
        rows << Row{QTime(8, 0).addSecs(i).toString(QStringLiteral("2024-05-01 hh:mm:ss")), 2,
                    (i == 40 || i == 520) ? QStringLiteral("报警号 4001 Overload") : QStringLiteral("状态 %1").arg(i)};
    QVERIFY(v.seed(rows));
    QVERIFY(v.queryDay(kDay, 2));
    ResultPane* pane = v.pane();

    QTest::keyClick(pane, Qt::Key_F, Qt::ControlModifier);
    auto* edit = pane->findBar()->findChild<QLineEdit*>(QStringLiteral("findText"));
    edit->setText(QStringLiteral("overload"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(pane->selectedText(), QStringLiteral("Overload"), kQueryTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!pane->isBusy(), kQueryTimeoutMs);
    QVERIFY(pane->firstVisibleRecord() <= 40 && 40 <= pane->lastVisibleRecord());
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!pane->isBusy() && pane->firstVisibleRecord() > 40, kQueryTimeoutMs);
    QVERIFY(pane->firstVisibleRecord() <= 520 && 520 <= pane->lastVisibleRecord());
    edit->setText(QStringLiteral("no such words"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(pane->findBar()->statusText(), QStringLiteral("未找到"), kQueryTimeoutMs);

    QApplication::clipboard()->clear();
    QTest::keyClick(pane, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->text(), blocks(rows), kQueryTimeoutMs);
}

namespace {

QByteArray checksumOf(const QString& path)
{
    return QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha256);
}

// A file dropped onto the window, as a file manager drops it.
void dropOnto(QWidget* window, const QString& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint point(window->width() / 2, window->height() - 50);
    QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
}

} // namespace

void tst_QuarrowQuery::opensALogFileReadOnly_data()
{
    QTest::addColumn<QString>("kind"); // "log", "foreign" or "garbage"
    QTest::addColumn<bool>("dropped");
    QTest::addColumn<QString>("shown"); // the pane's text, or the start of it
    QTest::newRow("a log file, named") << "log" << false << blocks({{"2024-05-01 09:00:00", 3, "来自另一台机器"}});
    QTest::newRow("a log file, dropped") << "log" << true << blocks({{"2024-05-01 09:00:00", 3, "来自另一台机器"}});
    QTest::newRow("another program's database") << "foreign" << false
                                                << "查询失败：文件不是日志数据库（没有可用的 SystemInfo 表）";
    QTest::newRow("not a database") << "garbage" << true << "查询失败：文件不是数据库";
}

// Queries read the file; ./dbLog.db, where the service runs, is not read.
void tst_QuarrowQuery::opensALogFileReadOnly()
{
    QFETCH(QString, kind);
    QFETCH(bool, dropped);
    QFETCH(QString, shown);
    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 09:00:00", 3, "本机记录"}}));
    const QString path = v.dir.filePath(QStringLiteral("from-elsewhere.db"));
    if (kind == QLatin1String("garbage")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("SQLite format 3 but not really\n").repeated(100));
    } else {
        TestDatabase other(path);
        QVERIFY(other.exec(kind == QLatin1String("log") ? QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY "
                                                                         "AUTOINCREMENT, datetime DATETIME, type INT, message TEXT)")
                                                        : QStringLiteral("CREATE TABLE parts(id INTEGER, name TEXT)")));
        if (kind == QLatin1String("log"))
            QVERIFY(other.insertRow(QStringLiteral("2024-05-01 09:00:00"), 3, QStringLiteral("来自另一台机器")));
    }
    const QByteArray before = checksumOf(path);
    // No journal or other file appears beside the databases.
    const QStringList files = QDir(v.dir.path()).entryList({QStringLiteral("*.db*")}, QDir::Files);

    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    if (dropped)
        dropOnto(v.window.get(), path);
    else
        v.window->openLogFile(path);
    QCOMPARE(v.window->windowTitle(), QStringLiteral("系统日志查询工具 - from-elsewhere.db"));
    QVERIFY(v.queryDay(kDay, 3));
    QVERIFY2(v.pane()->toPlainText().startsWith(shown), qPrintable(v.pane()->toPlainText()));
    QVERIFY(v.queryRange(at("2024-05-01 00:00:00"), at("2024-05-02 00:00:00"), 3));
    QVERIFY2(v.pane()->toPlainText().startsWith(shown), qPrintable(v.pane()->toPlainText()));
    v.window.reset();
    QCOMPARE(checksumOf(path), before);
    QCOMPARE(QDir(v.dir.path()).entryList({QStringLiteral("*.db*")}, QDir::Files), files);
}

void tst_QuarrowQuery::pageSwitchesLeaveThePaneAlone()
{
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    auto* stack = v.widget<QStackedWidget>("stackedWidget");
    const QList<Row> row = {{"2024-05-01 10:00:00", 0, "day result"}};
    QVERIFY(v.seed(row));
    QVERIFY(v.queryDay(kDay, 0));
    QCOMPARE(v.pane()->toPlainText(), blocks(row));

    v.click("toolButton");
    QCOMPARE(stack->currentIndex(), 1);
    QVERIFY(v.widget("page_2")->isVisible() && !v.widget("page")->isVisible());
    QCOMPARE(v.pane()->toPlainText(), blocks(row));
    QCOMPARE(v.pane()->font().pixelSize(), 18);

    // The range page starts at the day chosen on the day page.
    QCOMPARE(v.widget<QDateTimeEdit>("m_startdateTimeEdit")->dateTime(), QDateTime(kDay, QTime(0, 0)));
    QCOMPARE(v.widget<QDateTimeEdit>("m_enddateTimeEdit")->dateTime(), QDateTime(kDay, QTime(23, 59, 59)));
    v.widget<QDateTimeEdit>("m_startdateTimeEdit")->setDateTime(QDateTime(kDay.addDays(1), QTime(0, 0)));
    v.widget<QDateTimeEdit>("m_enddateTimeEdit")->setDateTime(QDateTime(kDay.addDays(1), QTime(23, 59, 59)));
    v.click("pushButton_2"); // nothing on the next day
    QVERIFY(v.queryEnded());
    v.click("toolButton_2");
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(v.widget("page")->isVisible());
    QCOMPARE(v.pane()->toPlainText(), kNotFound);
    QCOMPARE(v.pane()->font().pixelSize(), 30);
    QCOMPARE(v.widget<QDateEdit>("dateEdit")->date(), kDay);

    v.click("pushButton"); // records again after the notice: the record font again
    QVERIFY(v.queryEnded());
    QCOMPARE(v.pane()->toPlainText(), blocks(row));
    QCOMPARE(v.pane()->font().pixelSize(), 18);
}

void tst_QuarrowQuery::startHint_data()
{
    QTest::addColumn<QString>("step"); // what the operator does first
    QTest::addColumn<QString>("file"); // the file the hint then names; empty: no hint
    QTest::newRow("nothing yet: names ./dbLog.db") << "" << "dbLog.db";
    QTest::newRow("a file opened: names it") << "open" << "other.db";
    QTest::newRow("a day query ends it") << "day" << "";
    QTest::newRow("a range query ends it") << "range" << "";
    QTest::newRow("a file opened after a query: names it") << "day+open" << "other.db";
}

// The hint is drawn, never text of the pane: select-all and copy give nothing
// while it shows, and a query's own text once it is gone.
void tst_QuarrowQuery::startHint()
{
    QFETCH(QString, step);
    QFETCH(QString, file);
    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 09:00:00", 3, "记录"}}));
    const QString other = v.dir.filePath(QStringLiteral("other.db"));
    QVERIFY(QFile::copy(v.dir.filePath(QStringLiteral("dbLog.db")), other));
    if (step.startsWith(QLatin1String("day")))
        QVERIFY(v.queryDay(kDay, 3));
    if (step == QLatin1String("range"))
        QVERIFY(v.queryRange(at("2024-05-01 00:00:00"), at("2024-05-02 00:00:00"), 3));
    if (step.endsWith(QLatin1String("open")))
        v.window->openLogFile(other);

    const QString hint = v.pane()->placeholderText();
    if (file.isEmpty()) {
        QCOMPARE(hint, QString());
        QCOMPARE(v.pane()->toPlainText(), blocks({{"2024-05-01 09:00:00", 3, "记录"}}));
        return;
    }
    QVERIFY2(hint.contains(QStringLiteral("查询")), qPrintable(hint));
    QVERIFY2(hint.endsWith(QDir::toNativeSeparators(v.dir.filePath(file))), qPrintable(hint));
    QCOMPARE(v.pane()->toPlainText(), QString());
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(v.pane(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(v.pane(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
}

QTEST_MAIN(tst_QuarrowQuery)
#include "tst_quarrow_query.moc"
