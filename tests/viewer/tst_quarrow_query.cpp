// The window's one slot: which button does what, the day and range queries
// seen through the result pane (bounds included, types, order), copied and
// found in; the not-found and failure notices; Esc and a new query cancel a
// running one; a log file opened by name or dropped is read, never changed;
// page switches leave the pane alone.
#include <QClipboard>
#include <QLabel>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QMimeData>
#include <QStackedWidget>
#include <QTextCodec>
#include <QtTest>

#include "DateTimeTyping.h"
#include "PaneFindBar.h"

#include "QuarrowTestSupport.h"
#include "ReportPage.h"

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
    void typedRangeIsTheRangeQueried_data();
    void typedRangeIsTheRangeQueried();
    void typeComesFromItemData();
    void failedQueryIsNotShownAsNotFound();
    void escAndANewQueryCancelTheRunningOne();
    void findAndCopyReadTheListedAnswer();
    void invalidBytesReadAsReplacementCharacters_data();
    void invalidBytesReadAsReplacementCharacters();
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
    // The pane's find bar, the filter field and the 统计 page have buttons of
    // their own; 统计 is the sixth.
    for (const QAbstractButton* b : v.window->findChildren<QAbstractButton*>())
        if (!v.pane()->isAncestorOf(b) && !v.widget("filterEdit")->isAncestorOf(b)
            && !v.window->reportPage()->isAncestorOf(b))
            wired += ConnectionCounter::count(b, SIGNAL(clicked(bool)));
    QCOMPARE(ConnectionCounter::count(v.widget("reportButton"), SIGNAL(clicked(bool))), 1);
    QCOMPARE(wired, 6);
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

void tst_QuarrowQuery::typedRangeIsTheRangeQueried_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("entry"); // how the operator enters the field: "tab", "all" (Ctrl+A), "click" (on the hour)
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDateTime>("kept");
    QTest::addColumn<QString>("reason"); // what the field says; empty: nothing, the query runs at once

    const QString end = QStringLiteral("m_enddateTimeEdit");
    const QString start = QStringLiteral("m_startdateTimeEdit");
    QTest::newRow("end: 13:30:00 (was kept as 13:59:30)")
        << end << "tab" << "2026/12/9 13:30:00" << at("2026-12-09 13:30:00") << QString();
    QTest::newRow("end: 13:00:00 (was kept as 13:59:00)")
        << end << "tab" << "2026/12/9 13:00:00" << at("2026-12-09 13:00:00") << QString();
    QTest::newRow("end: a year before (was 2026, 00:59:00)")
        << end << "tab" << "2025/1/1 00:00:00" << at("2025-01-01 00:00:00") << QString();
    QTest::newRow("start: 13:30:00") << start << "tab" << "2026/12/9 13:30:00" << at("2026-12-09 13:30:00") << QString();
    QTest::newRow("start: typed over the whole field")
        << start << "all" << "2026/1/15 08:05:07" << at("2026-01-15 08:05:07") << QString();
    QTest::newRow("end: typed over the whole field")
        << end << "all" << "2024/5/1 23:59:58" << at("2024-05-01 23:59:58") << QString();
    QTest::newRow("start: zero-padded, with hyphens")
        << start << "tab" << "2026-01-05 09:05:00" << at("2026-01-05 09:05:00") << QString();
    QTest::newRow("end: with 年, 月 and 日") << end << "tab" << "2026年3月9日 7:08:09" << at("2026-03-09 07:08:09")
                                             << QString();
    QTest::newRow("end: the time alone, from the hour") << end << "click" << "6:45:30" << QDateTime() << QString();
    QTest::newRow("end: a day February has not is refused, and said")
        << end << "tab" << "2026/2/30 10:00:00" << at("2026-02-03 10:00:00")
        << QStringLiteral("结束时间里不能输入“30”：2026 年 2 月只有 28 天");
    QTest::newRow("start: a minute past 59 is refused, and said")
        << start << "tab" << "2026/12/9 10:61:00" << at("2026-12-09 10:06:00")
        << QStringLiteral("起始时间里不能输入“61”：分钟是 0 到 59");
    QTest::newRow("end: a letter is refused, and said")
        << end << "tab" << "2026/12/9 1x3:00:00" << at("2026-12-09 13:00:00")
        << QStringLiteral("结束时间里不能输入“x”");
    QTest::newRow("end: a year left incomplete is not queried") << end << "tab" << "202" << QDateTime()
                                                                 << QStringLiteral("结束时间“202/12/9 23:59:59”不是完整的日期时间");
}

// The field keeps what is typed, and the range page's query lists exactly
// that period; a key the field refuses is said beside it, and the query
// then waits once, so that it never runs with a time the operator has not
// seen.
void tst_QuarrowQuery::typedRangeIsTheRangeQueried()
{
    QFETCH(QString, field);
    QFETCH(QString, entry);
    QFETCH(QString, typed);
    QFETCH(QDateTime, kept);
    QFETCH(QString, reason);
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    QApplication::setActiveWindow(v.window.get());
    v.widget<QDateEdit>("dateEdit")->setDate(QDate(2026, 12, 9));
    v.click("toolButton");
    auto* editor = v.widget<QDateTimeEdit>(qPrintable(field));
    const QDateTime before = editor->dateTime();
    if (entry == QLatin1String("tab")) {
        editor->setFocus(Qt::TabFocusReason);
    } else if (entry == QLatin1String("all")) {
        editor->setFocus(Qt::TabFocusReason);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    } else {
        editor->setFocus(Qt::MouseFocusReason);
        editor->setSelectedSection(QDateTimeEdit::HourSection);
        kept = QDateTime(before.date(), QTime(6, 45, 30));
    }
    QTRY_VERIFY(editor->hasFocus());
    for (const QChar c : typed) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(editor, c.toLatin1());
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c)); // typed through an input method
        QApplication::sendEvent(editor, &press);
    }
    const auto* typing = editor->findChild<DateTimeTyping*>();
    QVERIFY(typing);
    const auto* hint = v.widget<QLabel>(field == QLatin1String("m_enddateTimeEdit") ? "endTimeHint" : "startTimeHint");

    v.click("pushButton_2");
    if (!reason.isEmpty()) {
        // Said beside the field, and the query waited: nothing listed yet.
        QVERIFY2(typing->reason().startsWith(reason), qPrintable(typing->reason()));
        QCOMPARE(hint->text(), typing->reason());
        QVERIFY(editor->hasFocus());
        QCOMPARE(v.pane()->recordCount(), 0);
        if (!kept.isValid()) {
            QCOMPARE(editor->dateTime(), before);
            return;
        }
        QCOMPARE(editor->dateTime(), kept);
        v.click("pushButton_2"); // seen: the query runs with what the field shows
    }
    QVERIFY(v.queryEnded());
    QCOMPARE(editor->dateTime(), kept);
    const QDateTime startTime = v.widget<QDateTimeEdit>("m_startdateTimeEdit")->dateTime();
    const QDateTime endTime = v.widget<QDateTimeEdit>("m_enddateTimeEdit")->dateTime();
    QCOMPARE(field == QLatin1String("m_enddateTimeEdit") ? endTime : startTime, kept);
    const QString period = QStringLiteral("%1 至 %2").arg(startTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                                                          endTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    QVERIFY2(v.widget<QLabel>("listingLabel")->text().contains(period), qPrintable(v.widget<QLabel>("listingLabel")->text()));
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

void tst_QuarrowQuery::invalidBytesReadAsReplacementCharacters_data()
{
    QTest::addColumn<QByteArray>("stored"); // the message's bytes, as another program may store them
    QTest::addColumn<QString>("shown");     // each byte that begins no character is one U+FFFD
    const QString bad(QChar(0xFFFD));
    QTest::newRow("a character cut short before a blank (E4 B8 20)") << QByteArray("\xE4\xB8 ok") << bad + bad + " ok";
    QTest::newRow("a GBK-encoded message") << QByteArray("\xB1\xA8\xBE\xAF\xBA\xC5 4001") << bad.repeated(6) + " 4001";
    QTest::newRow("a stray continuation byte") << QByteArray("a\x80z") << "a" + bad + "z";
    QTest::newRow("an overlong slash") << QByteArray("\xC0\xAF/") << bad + bad + "/";
    QTest::newRow("a surrogate") << QByteArray("\xED\xA0\x80.") << bad.repeated(3) + ".";
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << bad.repeated(4);
    QTest::newRow("cut short at the end") << QByteArray("end\xE4\xB8") << "end" + bad + bad;
    QTest::newRow("a four-byte character stays whole") << QByteArray("\xF0\x9F\x98\x80!") << QString::fromUcs4(U"\U0001F600!");
    QTest::newRow("a byte-order mark at the start stays") << QByteArray("\xEF\xBB\xBF" "A") << QStringLiteral("\uFEFFA");
}

// In the pane, a copy, a find and the export alike, as vxlog -o json shows them.
void tst_QuarrowQuery::invalidBytesReadAsReplacementCharacters()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    const Row before{"2024-05-01 09:00:00", 3, "报警前"};
    const Row after{"2024-05-01 11:00:00", 3, "报警后"};
    QVERIFY(v.seed({before}));
    QVERIFY(TestDatabase(v.dir.filePath(QStringLiteral("dbLog.db")))
                .exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-05-01 10:00:00', 3, "
                                     "CAST(X'%1' AS TEXT))").arg(QString::fromLatin1(stored.toHex()))));
    QVERIFY(v.seed({after}));
    const QString text = blocks({before, {"2024-05-01 10:00:00", 3, shown}, after});

    QVERIFY(v.queryDay(kDay, 3));
    QCOMPARE(v.pane()->toPlainText(), text);
    QApplication::clipboard()->clear();
    QTest::keyClick(v.pane(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(v.pane(), Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->text(), text, kQueryTimeoutMs);
    v.pane()->scrollToRecord(0);
    v.pane()->find(shown);
    QTRY_COMPARE_WITH_TIMEOUT(v.pane()->selectedText(), shown, kQueryTimeoutMs);

    const QString folder = v.dir.filePath(QStringLiteral("exports"));
    QCOMPARE(exportEveryTypeOf(v, kDay, folder),
             QTextCodec::codecForLocale()->fromUnicode(
                 QStringLiteral("2024-05-01 09:00:00 [报警记录]:\n报警前\n2024-05-01 10:00:00 [报警记录]:\n%1\n"
                                "2024-05-01 11:00:00 [报警记录]:\n报警后\n")
                     .arg(shown)));
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
    // Read defensively: a view there is no log, however it reads.
    QTest::newRow("SystemInfo a view over an endless query")
        << "view" << false << "查询失败：文件不是日志数据库（没有可用的 SystemInfo 表）\n详细信息：SystemInfo 是视图，不是表";
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
        QVERIFY(other.exec(kind == QLatin1String("log")    ? QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY "
                                                                            "AUTOINCREMENT, datetime DATETIME, type INT, message TEXT)")
                           : kind == QLatin1String("view") ? QString::fromLatin1(kEndlessView)
                                                           : QStringLiteral("CREATE TABLE parts(id INTEGER, name TEXT)")));
        if (kind == QLatin1String("log"))
            QVERIFY(other.insertRow(QStringLiteral("2024-05-01 09:00:00"), 3, QStringLiteral("来自另一台机器")));
    }
    const QByteArray before = checksumOf(path);
    // No journal or other file appears beside the databases. The service's
    // own log gets its text index whenever its writer gets to it.
    const auto besideTheLogs = [&v] {
        QStringList files = QDir(v.dir.path()).entryList({QStringLiteral("*.db*")}, QDir::Files);
        files.removeAll(QStringLiteral("dbLog.db-index"));
        return files;
    };
    const QStringList files = besideTheLogs();

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
    QCOMPARE(besideTheLogs(), files);
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
