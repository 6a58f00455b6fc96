// The window's one slot: which button does what, the day and range queries
// seen through the result pane (strict bounds, types, order), the not-found
// and failure notices, and page switches that leave the pane alone.
#include <QStackedWidget>
#include <QtTest>

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

class TestQuarrowQuery : public QObject
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
    void pageSwitchesLeaveThePaneAlone();
};

void TestQuarrowQuery::eachButtonConnectedOnce()
{
    Viewer v;
    for (const char* name : {"pushButton", "toolButton", "pushButton_2", "toolButton_2", "m_pbExport"})
        QCOMPARE(ConnectionCounter::count(v.widget(name), SIGNAL(clicked(bool))), 1);
    int wired = 0;
    // The pane's find bar has buttons of its own, wired inside the pane.
    for (const QAbstractButton* b : v.window->findChildren<QAbstractButton*>())
        if (!v.pane()->isAncestorOf(b))
            wired += ConnectionCounter::count(b, SIGNAL(clicked(bool)));
    QCOMPARE(wired, 5);
}

void TestQuarrowQuery::otherSendersDoNothing_data()
{
    QTest::addColumn<QString>("senderName"); // null: the slot is called with no sender
    QTest::newRow("name differs in case") << QStringLiteral("PushButton");
    QTest::newRow("name with a suffix") << QStringLiteral("toolButton_3");
    QTest::newRow("export name with a space") << QStringLiteral("m_pbExport ");
    QTest::newRow("empty name") << QStringLiteral("");
    QTest::newRow("no sender") << QString();
}

void TestQuarrowQuery::otherSendersDoNothing()
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

void TestQuarrowQuery::queries_data()
{
    QTest::addColumn<bool>("range");
    QTest::addColumn<QDateTime>("start"); // the day of a day query
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("expected"); // messages, in order; none: the not-found notice

    const QDateTime day(kDay, QTime());
    QTest::newRow("day: the day's records of the type, strict bounds")
        << false << day << QDateTime() << 1
        << QStringList{"first second", kRows[3].message, "last but one second"};
    QTest::newRow("day: another type") << false << day << QDateTime() << 0 << QStringList{"parameter"};
    QTest::newRow("day: nothing of the type") << false << day << QDateTime() << 2 << QStringList();
    QTest::newRow("day: nothing on the day") << false << QDateTime(QDate(2024, 5, 3), QTime()) << QDateTime() << 1
                                             << QStringList();
    QTest::newRow("range: strict bounds, across midnight")
        << true << at("2024-05-01 00:00:01") << at("2024-05-02 13:00:00") << 1
        << QStringList{kRows[3].message, "last but one second", "last second"};
    QTest::newRow("range: type from its own list, not the day list")
        << true << at("2024-04-30 00:00:00") << at("2024-05-03 00:00:00") << 4 << QStringList{"other info"};
    QTest::newRow("range: start after end finds nothing")
        << true << at("2024-05-03 00:00:00") << at("2024-04-30 00:00:00") << 1 << QStringList();
    QTest::newRow("range: nothing between") << true << at("2024-05-01 12:00:00") << at("2024-05-01 23:59:58") << 1
                                            << QStringList();
}

// The pane's earlier content is replaced; records come in the 18 px font,
// one paragraph per line, exactly as logged; the notice in the 30 px font.
void TestQuarrowQuery::queries()
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
}

void TestQuarrowQuery::typeComesFromItemData()
{
    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 10:00:00", 7, "type seven"}, {"2024-05-01 10:00:00", 0, "type zero"}}));
    v.widget<QComboBox>("comboBox")->setItemData(0, 7, Qt::UserRole);
    QVERIFY(v.queryDay(kDay, 0));
    QCOMPARE(v.pane()->toPlainText(), blocks({{"2024-05-01 10:00:00", 7, "type seven"}}));
}

void TestQuarrowQuery::failedQueryIsNotShownAsNotFound()
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

void TestQuarrowQuery::pageSwitchesLeaveThePaneAlone()
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

    v.click("pushButton_2"); // nothing in today's range
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

QTEST_MAIN(TestQuarrowQuery)
#include "tst_quarrow_query.moc"
