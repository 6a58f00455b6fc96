// The main window as the operator first sees it: the form's widget tree, its
// cells, layouts, fonts, texts, editors, tab order and size; the record-type
// lists; the date presets; title and icon.
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

class tst_QuarrowForm : public QObject
{
    Q_OBJECT

private slots:
    void startUpState();
    void layouts_data();
    void layouts();
    void listingTakesTheRoomLeft_data();
    void listingTakesTheRoomLeft();
    void fontsAndTexts();
    void editorsPoliciesAndAlignment();
    void tabOrder_data();
    void tabOrder();
};

// Window, pages, lists, date presets and icon as they are right after start.
void tst_QuarrowForm::startUpState()
{
    const QDate before = QDate::currentDate();
    Viewer v;
    const QDate after = QDate::currentDate();
    QVERIFY(v.dir.isValid());
    Quarrow& w = *v.window;
    QCOMPARE(w.objectName(), QStringLiteral("QuarrowClass"));
    // The form's size, where the screen has room for it.
    QCOMPARE(w.size(), QSize(798, 654).boundedTo(w.screen()->availableGeometry().size()));
    QCOMPARE(w.windowTitle(), QStringLiteral("系统日志查询工具"));
    QVERIFY(!w.findChild<QMenuBar*>() && !w.findChild<QToolBar*>() && !w.findChild<QStatusBar*>());
    QCOMPARE(w.centralWidget()->objectName(), QStringLiteral("centralWidget"));
    const QImage icon(QStringLiteral(":/Resources/Log.png"));
    QCOMPARE(icon.size(), QSize(256, 256));
    // Through a pixmap both ways: the pixmap stores premultiplied pixels, and
    // the round trip may move a half-transparent pixel by one step.
    QCOMPARE(w.windowIcon().pixmap(QSize(256, 256)).toImage().convertToFormat(QImage::Format_ARGB32),
             QPixmap::fromImage(icon).toImage().convertToFormat(QImage::Format_ARGB32));

    for (const char* name : {"comboBox", "comboBox_2"}) {
        auto* list = v.widget<QComboBox>(name);
        QCOMPARE(list->count(), 6);
        for (int code = 0; code < 5; ++code) {
            QCOMPARE(list->itemText(code), caption(code));
            const QVariant data = list->itemData(code, Qt::UserRole);
            QCOMPARE(data.userType(), int(QMetaType::Int));
            QCOMPARE(data.toInt(), code);
        }
        QCOMPARE(list->itemText(5), QStringLiteral("全部类型"));
    }
    for (const QDate& date : {v.widget<QDateEdit>("dateEdit")->date(),
                              v.widget<QDateTimeEdit>("m_startdateTimeEdit")->date(),
                              v.widget<QDateTimeEdit>("m_enddateTimeEdit")->date()})
        QVERIFY(date == before || date == after);
    QCOMPARE(v.widget<QDateTimeEdit>("m_startdateTimeEdit")->time(), QTime(0, 0, 0, 0));
    QCOMPARE(v.widget<QDateTimeEdit>("m_enddateTimeEdit")->time(), QTime(23, 59, 59, 0));

    auto* stack = v.widget<QStackedWidget>("stackedWidget");
    QCOMPARE(stack->count(), 3);
    QCOMPARE(stack->widget(0)->objectName(), QStringLiteral("page"));
    QCOMPARE(stack->widget(1)->objectName(), QStringLiteral("page_2"));
    QCOMPARE(stack->widget(2)->objectName(), QStringLiteral("page_3"));  // 统计
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(stack->widget(0)->isVisible() && !stack->widget(1)->isVisible());
    QVERIFY(v.pane()->isVisible());
}

void tst_QuarrowForm::layouts_data()
{
    QTest::addColumn<QString>("layoutName");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("margin");
    QTest::addColumn<QStringList>("cells"); // in the order the form adds them
    QTest::newRow("centralWidget") << QStringLiteral("gridLayout_2") << 6 << 11
                                   << QStringList{"stackedWidget QStackedWidget 0,0 1x1",
                                                  "listingBar ListingBar 1,0 1x1",
                                                  "textEdit ResultPane 2,0 1x1"};
    QTest::newRow("page") << QStringLiteral("gridLayout") << 5 << 5
                          << QStringList{"spacer 40x20 Expanding/Minimum 0,4 1x1", "toolButton QToolButton 0,3 1x1",
                                         "pushButton QPushButton 0,2 1x1",
                                         "label QLabel 0,0 1x1", "label_2 QLabel 1,0 1x1",
                                         "dateEdit QDateEdit 1,1 1x1", "m_pbExport QPushButton 1,5 1x1",
                                         "[comboBox QComboBox, typePicker QToolButton, machinePicker QToolButton] 0,1 1x1",
                                         "reportButton QToolButton 1,3 1x1"};
    QTest::newRow("page_2") << QStringLiteral("gridLayout_3") << 5 << 5
                            << QStringList{"toolButton_2 QToolButton 0,4 1x2",
                                           "m_enddateTimeEdit QDateTimeEdit 2,1 1x1",
                                           "m_startdateTimeEdit QDateTimeEdit 1,1 1x1", "label_5 QLabel 2,0 1x1",
                                           "label_3 QLabel 0,0 1x1",
                                           "pushButton_2 QPushButton 0,2 1x2", "label_4 QLabel 1,0 1x1",
                                           "spacer 40x20 Expanding/Minimum 0,6 1x1",
                                           "[comboBox_2 QComboBox, typePicker_2 QToolButton, machinePicker_2 QToolButton] 0,1 1x1",
                                           "startTimeHint QLabel 1,2 1x5", "endTimeHint QLabel 2,2 1x5"};
}

// Every item of each grid: object name and class (or a spacer's size and
// policies), cell and span.
void tst_QuarrowForm::layouts()
{
    QFETCH(QString, layoutName);
    QFETCH(int, spacing);
    QFETCH(int, margin);
    QFETCH(QStringList, cells);

    Viewer v;
    auto* grid = qobject_cast<QGridLayout*>(v.widget(QTest::currentDataTag())->layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), layoutName);
    QCOMPARE(grid->horizontalSpacing(), spacing);
    QCOMPARE(grid->verticalSpacing(), spacing);
    QCOMPARE(grid->contentsMargins(), QMargins(margin, margin, margin, margin));

    const auto policy = [](QSizePolicy::Policy p) {
        return QString::fromLatin1(QMetaEnum::fromType<QSizePolicy::Policy>().valueToKey(p));
    };
    QStringList found;
    for (int i = 0; i < grid->count(); ++i) {
        int r = -1, c = -1, rs = -1, cs = -1;
        grid->getItemPosition(i, &r, &c, &rs, &cs);
        QLayoutItem* item = grid->itemAt(i);
        const QWidget* w = item->widget();
        const auto named = [](const QWidget* widget) {
            return widget->objectName() + QLatin1Char(' ') + QLatin1String(widget->metaObject()->className());
        };
        QStringList inner;
        for (int j = 0; item->layout() && j < item->layout()->count(); ++j)
            inner << named(item->layout()->itemAt(j)->widget());
        const QString what = w ? named(w)
                             : item->layout() ? QLatin1Char('[') + inner.join(QStringLiteral(", ")) + QLatin1Char(']')
                                              : QStringLiteral("spacer %1x%2 %3/%4")
                                     .arg(item->sizeHint().width())
                                     .arg(item->sizeHint().height())
                                     .arg(policy(item->spacerItem()->sizePolicy().horizontalPolicy()),
                                          policy(item->spacerItem()->sizePolicy().verticalPolicy()));
        found << QStringLiteral("%1 %2,%3 %4x%5").arg(what).arg(r).arg(c).arg(rs).arg(cs);
    }
    QCOMPARE(found, cells);
}

void tst_QuarrowForm::listingTakesTheRoomLeft_data()
{
    QTest::addColumn<int>("page"); // of the stack
    QTest::newRow("day page") << 0;
    QTest::newRow("range page") << 1;
    QTest::newRow("统计 page") << 2;
}

// The form takes the height its page needs, the listing the rest; the 统计
// page, which hides the listing, takes it all. A page not shown (the 统计
// page's chart and tables above all) must not make the stack taller.
void tst_QuarrowForm::listingTakesTheRoomLeft()
{
    QFETCH(int, page);
    Viewer v;
    auto* stack = v.widget<QStackedWidget>("stackedWidget");
    stack->setCurrentIndex(page);
    v.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(v.window.get()));
    QTRY_VERIFY(v.window->centralWidget()->layout()->geometry().isValid());
    const int room = v.window->centralWidget()->height();
    if (page == 2) {
        QVERIFY(!v.pane()->isVisible());
        QVERIFY2(stack->height() > room * 3 / 4, qPrintable(QString::number(stack->height())));
    } else {
        QVERIFY(v.pane()->isVisible());
        QVERIFY2(stack->height() <= stack->currentWidget()->sizeHint().height() + 2,
                 qPrintable(QStringLiteral("%1 > %2").arg(stack->height()).arg(stack->currentWidget()->sizeHint().height())));
        QVERIFY2(v.pane()->height() > room / 2, qPrintable(QString::number(v.pane()->height())));
    }
}

// 11 pt everywhere but the export button and the pane; a font set anywhere
// above those two would reach them too.
void tst_QuarrowForm::fontsAndTexts()
{
    Viewer v;
    QStringList elevenPoint;
    for (const QWidget* w : v.window->findChildren<QWidget*>()) {
        // Qt's and Qwt's own widgets (the 统计 chart's title and axes) keep their fonts.
        const bool qtsOwn = w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_"))
                            || w->objectName().startsWith(QLatin1String("Qwt"));
        if (qtsOwn || !w->testAttribute(Qt::WA_SetFont))
            continue;
        elevenPoint << w->objectName();
        QCOMPARE(w->font().pointSize(), 11);
        QCOMPARE(w->font().family(), QFont().family());
    }
    elevenPoint.sort();
    QCOMPARE(elevenPoint, QStringList({"comboBox", "comboBox_2", "dateEdit", "label", "label_2", "label_3", "label_4",
                                       "label_5", "m_enddateTimeEdit", "m_startdateTimeEdit", "machinePicker",
                                       "machinePicker_2", "machinePicker_3", "pushButton", "pushButton_2", "reportBack",
                                       "reportButton", "reportEnd", "reportRun", "reportStart", "reportTypes", "toolButton",
                                       "toolButton_2", "typePicker", "typePicker_2", "typePicker_3"}));
    for (const char* name : {"m_pbExport", "textEdit"})
        QCOMPARE(v.widget(name)->font(), QApplication::font(v.widget(name)));

    const QList<QPair<const char*, const char*>> texts = {
        {"label", "查询类型："}, {"pushButton", "查询"}, {"toolButton", "高级"}, {"label_2", "日期："},
        {"m_pbExport", "导出"}, {"label_3", "查询类型："}, {"pushButton_2", "查询"}, {"toolButton_2", "返回"},
        {"label_4", "起始时间："}, {"label_5", "结束时间："}, {"reportButton", "统计"}, {"reportRun", "统计"},
        {"reportBack", "返回"}};
    for (const auto& text : texts)
        QCOMPARE(v.widget(text.first)->property("text").toString(), QString::fromUtf8(text.second));
}

void tst_QuarrowForm::editorsPoliciesAndAlignment()
{
    Viewer v;
    QSizePolicy pane(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pane.setVerticalStretch(8); // the pane takes the extra height, the stack keeps its own
    QCOMPARE(v.pane()->sizePolicy(), pane);
    for (const char* name : {"stackedWidget", "toolButton", "toolButton_2"})
        QCOMPARE(v.widget(name)->sizePolicy(), QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    QCOMPARE(v.widget("toolButton_2")->toolTip(), QStringLiteral("返回按天查询"));
    for (const char* name : {"label", "label_2"})
        QCOMPARE(v.widget<QLabel>(name)->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    for (const char* name : {"label_3", "label_4", "label_5"})
        QCOMPARE(v.widget<QLabel>(name)->alignment(), QLabel().alignment());

    auto* day = v.widget<QDateEdit>("dateEdit");
    auto* start = v.widget<QDateTimeEdit>("m_startdateTimeEdit");
    auto* end = v.widget<QDateTimeEdit>("m_enddateTimeEdit");
    QVERIFY(!day->calendarPopup() && start->calendarPopup() && end->calendarPopup());
    QCOMPARE(start->correctionMode(), QAbstractSpinBox::CorrectToPreviousValue);
    QVERIFY(start->isGroupSeparatorShown() && !end->isGroupSeparatorShown());
    QCOMPARE(start->currentSectionIndex(), 0); // year section selected, then section index 0
    // Dates read the Chinese way, times on the 24-hour clock with seconds.
    QCOMPARE(day->displayFormat(), QStringLiteral("yyyy/M/d"));
    QCOMPARE(start->displayFormat(), QStringLiteral("yyyy/M/d HH:mm:ss"));
    QCOMPARE(end->displayFormat(), QStringLiteral("yyyy/M/d HH:mm:ss"));
    day->setDate(QDate(2026, 12, 8));
    QCOMPARE(day->text(), QStringLiteral("2026/12/8"));
    end->setDateTime(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59)));
    QCOMPARE(end->text(), QStringLiteral("2026/12/8 23:59:59"));
    QCOMPARE(day->locale().language(), QLocale::Chinese);
    QCOMPARE(start->minimumDateTime(), QDateTimeEdit().minimumDateTime());
    QCOMPARE(end->maximumDateTime(), QDateTimeEdit().maximumDateTime());
}

void tst_QuarrowForm::tabOrder_data()
{
    QTest::addColumn<QStringList>("order");
    // As the layout reads, row by row, left to right.
    QTest::newRow("page") << QStringList{"comboBox", "typePicker", "machinePicker", "pushButton", "toolButton", "dateEdit",
                                         "reportButton", "m_pbExport", "textEdit"};
    QTest::newRow("page_2") << QStringList{"comboBox_2", "typePicker_2", "machinePicker_2", "pushButton_2", "toolButton_2",
                                           "m_startdateTimeEdit", "m_enddateTimeEdit", "textEdit"};
}

// Walks the window's focus chain, keeping the page's tab-focusable widgets
// and the pane: what the Tab key visits while that page is shown.
void tst_QuarrowForm::tabOrder()
{
    QFETCH(QStringList, order);
    Viewer v;
    QWidget* page = v.widget(QTest::currentDataTag());
    QStringList visited;
    QWidget* w = v.window.get();
    // The chain is a ring through the window's widgets: once round at most.
    const int widgets = v.window->findChildren<QWidget*>().size() + 1;
    for (int step = 0; step < widgets; ++step) {
        w = w->nextInFocusChain();
        if (w == v.window.get())
            break;
        if ((w->focusPolicy() & Qt::TabFocus) && (w->parentWidget() == page || w == v.pane()))
            visited << w->objectName();
    }
    QVERIFY2(w == v.window.get(), "the focus chain does not come back to the window");
    QCOMPARE(visited, order);
}

QTEST_MAIN(tst_QuarrowForm)
#include "tst_quarrow_form.moc"
