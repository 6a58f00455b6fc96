// The window's one slot: which button does what, the day and range queries
// seen through the result pane (strict bounds, types, order), the not-found
// and failure notices, and page switches that leave the pane alone.
#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

const QDate kDay(2024, 5, 1);
const QString kDayText = QStringLiteral("2024-05-01");

QString blocks(const QList<Row>& rows)
{
    QStringList parts;
    for (const Row& row : rows)
        parts << row.datetime + QStringLiteral(":\n") + row.message;
    return parts.join(QLatin1Char('\n'));
}

void runDayQuery(Viewer& v, const QDate& day, int typeIndex)
{
    v.widget<QDateEdit>("dateEdit")->setDate(day);
    v.widget<QComboBox>("comboBox")->setCurrentIndex(typeIndex);
    QTest::mouseClick(v.widget<QPushButton>("pushButton"), Qt::LeftButton);
}

void runRangeQuery(Viewer& v, const QDateTime& start, const QDateTime& end, int typeIndex)
{
    v.widget<QAbstractButton>("toolButton")->click();
    v.widget<QDateTimeEdit>("m_startdateTimeEdit")->setDateTime(start);
    v.widget<QDateTimeEdit>("m_enddateTimeEdit")->setDateTime(end);
    v.widget<QComboBox>("comboBox_2")->setCurrentIndex(typeIndex);
    QTest::mouseClick(v.widget<QPushButton>("pushButton_2"), Qt::LeftButton);
}

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

class TestQuarrowQuery : public QObject
{
    Q_OBJECT

private slots:
    void buttonsConnectedOnce_data();
    void buttonsConnectedOnce();
    void pageButtonsSwitchPages();
    void foreignSenderDoesNothing_data();
    void foreignSenderDoesNothing();
    void slotWithoutSenderDoesNothing();
    void dayQueryListsTheDaysRecordsOfTheType();
    void dayQueryBoundsAreStrict();
    void dayQueryTakesTypeFromItemData();
    void rangeQueryBoundsAreStrict();
    void rangeQueryTypeFromRangeList();
    void rangeStartAfterEndFindsNothing();
    void notFoundNotice_data();
    void notFoundNotice();
    void recordsAfterNoticeUseRecordFont();
    void failedQueryIsNotShownAsNotFound();
    void pageSwitchesLeaveThePaneAlone();
    void messagesShownAsLogged_data();
    void messagesShownAsLogged();
};

void TestQuarrowQuery::buttonsConnectedOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("connections");
    QTest::newRow("day query") << QStringLiteral("pushButton") << 1;
    QTest::newRow("advanced") << QStringLiteral("toolButton") << 1;
    QTest::newRow("range query") << QStringLiteral("pushButton_2") << 1;
    QTest::newRow("back") << QStringLiteral("toolButton_2") << 1;
    QTest::newRow("export") << QStringLiteral("m_pbExport") << 1;
}

void TestQuarrowQuery::buttonsConnectedOnce()
{
    QFETCH(QString, name);
    QFETCH(int, connections);
    Viewer v;
    auto* button = v.window->findChild<QAbstractButton*>(name);
    QVERIFY(button);
    QCOMPARE(ConnectionCounter::count(button, SIGNAL(clicked(bool))), connections);

    // Only the five buttons of the form are wired at all.
    const auto all = v.window->findChildren<QAbstractButton*>();
    int wired = 0;
    for (const QAbstractButton* b : all)
        wired += ConnectionCounter::count(b, SIGNAL(clicked(bool)));
    QCOMPARE(wired, 5);
}

void TestQuarrowQuery::pageButtonsSwitchPages()
{
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    auto* stack = v.widget<QStackedWidget>("stackedWidget");

    QTest::mouseClick(v.widget<QToolButton>("toolButton"), Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 1);
    QVERIFY(v.widget<QWidget>("page_2")->isVisible());
    QVERIFY(!v.widget<QWidget>("page")->isVisible());

    QTest::mouseClick(v.widget<QToolButton>("toolButton_2"), Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(v.widget<QWidget>("page")->isVisible());
}

void TestQuarrowQuery::foreignSenderDoesNothing_data()
{
    QTest::addColumn<QString>("senderName");
    QTest::newRow("name differs in case") << QStringLiteral("PushButton");
    QTest::newRow("name with a suffix") << QStringLiteral("toolButton_3");
    QTest::newRow("empty name") << QString();
    QTest::newRow("export name with a space") << QStringLiteral("m_pbExport ");
}

void TestQuarrowQuery::foreignSenderDoesNothing()
{
    QFETCH(QString, senderName);
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "kept out"}}));
    auto* pane = v.widget<QTextEdit>("textEdit");
    pane->setPlainText(QStringLiteral("typed by the operator"));
    v.widget<QDateEdit>("dateEdit")->setDate(kDay);

    QPushButton stranger;
    stranger.setObjectName(senderName);
    QObject::connect(&stranger, &QPushButton::clicked, v.window.get(), &Quarrow::onButtonClicked);
    ModalDriver modals;
    stranger.click();
    QCoreApplication::processEvents();

    QCOMPARE(pane->toPlainText(), QStringLiteral("typed by the operator"));
    QCOMPARE(v.widget<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("Quarrow.ini")));
    QCOMPARE(modals.seen().size(), 0);
}

void TestQuarrowQuery::slotWithoutSenderDoesNothing()
{
    Viewer v;
    auto* pane = v.widget<QTextEdit>("textEdit");
    pane->setPlainText(QStringLiteral("unchanged"));
    QVERIFY(QMetaObject::invokeMethod(v.window.get(), "onButtonClicked"));
    QCOMPARE(pane->toPlainText(), QStringLiteral("unchanged"));
    QVERIFY(!QFile::exists(QStringLiteral("Quarrow.ini")));
}

void TestQuarrowQuery::dayQueryListsTheDaysRecordsOfTheType()
{
    Viewer v;
    const QList<Row> wanted = {
        {"2024-05-01 08:00:00", 1, "用户 admin 登录"},
        {"2024-05-01 09:30:15", 1, "用户 admin 退出"},
        {"2024-05-01 17:45:00", 1, "用户 operator 登录"},
    };
    QVERIFY(seedRows(wanted));
    QVERIFY(seedRows({{"2024-05-01 12:00:00", 0, "other type"},
                      {"2024-04-30 12:00:00", 1, "day before"},
                      {"2024-05-02 00:00:01", 1, "day after"}}));

    runDayQuery(v, kDay, 1);

    auto* pane = v.widget<QTextEdit>("textEdit");
    QCOMPARE(pane->toPlainText(), blocks(wanted));
    QCOMPARE(pane->document()->blockCount(), 6);
    QCOMPARE(pane->font().pixelSize(), 18);
    QCOMPARE(pane->document()->defaultFont().pixelSize(), 18);
}

void TestQuarrowQuery::dayQueryBoundsAreStrict()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 00:00:00", 2, "at midnight"},
                      {"2024-05-01 00:00:01", 2, "first second"},
                      {"2024-05-01 23:59:58", 2, "last but one second"},
                      {"2024-05-01 23:59:59", 2, "last second"}}));
    runDayQuery(v, kDay, 2);
    QCOMPARE(v.widget<QTextEdit>("textEdit")->toPlainText(),
             blocks({{"2024-05-01 00:00:01", 2, "first second"}, {"2024-05-01 23:59:58", 2, "last but one second"}}));
}

void TestQuarrowQuery::dayQueryTakesTypeFromItemData()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 7, "type seven"}, {"2024-05-01 10:00:00", 0, "type zero"}}));
    // An entry whose item data differs from its position: the data decides.
    auto* list = v.widget<QComboBox>("comboBox");
    list->setItemData(0, 7, Qt::UserRole);
    runDayQuery(v, kDay, 0);
    QCOMPARE(v.widget<QTextEdit>("textEdit")->toPlainText(), blocks({{"2024-05-01 10:00:00", 7, "type seven"}}));
}

void TestQuarrowQuery::rangeQueryBoundsAreStrict()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 08:00:00", 3, "at start"},
                      {"2024-05-01 08:00:01", 3, "after start"},
                      {"2024-05-02 13:00:00", 3, "next day"},
                      {"2024-05-03 17:59:59", 3, "before end"},
                      {"2024-05-03 18:00:00", 3, "at end"}}));
    runRangeQuery(v, at("2024-05-01 08:00:00"), at("2024-05-03 18:00:00"), 3);
    QCOMPARE(v.widget<QTextEdit>("textEdit")->toPlainText(),
             blocks({{"2024-05-01 08:00:01", 3, "after start"},
                     {"2024-05-02 13:00:00", 3, "next day"},
                     {"2024-05-03 17:59:59", 3, "before end"}}));
    QCOMPARE(v.widget<QTextEdit>("textEdit")->font().pixelSize(), 18);
}

void TestQuarrowQuery::rangeQueryTypeFromRangeList()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 4, "other info"}, {"2024-05-01 10:00:00", 0, "parameter"}}));
    // The day list says 0; the range query must use its own list.
    v.widget<QComboBox>("comboBox")->setCurrentIndex(0);
    runRangeQuery(v, at("2024-05-01 00:00:00"), at("2024-05-02 00:00:00"), 4);
    QCOMPARE(v.widget<QTextEdit>("textEdit")->toPlainText(), blocks({{"2024-05-01 10:00:00", 4, "other info"}}));
}

void TestQuarrowQuery::rangeStartAfterEndFindsNothing()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-02 10:00:00", 0, "between"}}));
    runRangeQuery(v, at("2024-05-03 00:00:00"), at("2024-05-01 00:00:00"), 0);
    QCOMPARE(v.widget<QTextEdit>("textEdit")->toPlainText(), QStringLiteral("没有找到相关记录"));
}

void TestQuarrowQuery::notFoundNotice_data()
{
    QTest::addColumn<bool>("rangePage");
    QTest::newRow("day query") << false;
    QTest::newRow("range query") << true;
}

void TestQuarrowQuery::notFoundNotice()
{
    QFETCH(bool, rangePage);
    Viewer v;
    auto* pane = v.widget<QTextEdit>("textEdit");
    pane->setPlainText(QStringLiteral("earlier\ncontent"));
    if (rangePage)
        runRangeQuery(v, at("2024-05-01 00:00:00"), at("2024-05-02 00:00:00"), 1);
    else
        runDayQuery(v, kDay, 1);
    QCOMPARE(pane->toPlainText(), QStringLiteral("没有找到相关记录"));
    QCOMPARE(pane->document()->blockCount(), 1);
    QCOMPARE(pane->font().pixelSize(), 30);
    QCOMPARE(pane->document()->defaultFont().pixelSize(), 30);
}

void TestQuarrowQuery::recordsAfterNoticeUseRecordFont()
{
    Viewer v;
    runDayQuery(v, kDay, 0);
    auto* pane = v.widget<QTextEdit>("textEdit");
    QCOMPARE(pane->font().pixelSize(), 30);
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "now there is one"}}));
    runDayQuery(v, kDay, 0);
    QCOMPARE(pane->toPlainText(), blocks({{"2024-05-01 10:00:00", 0, "now there is one"}}));
    QCOMPARE(pane->font().pixelSize(), 18);
}

void TestQuarrowQuery::failedQueryIsNotShownAsNotFound()
{
    Viewer v;
    QVERIFY(dropRecordTable());
    runDayQuery(v, kDay, 0);
    auto* pane = v.widget<QTextEdit>("textEdit");
    const QString shown = pane->toPlainText();
    QVERIFY2(shown.startsWith(QStringLiteral("查询失败：")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("SystemInfo")), qPrintable(shown));
    QVERIFY(!shown.contains(QStringLiteral("没有找到相关记录")));
    QCOMPARE(pane->font().pixelSize(), 30);

    runRangeQuery(v, at("2024-05-01 00:00:00"), at("2024-05-02 00:00:00"), 0);
    QVERIFY(pane->toPlainText().startsWith(QStringLiteral("查询失败：")));
}

void TestQuarrowQuery::pageSwitchesLeaveThePaneAlone()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "day result"}}));
    runDayQuery(v, kDay, 0);
    auto* pane = v.widget<QTextEdit>("textEdit");
    const QString dayResult = pane->toPlainText();
    QCOMPARE(dayResult, blocks({{"2024-05-01 10:00:00", 0, "day result"}}));

    v.widget<QAbstractButton>("toolButton")->click();
    QCOMPARE(pane->toPlainText(), dayResult);
    QCOMPARE(pane->font().pixelSize(), 18);

    QTest::mouseClick(v.widget<QPushButton>("pushButton_2"), Qt::LeftButton); // nothing in today's range
    QCOMPARE(pane->toPlainText(), QStringLiteral("没有找到相关记录"));
    v.widget<QAbstractButton>("toolButton_2")->click();
    QCOMPARE(pane->toPlainText(), QStringLiteral("没有找到相关记录"));
    QCOMPARE(pane->font().pixelSize(), 30);
    QCOMPARE(v.widget<QDateEdit>("dateEdit")->date(), kDay);
}

void TestQuarrowQuery::messagesShownAsLogged_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("blockCount");
    QTest::newRow("bold tags stay text") << QStringLiteral("<b>x</b>") << 2;
    QTest::newRow("less-than and ampersand") << QStringLiteral("a < b && c > d") << 2;
    QTest::newRow("html document") << QStringLiteral("<html><body><h1>big</h1></body></html>") << 2;
    QTest::newRow("entity stays as typed") << QStringLiteral("&lt;tag&gt; &amp;") << 2;
    QTest::newRow("line feeds make lines") << QStringLiteral("first\nsecond\nthird") << 4;
    QTest::newRow("trailing line feed as logged") << QStringLiteral("ends with a line feed\n") << 3;
}

void TestQuarrowQuery::messagesShownAsLogged()
{
    QFETCH(QString, message);
    QFETCH(int, blockCount);
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, message}}));
    runDayQuery(v, kDay, 0);
    auto* pane = v.widget<QTextEdit>("textEdit");
    QCOMPARE(pane->toPlainText(), QStringLiteral("2024-05-01 10:00:00:\n") + message);
    QCOMPARE(pane->document()->blockCount(), blockCount);
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
        QCOMPARE(b.blockFormat().headingLevel(), 0);
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            QCOMPARE(it.fragment().charFormat().fontWeight(), int(QFont::Normal));
            QVERIFY(!it.fragment().charFormat().isAnchor());
        }
    }
}

QTEST_MAIN(TestQuarrowQuery)
#include "tst_quarrow_query.moc"
