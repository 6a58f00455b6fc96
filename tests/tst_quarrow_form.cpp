// The main window as the operator first sees it: the form's widget tree, its
// cells, fonts, texts, editors, tab order and size; the record-type lists; the
// date presets; title and icon.
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

class TestQuarrowForm : public QObject
{
    Q_OBJECT

private slots:
    void windowSettings();
    void widgetCells_data();
    void widgetCells();
    void spacers_data();
    void spacers();
    void layoutSpacing_data();
    void layoutSpacing();
    void sizePolicies_data();
    void sizePolicies();
    void fonts_data();
    void fonts();
    void texts_data();
    void texts();
    void labelAlignment_data();
    void labelAlignment();
    void dateEditors();
    void tabOrder_data();
    void tabOrder();
    void extraHeightGoesToThePane();
    void typeLists_data();
    void typeLists();
    void datePresets();
    void iconResource();
};

void TestQuarrowForm::windowSettings()
{
    Viewer v;
    QVERIFY(v.dir.isValid());
    Quarrow& w = *v.window;
    QCOMPARE(w.objectName(), QStringLiteral("QuarrowClass"));
    QCOMPARE(w.size(), QSize(798, 654));
    QCOMPARE(w.windowTitle(), QStringLiteral("系统日志查询工具"));
    QVERIFY(!w.findChild<QMenuBar*>());
    QVERIFY(!w.findChild<QToolBar*>());
    QVERIFY(!w.findChild<QStatusBar*>());
    QVERIFY(w.centralWidget());
    QCOMPARE(w.centralWidget()->objectName(), QStringLiteral("centralWidget"));

    auto* stack = v.widget<QStackedWidget>("stackedWidget");
    QVERIFY(stack);
    QCOMPARE(stack->count(), 2);
    QCOMPARE(stack->widget(0)->objectName(), QStringLiteral("page"));
    QCOMPARE(stack->widget(1)->objectName(), QStringLiteral("page_2"));
    QCOMPARE(stack->currentIndex(), 0);

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(stack->widget(0)->isVisible());
    QVERIFY(!stack->widget(1)->isVisible());
    QVERIFY(v.widget<QTextEdit>("textEdit")->isVisible());
    QVERIFY(!v.widget<QTextEdit>("textEdit")->isReadOnly());
}

void TestQuarrowForm::widgetCells_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("layoutName");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("rowSpan");
    QTest::addColumn<int>("columnSpan");

    auto add = [](const char* name, const char* cls, const char* layout, int r, int c, int rs, int cs) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << QString::fromLatin1(layout)
                            << r << c << rs << cs;
    };
    add("stackedWidget", "QStackedWidget", "gridLayout_2", 0, 0, 1, 1);
    add("textEdit", "QTextEdit", "gridLayout_2", 1, 0, 1, 1);
    add("label", "QLabel", "gridLayout", 0, 0, 1, 1);
    add("comboBox", "QComboBox", "gridLayout", 0, 1, 1, 1);
    add("pushButton", "QPushButton", "gridLayout", 0, 2, 1, 1);
    add("toolButton", "QToolButton", "gridLayout", 0, 3, 1, 1);
    add("label_2", "QLabel", "gridLayout", 1, 0, 1, 1);
    add("dateEdit", "QDateEdit", "gridLayout", 1, 1, 1, 1);
    add("m_pbExport", "QPushButton", "gridLayout", 1, 5, 1, 1);
    add("label_3", "QLabel", "gridLayout_3", 0, 0, 1, 1);
    add("comboBox_2", "QComboBox", "gridLayout_3", 0, 1, 1, 1);
    add("pushButton_2", "QPushButton", "gridLayout_3", 0, 2, 1, 2);
    add("toolButton_2", "QToolButton", "gridLayout_3", 0, 4, 1, 2);
    add("label_4", "QLabel", "gridLayout_3", 1, 0, 1, 1);
    add("m_startdateTimeEdit", "QDateTimeEdit", "gridLayout_3", 1, 1, 1, 1);
    add("label_5", "QLabel", "gridLayout_3", 2, 0, 1, 1);
    add("m_enddateTimeEdit", "QDateTimeEdit", "gridLayout_3", 2, 1, 1, 1);
}

void TestQuarrowForm::widgetCells()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, layoutName);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, rowSpan);
    QFETCH(int, columnSpan);

    Viewer v;
    auto* w = v.window->findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    auto* grid = qobject_cast<QGridLayout*>(w->parentWidget()->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), layoutName);

    const int index = grid->indexOf(w);
    QVERIFY(index >= 0);
    int r = -1, c = -1, rs = -1, cs = -1;
    grid->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, rowSpan);
    QCOMPARE(cs, columnSpan);
}

void TestQuarrowForm::spacers_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("column");
    QTest::newRow("day page, after the advanced button") << QStringLiteral("page") << 4;
    QTest::newRow("range page, after the back button") << QStringLiteral("page_2") << 6;
}

void TestQuarrowForm::spacers()
{
    QFETCH(QString, page);
    QFETCH(int, column);

    Viewer v;
    auto* grid = qobject_cast<QGridLayout*>(v.window->findChild<QWidget*>(page)->layout());
    QVERIFY(grid);
    QLayoutItem* item = grid->itemAtPosition(0, column);
    QVERIFY(item);
    QSpacerItem* spacer = item->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);

    int spacerCount = 0;
    for (int i = 0; i < grid->count(); ++i)
        spacerCount += grid->itemAt(i)->spacerItem() ? 1 : 0;
    QCOMPARE(spacerCount, 1);
}

void TestQuarrowForm::layoutSpacing_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("layoutName");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("margin");
    QTest::newRow("central widget") << QStringLiteral("centralWidget") << QStringLiteral("gridLayout_2") << 6 << 11;
    QTest::newRow("day page") << QStringLiteral("page") << QStringLiteral("gridLayout") << 5 << 5;
    QTest::newRow("range page") << QStringLiteral("page_2") << QStringLiteral("gridLayout_3") << 5 << 5;
}

void TestQuarrowForm::layoutSpacing()
{
    QFETCH(QString, owner);
    QFETCH(QString, layoutName);
    QFETCH(int, spacing);
    QFETCH(int, margin);

    Viewer v;
    auto* grid = qobject_cast<QGridLayout*>(v.window->findChild<QWidget*>(owner)->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), layoutName);
    QCOMPARE(grid->horizontalSpacing(), spacing);
    QCOMPARE(grid->verticalSpacing(), spacing);
    QCOMPARE(grid->contentsMargins(), QMargins(margin, margin, margin, margin));
}

void TestQuarrowForm::sizePolicies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::addColumn<int>("verticalStretch");
    QTest::newRow("stack keeps its preferred height") << QStringLiteral("stackedWidget") << int(QSizePolicy::Preferred)
                                                      << int(QSizePolicy::Preferred) << 0;
    QTest::newRow("pane takes the extra height") << QStringLiteral("textEdit") << int(QSizePolicy::Expanding)
                                                 << int(QSizePolicy::Expanding) << 8;
    QTest::newRow("advanced button") << QStringLiteral("toolButton") << int(QSizePolicy::Preferred)
                                     << int(QSizePolicy::Preferred) << 0;
    QTest::newRow("back button") << QStringLiteral("toolButton_2") << int(QSizePolicy::Preferred)
                                 << int(QSizePolicy::Preferred) << 0;
}

void TestQuarrowForm::sizePolicies()
{
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    QFETCH(int, verticalStretch);

    Viewer v;
    auto* w = v.window->findChild<QWidget*>(name);
    QVERIFY(w);
    const QSizePolicy policy = w->sizePolicy();
    QCOMPARE(int(policy.horizontalPolicy()), horizontal);
    QCOMPARE(int(policy.verticalPolicy()), vertical);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), verticalStretch);
    QCOMPARE(policy.controlType(), QSizePolicy::DefaultType);
}

void TestQuarrowForm::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("elevenPoint");

    const char* eleven[] = {"label", "comboBox", "pushButton", "toolButton", "label_2", "dateEdit", "label_3",
                            "comboBox_2", "pushButton_2", "toolButton_2", "label_4", "m_startdateTimeEdit",
                            "label_5", "m_enddateTimeEdit"};
    for (const char* name : eleven)
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    const char* standard[] = {"m_pbExport", "textEdit", "stackedWidget", "page", "page_2", "centralWidget"};
    for (const char* name : standard)
        QTest::newRow(name) << QString::fromLatin1(name) << false;
}

void TestQuarrowForm::fonts()
{
    QFETCH(QString, name);
    QFETCH(bool, elevenPoint);

    Viewer v;
    auto* w = v.window->findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->testAttribute(Qt::WA_SetFont), elevenPoint);
    if (elevenPoint) {
        QCOMPARE(w->font().pointSize(), 11);
        QCOMPARE(w->font().family(), QFont().family());
    } else {
        QCOMPARE(w->font(), QApplication::font(w));
    }
}

void TestQuarrowForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");

    auto add = [](const char* row, const char* name, const char* property, const char* text) {
        QTest::newRow(row) << QString::fromLatin1(name) << QString::fromLatin1(property) << QString::fromUtf8(text);
    };
    add("advanced button", "toolButton", "text", "高级");
    add("day query button", "pushButton", "text", "查询");
    add("day type label", "label", "text", "查询类型：");
    add("date label", "label_2", "text", "日期：");
    add("export button", "m_pbExport", "text", "导出");
    add("back button tool tip", "toolButton_2", "toolTip", "返回按天查询");
    add("back button", "toolButton_2", "text", "返回");
    add("end label", "label_5", "text", "结束时间：");
    add("range type label", "label_3", "text", "查询类型：");
    add("range query button", "pushButton_2", "text", "查询");
    add("start label", "label_4", "text", "起始时间：");
}

void TestQuarrowForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, property);
    QFETCH(QString, expected);

    Viewer v;
    auto* w = v.window->findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->property(property.toLatin1().constData()).toString(), expected);
}

void TestQuarrowForm::labelAlignment_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("alignment");
    const int right = int(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    const int standard = int(QLabel().alignment());
    QTest::newRow("day type label right aligned") << QStringLiteral("label") << right;
    QTest::newRow("date label right aligned") << QStringLiteral("label_2") << right;
    QTest::newRow("range type label default") << QStringLiteral("label_3") << standard;
    QTest::newRow("start label default") << QStringLiteral("label_4") << standard;
    QTest::newRow("end label default") << QStringLiteral("label_5") << standard;
}

void TestQuarrowForm::labelAlignment()
{
    QFETCH(QString, name);
    QFETCH(int, alignment);
    Viewer v;
    auto* label = v.window->findChild<QLabel*>(name);
    QVERIFY(label);
    QCOMPARE(int(label->alignment()), alignment);
}

void TestQuarrowForm::dateEditors()
{
    Viewer v;
    auto* day = v.widget<QDateEdit>("dateEdit");
    auto* start = v.widget<QDateTimeEdit>("m_startdateTimeEdit");
    auto* end = v.widget<QDateTimeEdit>("m_enddateTimeEdit");
    QVERIFY(day && start && end);

    QVERIFY(!day->calendarPopup());
    QVERIFY(start->calendarPopup());
    QVERIFY(end->calendarPopup());

    QCOMPARE(start->correctionMode(), QAbstractSpinBox::CorrectToPreviousValue);
    QVERIFY(start->isGroupSeparatorShown());
    QVERIFY(!end->isGroupSeparatorShown());
    // The form selects the year section and then section index 0, so the
    // first section of the locale's format is the current one.
    QCOMPARE(start->currentSectionIndex(), 0);
    QCOMPARE(start->currentSection(), start->sectionAt(0));

    // The display formats are the locale's defaults: nothing set on the form.
    QCOMPARE(day->displayFormat(), QDateEdit().displayFormat());
    QCOMPARE(start->displayFormat(), QDateTimeEdit().displayFormat());
    QCOMPARE(end->displayFormat(), QDateTimeEdit().displayFormat());
    QCOMPARE(start->minimumDateTime(), QDateTimeEdit().minimumDateTime());
    QCOMPARE(end->maximumDateTime(), QDateTimeEdit().maximumDateTime());
}

void TestQuarrowForm::tabOrder_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("day page") << QStringLiteral("page")
                              << QStringList{"toolButton", "pushButton", "comboBox", "dateEdit", "m_pbExport",
                                             "textEdit"};
    QTest::newRow("range page, end editor before start editor")
        << QStringLiteral("page_2")
        << QStringList{"toolButton_2", "m_enddateTimeEdit", "m_startdateTimeEdit", "comboBox_2", "pushButton_2",
                       "textEdit"};
}

// Walks the window's focus chain, keeping the page's tab-focusable widgets
// and the pane, which is what the Tab key visits while that page is shown.
void TestQuarrowForm::tabOrder()
{
    QFETCH(QString, page);
    QFETCH(QStringList, order);

    Viewer v;
    QWidget* pageWidget = v.window->findChild<QWidget*>(page);
    QWidget* pane = v.widget<QWidget>("textEdit");
    QVERIFY(pageWidget && pane);

    QStringList visited;
    QWidget* w = v.window.get();
    do {
        w = w->nextInFocusChain();
        const bool takesTab = w->focusPolicy() & Qt::TabFocus;
        if (takesTab && (w->parentWidget() == pageWidget || w == pane))
            visited << w->objectName();
    } while (w != v.window.get());
    QCOMPARE(visited, order);
}

void TestQuarrowForm::extraHeightGoesToThePane()
{
    Viewer v;
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    auto* stack = v.widget<QWidget>("stackedWidget");
    auto* pane = v.widget<QWidget>("textEdit");
    auto* exportButton = v.widget<QWidget>("m_pbExport");
    const int stackHeight = stack->height();
    const int paneHeight = pane->height();

    v.window->resize(1100, 900);
    QTRY_COMPARE(v.window->size(), QSize(1100, 900));
    QTRY_VERIFY(pane->height() > paneHeight);
    QCOMPARE(stack->height(), stackHeight);
    QCOMPARE(pane->height() - paneHeight, 900 - 654);
    // The export button stays at the right edge of the day page.
    const QWidget* page = v.widget<QWidget>("page");
    QCOMPARE(exportButton->geometry().right(), page->width() - 1 - 5);
}

void TestQuarrowForm::typeLists_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("caption");
    const char* captions[] = {"参数修改记录", "用户使用记录", "系统状态记录", "报警记录", "其他信息"};
    for (const char* list : {"comboBox", "comboBox_2"}) {
        for (int code = 0; code < 5; ++code)
            QTest::newRow(qPrintable(QStringLiteral("%1 entry %2").arg(QLatin1String(list)).arg(code)))
                << QString::fromLatin1(list) << code << QString::fromUtf8(captions[code]);
    }
}

void TestQuarrowForm::typeLists()
{
    QFETCH(QString, list);
    QFETCH(int, position);
    QFETCH(QString, caption);

    Viewer v;
    auto* combo = v.window->findChild<QComboBox*>(list);
    QVERIFY(combo);
    QCOMPARE(combo->count(), 5);
    QCOMPARE(combo->itemText(position), caption);
    const QVariant data = combo->itemData(position, Qt::UserRole);
    QCOMPARE(data.userType(), int(QMetaType::Int));
    QCOMPARE(data.toInt(), position);
}

void TestQuarrowForm::datePresets()
{
    const QDate before = QDate::currentDate();
    Viewer v;
    const QDate after = QDate::currentDate();

    auto* day = v.widget<QDateEdit>("dateEdit");
    auto* start = v.widget<QDateTimeEdit>("m_startdateTimeEdit");
    auto* end = v.widget<QDateTimeEdit>("m_enddateTimeEdit");
    QVERIFY(day->date() == before || day->date() == after);
    QVERIFY(start->date() == before || start->date() == after);
    QVERIFY(end->date() == before || end->date() == after);
    QCOMPARE(start->time(), QTime(0, 0, 0, 0));
    QCOMPARE(end->time(), QTime(23, 59, 59, 0));
}

void TestQuarrowForm::iconResource()
{
    QVERIFY(QFile::exists(QStringLiteral(":/Resources/Log.png")));
    const QImage image(QStringLiteral(":/Resources/Log.png"));
    QCOMPARE(image.size(), QSize(256, 256));

    Viewer v;
    const QIcon icon = v.window->windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(QSize(256, 256)).toImage().convertToFormat(QImage::Format_ARGB32),
             image.convertToFormat(QImage::Format_ARGB32));
}

QTEST_MAIN(TestQuarrowForm)
#include "tst_quarrow_form.moc"
