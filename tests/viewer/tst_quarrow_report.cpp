// The 统计 page: the report of a small log in its tables, and a click on a
// row or a bar listing exactly those records on the range page; floods
// marked on the listing's strip.
#include <QComboBox>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

#include <qwt_plot_canvas.h>

#include "PaneStrip.h"
#include "QuarrowTestSupport.h"
#include "ReportChart.h"
#include "ReportPage.h"

using namespace QuarrowTest;

namespace {

// A flood of eleven at 09:00, a valve chattering at 08:00, the same text in
// two cases, and a record of another type.
QList<Row> smallLog()
{
    QList<Row> rows;
    for (int second : {0, 20, 40})
        rows << Row{QStringLiteral("2024-05-01 08:00:%1").arg(second, 2, 10, QLatin1Char('0')), 3, QStringLiteral("阀门 V7 抖动")};
    for (int i = 0; i < 11; ++i)
        rows << Row{QStringLiteral("2024-05-01 09:0%1:%2").arg(i / 3).arg(i * 5 % 60, 2, 10, QLatin1Char('0')), 3,
                    QStringLiteral("主轴温度 %1 °C 过高").arg(80 + i)};
    rows << Row{QStringLiteral("2024-05-01 12:00:00"), 3, QStringLiteral("Motor 过载")};
    rows << Row{QStringLiteral("2024-05-01 12:30:00"), 3, QStringLiteral("motor 过载")};
    rows << Row{QStringLiteral("2024-05-01 12:40:00"), 2, QStringLiteral("系统运行正常")};
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.datetime < b.datetime; });
    return rows;
}

QList<Row> where(const std::function<bool(const Row&)>& keep)
{
    QList<Row> kept;
    for (const Row& row : smallLog())
        if (keep(row))
            kept << row;
    return kept;
}

void clickRow(QTableWidget* table, int row)
{
    table->scrollToItem(table->item(row, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
}

} // namespace

Q_DECLARE_METATYPE(QList<QuarrowTest::Row>)

class tst_QuarrowReport : public QObject
{
    Q_OBJECT

private slots:
    void clickListsThoseRecords_data();
    void clickListsThoseRecords();
    void exportsWithTheChart_data();
    void exportsWithTheChart();
};

void tst_QuarrowReport::clickListsThoseRecords_data()
{
    QTest::addColumn<QString>("table");      // the table clicked, or "chart"
    QTest::addColumn<int>("row");            // the row, or the hour of the bar
    QTest::addColumn<QString>("lastCell");   // the row's last cell as shown
    QTest::addColumn<QList<Row>>("listed");
    QTest::addColumn<int>("floods");         // marked on the listing's strip (the day's flood of alarms)

    QTest::newRow("most frequent: the valve")
        << "reportTop" << 0 << QStringLiteral("阀门 V7 抖动")
        << where([](const Row& r) { return r.message == QStringLiteral("阀门 V7 抖动"); }) << 1;
    QTest::newRow("case as it is: Motor, not motor")
        << "reportTop" << 1 << QStringLiteral("Motor 过载")
        << where([](const Row& r) { return r.message == QStringLiteral("Motor 过载"); }) << 1;
    QTest::newRow("chattering: the valve")
        << "reportChattering" << 0 << QStringLiteral("阀门 V7 抖动")
        << where([](const Row& r) { return r.message == QStringLiteral("阀门 V7 抖动"); }) << 1;
    QTest::newRow("flood: its ten minutes, marked on the strip")
        << "reportFloods" << 0 << QStringLiteral("11")
        << where([](const Row& r) { return r.type == 3 && r.datetime.startsWith(QLatin1String("2024-05-01 09:0")); }) << 1;
    QTest::newRow("bar of 12:00: the alarms of that hour")
        << "chart" << 12 << QString()
        << where([](const Row& r) { return r.type == 3 && r.datetime.startsWith(QLatin1String("2024-05-01 12")); }) << 0;
}

void tst_QuarrowReport::clickListsThoseRecords()
{
    QFETCH(QString, table);
    QFETCH(int, row);
    QFETCH(QString, lastCell);
    QFETCH(QList<Row>, listed);
    QFETCH(int, floods);

    Viewer v;
    QVERIFY(v.seed(smallLog()));
    v.window->show();
    v.click("reportButton");
    auto* page = v.widget<ReportPage>("page_3");
    QVERIFY(page);
    QCOMPARE(v.widget<QStackedWidget>("stackedWidget")->currentWidget(), page);
    QVERIFY(!v.pane()->isVisible());
    page->setPeriod(QDateTime(kDay, QTime(0, 0)), QDateTime(kDay, QTime(23, 59, 59)));
    v.click("reportRun");
    QTRY_VERIFY_WITH_TIMEOUT(page->hasReport(), kQueryTimeoutMs);

    // The figures beside their references: eleven in one period is outside.
    auto* kpis = v.widget<QTableWidget>("reportKpis");
    QCOMPARE(kpis->rowCount(), 6);
    QCOMPARE(kpis->item(2, 1)->text(), QStringLiteral("11"));
    QVERIFY(kpis->item(2, 3)->text().startsWith(QStringLiteral("超出参考值")));
    QCOMPARE(v.widget<QTableWidget>("reportTop")->rowCount(), 10);  // of 14 texts
    QCOMPARE(page->chart()->barTotal(9), 11);

    if (table == QLatin1String("chart")) {
        ReportChart* chart = page->chart();
        QTest::mouseClick(chart->canvas(), Qt::LeftButton, {}, chart->pointOf(row, 0.5));
    } else {
        auto* clicked = v.widget<QTableWidget>(table.toLatin1().constData());
        QVERIFY(clicked->rowCount() > row);
        QCOMPARE(clicked->item(row, clicked->columnCount() - 1)->text(), lastCell);
        clickRow(clicked, row);
    }
    QTRY_COMPARE_WITH_TIMEOUT(v.widget<QStackedWidget>("stackedWidget")->currentIndex(), 1, kQueryTimeoutMs);
    QVERIFY(v.queryEnded());
    QVERIFY(v.pane()->isVisible());
    QCOMPARE(v.pane()->toPlainText(), blocks(listed));
    QTRY_COMPARE_WITH_TIMEOUT(v.pane()->strip()->floodCount(), floods, kQueryTimeoutMs);
}

void tst_QuarrowReport::exportsWithTheChart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("begins");
    QTest::addColumn<QByteArray>("holds");
    QTest::newRow("PDF") << QStringLiteral("报警统计.pdf") << QByteArray("%PDF") << QByteArray("/Image");
    QTest::newRow("PNG, the page as shown") << QStringLiteral("报警统计.png") << QByteArray("\x89PNG") << QByteArray("IDAT");
    QTest::newRow("HTML with its SVG charts") << QStringLiteral("报警统计.html") << QByteArray("<!DOCTYPE html>")
                                              << QByteArray("<svg");
    for (const char* form : {"pdf", "png", "html"})
        QTest::addRow("a folder where the %s goes fails", form) << QStringLiteral("folder.%1").arg(QLatin1String(form))
                                                               << QByteArray() << QByteArray();
}

void tst_QuarrowReport::exportsWithTheChart()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, begins);
    QFETCH(QByteArray, holds);
    Viewer v;
    QVERIFY(v.seed(smallLog()));
    v.window->show();
    v.click("reportButton");
    auto* page = v.widget<ReportPage>("page_3");
    page->setPeriod(QDateTime(kDay, QTime(0, 0)), QDateTime(kDay, QTime(23, 59, 59)));
    v.click("reportRun");
    QTRY_VERIFY_WITH_TIMEOUT(page->hasReport(), kQueryTimeoutMs);
    const QString path = v.dir.filePath(file);
    if (begins.isEmpty())
        QVERIFY(QDir().mkpath(path));
    QString error;
    QCOMPARE(page->exportTo(path, error), !begins.isEmpty());
    if (begins.isEmpty()) {
        QVERIFY(error.contains(path));
        return;
    }
    const QByteArray written = fileBytes(path);
    QVERIFY2(written.startsWith(begins), written.left(16).toHex().constData());
    QVERIFY(written.contains(holds));
}

QTEST_MAIN(tst_QuarrowReport)
#include "tst_quarrow_report.moc"
