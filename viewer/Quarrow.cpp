#include "Quarrow.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QHBoxLayout>
#include <QToolButton>
#include <QIcon>
#include <QMessageBox>
#include <QMimeData>
#include <QInputDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <climits>
#include <functional>
#include <thread>

#include <vxSyslog/AlarmContext.h>
#include <vxSyslog/DayExport.h>
#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/ListingExport.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/LogSource.h>
#include <vxSyslog/RecordTypes.h>
#include <vxSyslog/vxSysLog.h>

#include "DateTimeTyping.h"
#include "FocusRing.h"
#include "GoToTimeDialog.h"
#include "ListingBar.h"
#include "ListingPrinter.h"
#include "MachineChooser.h"
#include "PaneListing.h"
#include "RecordDetail.h"
#include "RecordDetailDialog.h"
#include "PaneStrip.h"
#include "ReportPage.h"
#include "ReportRunner.h"
#include "ResultPane.h"
#include "SavedFilters.h"
#include "TypeChooser.h"

namespace DayExport = SystemLog::DayExport;
using SystemLog::LogSource;
using SystemLog::LogQuery;
using SystemLog::vxSysLog;

namespace {

const QString kSettingsFile = QStringLiteral("./Quarrow.ini");
const QString kTypeIndexKey = QStringLiteral("comBoxIndex");
// Several types picked for the last day query, as codes "0,3"; absent when
// one type or all were.
const QString kTypeSelectionKey = QStringLiteral("typeSelection");
// The day and the range last queried, restored at start: the day as
// "yyyy-MM-dd", or "today" when the day queried was the day it was queried
// on (so that the next start shows its own today); the range's ends as
// "yyyy-MM-dd hh:mm:ss".
const QString kLastDayKey = QStringLiteral("lastDay");
const QString kToday = QStringLiteral("today");
const QString kLastRangeStartKey = QStringLiteral("lastRangeStart");
const QString kLastRangeEndKey = QStringLiteral("lastRangeEnd");
const QString kDayFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeText = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// Record type code -> caption, from the module that every program shares. The
// list position of a caption is its code.
QMap<int, QString> recordTypeCaptions()
{
    QMap<int, QString> captions;
    for (int type = 0; type < SystemLog::kRecordTypeCount; ++type)
        captions.insert(type, SystemLog::recordTypeCaption(type));
    return captions;
}

// The busy cursor for as long as the export reads or writes.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Runs `work` on a thread of its own while the window goes on answering
// (painting, moving, closing). Past a second a progress dialog shows
// `label()`; its 取消 sets `cancelled` and interrupts the reader. False when
// the work did not end, because the application is quitting: the work is
// then cancelled and waited for, and nothing more may be shown.
// With a total, the bar shows how much of it `doneSoFar()` says is done.
bool runWhileAnswering(QWidget* window, LogSource& reader, std::atomic<bool>& cancelled,
                       const std::function<QString()>& label, const std::function<void()>& work, qint64 total = 0,
                       const std::function<qint64()>& doneSoFar = {})
{
    constexpr int kSteps = 1000;
    BusyCursor busy;
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread thread([&] {
        work();
        done.store(true);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QProgressDialog progress(label(), QStringLiteral("取消"), 0, total > 0 ? kSteps : 0, window);
    progress.setWindowTitle(QStringLiteral("提示"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(INT_MAX); // shown by the timer below, not by its own guess
    progress.reset();
    QObject::connect(&progress, &QProgressDialog::canceled, [&] {
        cancelled.store(true);
        reader.interrupt();
    });
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, [&] {
        progress.setLabelText(label());
        if (total > 0 && doneSoFar)
            progress.setValue(int(std::min<qint64>(kSteps - 1, doneSoFar() * kSteps / total)));
        if (!progress.isVisible() && !progress.wasCanceled())
            progress.show();
    });
    refresh.start(1000);
    if (!done.load())
        loop.exec();
    const bool ended = done.load();
    if (!ended) {
        cancelled.store(true);
        reader.interrupt();
    }
    thread.join();
    return ended;
}

// The editors show dates as a Chinese reader writes them (2026/12/8); what is
// sent to the store is formatted separately and stays "yyyy-MM-dd".
void useChineseDates(QDateTimeEdit* editor, bool withTime)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    editor->setLocale(chinese);
    const QString date = chinese.dateFormat(QLocale::ShortFormat);
    editor->setDisplayFormat(withTime ? date + QStringLiteral(" HH:mm:ss") : date);
}

// Beside a range field, right of it up to the page's edge: what typing
// into the field refused or put back (DateTimeTyping).
QLabel* typingHint(QDateTimeEdit* editor, const QString& name)
{
    auto* grid = qobject_cast<QGridLayout*>(editor->parentWidget()->layout());
    int row = 0, column = 0, rows = 1, columns = 1;
    grid->getItemPosition(grid->indexOf(editor), &row, &column, &rows, &columns);
    auto* hint = new QLabel(editor->parentWidget());
    hint->setObjectName(name);
    QPalette colours = hint->palette();
    colours.setColor(QPalette::WindowText, Qt::red);
    hint->setPalette(colours);
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // cut, never widening the window
    grid->addWidget(hint, row, column + 1, 1, grid->columnCount() - column - 1);
    return hint;
}

QDateTime todayAt(const QTime& time)
{
    QDateTime moment = QDateTime::currentDateTime();
    moment.setTime(time);
    return moment;
}

// The list of a page, with a 多选 button and the machine button beside it in
// the list's cell ("typePicker" and "machinePicker", with the page's suffix).
TypeChooser* chooserFor(QComboBox* list, const QString& suffix, MachineChooser* machines, QWidget* window)
{
    auto* grid = qobject_cast<QGridLayout*>(list->parentWidget()->layout());
    int row = 0, column = 0, rows = 1, columns = 1;
    grid->getItemPosition(grid->indexOf(list), &row, &column, &rows, &columns);
    grid->removeWidget(list);
    auto* cell = new QHBoxLayout;
    cell->setSpacing(2);
    cell->addWidget(list, 1);
    auto button = [&](const QString& name) {
        auto* added = new QToolButton(list->parentWidget());
        added->setObjectName(name + suffix);
        added->setFont(list->font());
        cell->addWidget(added);
        return added;
    };
    QToolButton* picker = button(QStringLiteral("typePicker"));
    machines->addButton(button(QStringLiteral("machinePicker")));
    grid->addLayout(cell, row, column, rows, columns);
    auto* chooser = new TypeChooser(list, picker, window);
    chooser->setObjectName(QStringLiteral("typeChooser") + suffix);
    return chooser;
}

QVector<int> typesFromText(const QString& text)
{
    QVector<int> types;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int type = part.toInt(&ok);
        if (ok && type >= 0 && type < SystemLog::kRecordTypeCount && !types.contains(type))
            types << type;
    }
    return types;
}

} // namespace

QString Quarrow::defaultTitle()
{
    return QStringLiteral("系统日志查询工具");
}

Quarrow::Quarrow(QWidget* parent)
    : Quarrow(QStringList(), parent)
{
}

Quarrow::Quarrow(const QStringList& logs, QWidget* parent)
    : Quarrow(logs.isEmpty() ? StartLog::ofWorkingFolder() : StartLog::ofLogs(logs), parent)
{
}

Quarrow::Quarrow(const StartLog& start, QWidget* parent)
    : QMainWindow(parent)
    , m_comBoxIndex(0)
    , m_sources(start.kind == StartLog::Kind::WorkingFolder
                    ? LogSources(QDir::current().absoluteFilePath(QStringLiteral("dbLog.db")))
                    : LogSources())
    , m_machines(new MachineChooser(this))
    , m_noLogHint(start.hint)
{
    if (start.kind == StartLog::Kind::WorkingFolder)
        startLogService();
    ui.setupUi(this);
    m_typeMap = recordTypeCaptions();
    fillTypeLists();
    presetDates();
    connectButtons();
    setWindowIcon(QIcon(QStringLiteral(":/Resources/Log.png")));
    setWindowTitle(defaultTitle());
    restoreRememberedType();
    restoreRememberedPeriod();
    addListingBar();
    addReportPage();
    acceptDroppedFiles();
    addKeys();
    orderTabs();
    fitSize();
    showStartHint();
    if (start.kind == StartLog::Kind::Logs)
        openLogs(start.logs);
}

// Between the pages and the pane: what the pane lists, the filter, and the order.
void Quarrow::addListingBar()
{
    m_listingBar = new ListingBar(kSettingsFile, centralWidget());
    ui.gridLayout_2->removeWidget(ui.textEdit);
    ui.gridLayout_2->addWidget(m_listingBar, 1, 0);
    ui.gridLayout_2->addWidget(ui.textEdit, 2, 0);
    connect(m_listingBar, &ListingBar::listingChanged, this, &Quarrow::repeatQuery);
    connect(ui.textEdit, &ResultPane::listingStatusChanged, this, &Quarrow::showListingLine);
    connect(ui.textEdit, &ResultPane::machinesFound, m_machines, &MachineChooser::setMachines);
    connect(m_machines, &MachineChooser::chosenChanged, this, [this] {
        if (m_last && !m_choosingMachine)
            repeatQuery();
    });
    connect(ui.textEdit, &ResultPane::noteChanged, this, &Quarrow::showNote);
    connect(ui.textEdit, &ResultPane::recordActivated, this, &Quarrow::showRecordDetail);
    connect(ui.textEdit, &ResultPane::detailRead, this, &Quarrow::takeDetail);
    addListingActions();
}

// Enter on a button presses it; in a page's date or type field it runs that
// page's query. F5 runs the last query again, Ctrl+L goes to the filter.
void Quarrow::addKeys()
{
    new FocusRing(centralWidget());
    for (QWidget* page : {ui.page, ui.page_2})
        for (QWidget* field : page->findChildren<QWidget*>())
            field->installEventFilter(this);
    auto* repeat = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(repeat, &QShortcut::activated, this, &Quarrow::repeatQuery);
    auto* filter = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), this);
    connect(filter, &QShortcut::activated, m_listingBar, &ListingBar::focusFilter);
}

bool Quarrow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return QMainWindow::eventFilter(watched, event);
    if (auto* button = qobject_cast<QAbstractButton*>(watched)) {
        button->click();
        return true;
    }
    auto* field = qobject_cast<QWidget*>(watched);
    if (field && ui.page->isAncestorOf(field)) {
        ui.pushButton->click();
        return true;
    }
    if (field && ui.page_2->isAncestorOf(field)) {
        ui.pushButton_2->click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// Nothing clips at the smallest size: the widest page and the listing bar
// decide it. The first size fits the screen's free area at any scale factor.
void Quarrow::fitSize()
{
    setMinimumSize(minimumSizeHint());
    if (const QScreen* shown = screen()) {
        const QSize room = shown->availableGeometry().size();
        resize(size().boundedTo(room).expandedTo(minimumSize()));
    }
}

// Tab follows the layout: row by row, left to right, then the pane.
void Quarrow::orderTabs()
{
    const QList<QWidget*> day{ui.comboBox, findChild<QWidget*>(QStringLiteral("typePicker")),
                              findChild<QWidget*>(QStringLiteral("machinePicker")), ui.pushButton,
                              ui.toolButton, ui.dateEdit, findChild<QWidget*>(QStringLiteral("reportButton")),
                              ui.m_pbExport, ui.textEdit};
    const QList<QWidget*> range{ui.comboBox_2, findChild<QWidget*>(QStringLiteral("typePicker_2")),
                                findChild<QWidget*>(QStringLiteral("machinePicker_2")), ui.pushButton_2,
                                ui.toolButton_2, ui.m_startdateTimeEdit, ui.m_enddateTimeEdit, ui.textEdit};
    for (const QList<QWidget*>& chain : {day, range})
        for (int i = 0; i + 1 < chain.size(); ++i)
            setTabOrder(chain.at(i), chain.at(i + 1));
}

Quarrow::~Quarrow()
{
    vxSysLog::release();
}

void Quarrow::closeEvent(QCloseEvent* /*event*/)
{
    // Closing saves nothing and leaves the service to the destructor.
}

void Quarrow::startLogService()
{
    vxSysLog::instance()->init();
}

void Quarrow::fillTypeLists()
{
    m_dayTypes = chooserFor(ui.comboBox, QString(), m_machines, this);
    m_rangeTypes = chooserFor(ui.comboBox_2, QStringLiteral("_2"), m_machines, this);
}

void Quarrow::presetDates()
{
    useChineseDates(ui.dateEdit, false);
    useChineseDates(ui.m_startdateTimeEdit, true);
    useChineseDates(ui.m_enddateTimeEdit, true);
    ui.dateEdit->setDateTime(QDateTime::currentDateTime());
    const QDateTime start = todayAt(QTime(0, 0, 0, 0));
    const QDateTime end = todayAt(QTime(23, 59, 59, 0));
    ui.m_startdateTimeEdit->setDateTime(start);
    ui.m_enddateTimeEdit->setDateTime(end);
    m_rangeDay = start.date();
    m_startTyping = new DateTimeTyping(ui.m_startdateTimeEdit, QStringLiteral("起始时间"),
                                       typingHint(ui.m_startdateTimeEdit, QStringLiteral("startTimeHint")));
    m_endTyping = new DateTimeTyping(ui.m_enddateTimeEdit, QStringLiteral("结束时间"),
                                     typingHint(ui.m_enddateTimeEdit, QStringLiteral("endTimeHint")));
}

// Both range fields hold what the operator typed and saw; otherwise the
// field that does not says why.
bool Quarrow::rangeIsTyped()
{
    return m_startTyping->isReady() && m_endTyping->isReady();
}

void Quarrow::connectButtons()
{
    connect(ui.pushButton, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.toolButton, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.pushButton_2, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.toolButton_2, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.m_pbExport, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
}

// An index no list entry has (a hand-edited or stale file) is treated like a
// missing one, so that a type is always shown and a query always has one.
// 0..4 are the types, 5 is 全部类型; several types are kept beside it.
void Quarrow::restoreRememberedType()
{
    const QSettings settings(kSettingsFile, QSettings::IniFormat);
    const int stored = settings.value(kTypeIndexKey, 0).toInt();
    m_comBoxIndex = (stored >= 0 && stored <= TypeChooser::kAllTypesIndex) ? stored : 0;
    ui.comboBox->setCurrentIndex(m_comBoxIndex);
    ui.comboBox_2->setCurrentIndex(m_comBoxIndex);
    const QVector<int> several = typesFromText(settings.value(kTypeSelectionKey).toString());
    if (several.size() > 1) {
        m_dayTypes->setTypes(several);
        m_rangeTypes->setTypes(several);
    }
}

void Quarrow::openLogFile(const QString& path)
{
    openLogs({path});
}

// Checked at once, off the GUI thread: a file that cannot be read says why
// in the pane before any query, and the machines to choose from come back.
void Quarrow::openLogs(const QStringList& logs)
{
    QStringList locations;
    for (const QString& log : logs)
        locations << absoluteLocation(log);
    m_sources = LogSources(locations);
    m_reportPage->setSources(m_sources);
    m_machines->setMachines(QStringList());
    setWindowTitle(QStringLiteral("%1 - %2").arg(defaultTitle(), sourcesName()));
    m_last.reset();
    m_listingBar->showFile(sourcesName());
    ui.textEdit->checkLogFile(m_sources);
    showStartHint();
}

// A file's path made absolute, keeping a "NAME=" before it; a database
// address as it is, and so is anything that holds a password (refused, and
// shown without it: a path made of it would hide it from shownLocation()).
QString Quarrow::absoluteLocation(const QString& log)
{
    if (SystemLog::LogSource::isDatabaseUrl(log) || SystemLog::LogSource::shownLocation(log) != log)
        return log;
    const int equals = log.indexOf(QLatin1Char('='));
    if (equals > 0 && !log.left(equals).contains(QLatin1Char('/')))
        return log.left(equals + 1) + QFileInfo(log.mid(equals + 1)).absoluteFilePath();
    return QFileInfo(log).absoluteFilePath();
}

// The title's and the line's name of what the window reads: a file's name,
// several files' names, or the central database's address, never with a
// password (an address that holds one is refused, and still named).
QString Quarrow::sourcesName() const
{
    QStringList names;
    for (const QString& location : m_sources.locations) {
        const QString shown = SystemLog::LogSource::shownLocation(location);
        names << (SystemLog::LogSource::isDatabaseUrl(location) ? shown : QFileInfo(shown).fileName());
    }
    return names.join(QStringLiteral("、"));
}

// What to do first, and which files the answers come from; the pane drops it
// with the first query.
void Quarrow::showStartHint()
{
    if (!hasLog()) {
        ui.textEdit->setPlaceholderText(m_noLogHint);
        return;
    }
    QStringList shown;
    for (const QString& location : m_sources.locations)
        shown << QDir::toNativeSeparators(SystemLog::LogSource::shownLocation(location));
    const bool database = !m_sources.locations.isEmpty() && SystemLog::LogSource::isDatabaseUrl(m_sources.locations.first());
    ui.textEdit->setPlaceholderText(
        QStringLiteral("选择查询类型和日期，按“查询”或回车键列出当天的记录。\n%1：%2")
            .arg(database ? QStringLiteral("读取的数据库") : QStringLiteral("读取的日志文件"), shown.join(QStringLiteral("\n"))));
}

LogSources Quarrow::listedSources() const
{
    return LogSources(m_sources.locations, m_machines->chosen());
}

namespace {

// Opens the local files dropped onto the window, merged when several.
class FileDrop : public QObject
{
public:
    FileDrop(Quarrow* window)
        : QObject(window)
        , m_window(window)
    {
    }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!droppedFiles(drag->mimeData()).isEmpty())
                drag->acceptProposedAction();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = droppedFiles(drop->mimeData());
            if (!files.isEmpty()) {
                drop->acceptProposedAction();
                m_window->openLogs(files);
            }
            return true;
        }
        return false;
    }

private:
    static QStringList droppedFiles(const QMimeData* data)
    {
        QStringList files;
        for (const QUrl& url : data ? data->urls() : QList<QUrl>()) {
            if (!url.isLocalFile())
                return QStringList();
            files << url.toLocalFile();
        }
        return files;
    }

    Quarrow* m_window;
};

} // namespace

void Quarrow::acceptDroppedFiles()
{
    setAcceptDrops(true);
    installEventFilter(new FileDrop(this));
}

void Quarrow::onButtonClicked()
{
    const QObject* source = sender();
    if (!source)
        return;
    const QString name = source->objectName();
    if (name == QLatin1String("pushButton"))
        queryDay();
    else if (name == QLatin1String("toolButton"))
        showRangePage();
    else if (name == QLatin1String("pushButton_2"))
        queryRange();
    else if (name == QLatin1String("toolButton_2"))
        ui.stackedWidget->setCurrentIndex(0);
    else if (name == QLatin1String("m_pbExport"))
        exportDay();
}

// The range page starts at the day chosen on the day page, each time
// another day was chosen there; a range set by hand stays otherwise.
void Quarrow::showRangePage()
{
    const QDate day = ui.dateEdit->date();
    if (day != m_rangeDay) {
        m_rangeDay = day;
        ui.m_startdateTimeEdit->setDateTime(QDateTime(day, QTime(0, 0, 0)));
        ui.m_enddateTimeEdit->setDateTime(QDateTime(day, QTime(23, 59, 59)));
    }
    ui.stackedWidget->setCurrentIndex(1);
}

// Written before the query runs, whatever it then finds. Several types keep
// the list's index of the last single choice.
void Quarrow::rememberDayType()
{
    QSettings settings(kSettingsFile, QSettings::IniFormat);
    const QVector<int> types = m_dayTypes->types();
    if (types.size() > 1) {
        QStringList codes;
        for (int type : types)
            codes << QString::number(type);
        settings.setValue(kTypeSelectionKey, codes.join(QLatin1Char(',')));
    } else {
        m_comBoxIndex = ui.comboBox->currentIndex();
        settings.setValue(kTypeIndexKey, m_comBoxIndex);
        settings.remove(kTypeSelectionKey);
    }
    settings.sync();
}

SystemLog::LogQuery Quarrow::listingOf(const TypeChooser* types) const
{
    LogQuery query;
    query.types = types->types();
    query.withGaps = true;
    return withFilterAndOrder(query);
}

void Quarrow::queryDay()
{
    if (!hasLog() || !m_listingBar->filterIsUsable())
        return;
    rememberDayType();
    rememberDay();
    m_last = Listing{true, listingOf(m_dayTypes), m_dayTypes->caption(), ui.dateEdit->date(), {}, {}};
    runListing();
}

void Quarrow::queryRange()
{
    if (!hasLog() || !m_listingBar->filterIsUsable() || !rangeIsTyped())
        return;
    rememberRange();
    m_last = Listing{false, listingOf(m_rangeTypes), m_rangeTypes->caption(), {}, ui.m_startdateTimeEdit->dateTime(),
                     ui.m_enddateTimeEdit->dateTime()};
    runListing();
}

// The last query once more, with the filter and order as they are now;
// before the first, the shown page's query.
void Quarrow::repeatQuery()
{
    if (!m_last) {
        (ui.stackedWidget->currentIndex() == 0 ? ui.pushButton : ui.pushButton_2)->click();
        return;
    }
    if (!m_listingBar->filterIsUsable())
        return;
    m_last->query = withFilterAndOrder(m_last->query);
    runListing();
}

void Quarrow::runListing()
{
    const Listing& last = *m_last;
    if (last.isDay)
        ui.textEdit->showDayQuery(listedSources(), last.query, last.day);
    else
        ui.textEdit->showRangeQuery(listedSources(), last.query, last.start, last.end);
    markFloods();
}

// The 统计 page: a third page of the stack, reached by 统计 under 高级 on
// the day page; it takes the room of the listing while it is shown.
void Quarrow::addReportPage()
{
    m_reportPage = new ReportPage(m_machines, ui.stackedWidget);
    m_reportPage->setSources(m_sources);
    ui.stackedWidget->addWidget(m_reportPage);
    auto* button = new QToolButton(ui.page);
    button->setObjectName(QStringLiteral("reportButton"));
    button->setText(QStringLiteral("统计"));
    button->setToolTip(QStringLiteral("报警统计：每十分钟报警数、报警泛滥、最常见和抖动的报警"));
    button->setFont(ui.toolButton->font());
    button->setSizePolicy(ui.toolButton->sizePolicy());
    ui.gridLayout->addWidget(button, 1, 3);
    connect(button, &QToolButton::clicked, this, &Quarrow::showReportPage);
    connect(m_reportPage, &ReportPage::backRequested, this, [this] { leaveReportPage(0); });
    connect(m_reportPage, &ReportPage::listRequested, this, &Quarrow::listFromReport);
    connect(ui.stackedWidget, &QStackedWidget::currentChanged, this, &Quarrow::fitPagesToCurrent);
    fitPagesToCurrent(ui.stackedWidget->currentIndex());
    m_floodRunner = new ReportRunner(this);
    connect(m_floodRunner, &ReportRunner::finished, this, [this](const SystemLog::AlarmReport& report) {
        QVector<QPair<QDateTime, QDateTime>> floods;
        for (const SystemLog::AlarmReport::Flood& flood : report.floods)
            floods << qMakePair(QDateTime::fromString(flood.start, kTimeText), QDateTime::fromString(flood.end, kTimeText));
        ui.textEdit->strip()->setFloods(floods);
    });
}

// A stack is as large as its largest page: the pages not shown are left out
// of its size (the 统计 page's chart and tables would push the listing to a
// strip at the bottom), and the listing takes the room the form leaves.
void Quarrow::fitPagesToCurrent(int current)
{
    const bool report = current == ui.stackedWidget->indexOf(m_reportPage);
    for (int i = 0; i < ui.stackedWidget->count(); ++i) {
        QWidget* page = ui.stackedWidget->widget(i);
        if (!m_pagePolicies.contains(page))
            m_pagePolicies.insert(page, page->sizePolicy());
        page->setSizePolicy(i == current ? m_pagePolicies.value(page) : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
    }
    m_listingBar->setVisible(!report);
    ui.textEdit->setVisible(!report);
    ui.gridLayout_2->setRowStretch(0, report ? 1 : 0);
    ui.gridLayout_2->setRowStretch(2, report ? 0 : 1);
    ui.stackedWidget->updateGeometry();
}

// First shown: the thirty days up to the day page's day, alarms.
void Quarrow::showReportPage()
{
    if (!m_reportPage->hasReport()) {
        const QDate day = ui.dateEdit->date();
        m_reportPage->setPeriod(QDateTime(day.addDays(-29), QTime(0, 0, 0)), QDateTime(day, QTime(23, 59, 59)));
    }
    ui.stackedWidget->setCurrentWidget(m_reportPage);
}

void Quarrow::leaveReportPage(int page)
{
    m_reportPage->cancelReport();
    ui.stackedWidget->setCurrentIndex(page);
}

// A bar or a row of the 统计 page: those records on the range page.
void Quarrow::listFromReport(const QDateTime& start, const QDateTime& end, const QVector<int>& types,
                             const QStringList& machines, const QString& pattern)
{
    ui.m_startdateTimeEdit->setDateTime(start);
    ui.m_enddateTimeEdit->setDateTime(end);
    m_rangeDay = ui.dateEdit->date();
    m_rangeTypes->setTypes(types);
    m_machines->setChosen(machines);
    m_listingBar->setFilter(pattern, true);
    leaveReportPage(1);
    queryRange();
}

// Floods of alarms in the period listed are marked on the strip, when
// alarms are among the types listed.
void Quarrow::markFloods()
{
    ui.textEdit->strip()->setFloods({});
    const LogQuery& query = m_last->query;
    if (!query.types.isEmpty() && !query.types.contains(3)) {
        m_floodRunner->cancel();
        return;
    }
    SystemLog::AlarmReport::Request request;
    request.periodsOnly = true;
    if (m_last->isDay) {
        request.since = SystemLog::dayStart(m_last->day.toString(kDayFormat));
        request.until = SystemLog::dayEnd(m_last->day.toString(kDayFormat));
    } else {
        request.since = m_last->start.toString(kTimeText);
        request.until = m_last->end.toString(kTimeText);
    }
    m_floodRunner->start(listedSources(), request);
}

SystemLog::LogQuery Quarrow::withFilterAndOrder(SystemLog::LogQuery query) const
{
    query.grep = m_listingBar ? m_listingBar->filter() : QString();
    // Plain text unless the operator asks for a regular expression; as
    // vxlog --grep, an upper-case letter makes it case-sensitive.
    query.fixedStrings = !m_listingBar || !m_listingBar->filterIsRegex();
    query.ignoreCase = query.grep == query.grep.toLower();
    query.newestFirst = m_listingBar && m_listingBar->newestFirst();
    return query;
}

// The file is named when it is not the working folder's ./dbLog.db; of
// several machines, the ones listed.
void Quarrow::showListingLine(const QString& status)
{
    if (!m_last)
        return;
    const bool ownLog = m_sources.locations == QStringList(QDir::current().absoluteFilePath(QStringLiteral("dbLog.db")));
    const QString name = m_machines->machines().size() > 1
                             ? QStringLiteral("%1 · %2").arg(sourcesName(), m_machines->caption())
                             : sourcesName();
    const QString period = m_last->isDay ? m_last->day.toString(kDayFormat)
                                         : QStringLiteral("%1 至 %2").arg(m_last->start.toString(kTimeText),
                                                                         m_last->end.toString(kTimeText));
    m_listingBar->showLine(ownLog ? QString() : name, m_last->types, period, m_last->query.grep,
                           !m_last->query.fixedStrings, status);
}

void Quarrow::showNote(const QString& note)
{
    m_note = note;
    m_listingBar->showNote(note);
}

// The export holds the blocks the pane lists for the day and types chosen
// (drop records included, see DayExport::dayListing). They are counted, and
// fixed by each machine's highest row id, before the folder dialog opens:
// records stored while it is open do not reach the file. A second press
// while an export runs is ignored. Of several machines the file holds those
// chosen, each record naming its machine; one machine's day is the same
// file its own log exports.
void Quarrow::exportDay()
{
    if (m_exporting || !hasLog())
        return;
    m_exporting = true;
    auto finish = [this] { m_exporting = false; };
    const QString day = ui.dateEdit->date().toString(kDayFormat);
    QString usage;
    const std::unique_ptr<LogSource> reader = listedSources().reader(usage);
    if (!reader) {
        inform(DayExport::queryFailedText(day, usage));
        return finish();
    }
    LogQuery query = DayExport::dayListing(day, m_dayTypes->types());
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> written{0};
    DayExport::Count count;
    bool read = false;

    const bool counted = runWhileAnswering(this, *reader, cancelled, [] { return QStringLiteral("正在读取记录…"); }, [&] {
        read = reader->open() && DayExport::fixAndCount(*reader, query, count);
    });
    if (!counted || cancelled.load())
        return finish();
    if (!read) {
        inform(DayExport::queryFailedText(day, reader->errorText()));
        return finish();
    }
    if (count.blocks == 0) {
        inform(DayExport::noRecordsText(day));
        return finish();
    }

    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("请选择文件存储路径"), QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        inform(QStringLiteral("路径无效"));
        return finish();
    }

    const QString path = DayExport::filePath(folder, day);
    DayExport::Outcome outcome{DayExport::Status::Cancelled, QString()};
    const bool wrote = runWhileAnswering(
        this, *reader, cancelled,
        [&] {
            return QStringLiteral("正在导出：%1 / %2 条")
                .arg(SystemLog::groupedCount(written.load()), SystemLog::groupedCount(count.blocks));
        },
        [&] {
            outcome = DayExport::writeListing(path, *reader, query, [&](qint64 records) {
                written.store(records);
                return !cancelled.load();
            });
            if (cancelled.load())
                outcome.status = DayExport::Status::Cancelled;
        },
        count.blocks, [&] { return written.load(); });
    if (wrote)
        inform(DayExport::outcomeText(outcome, path, count.gaps));
    finish();
}

void Quarrow::inform(const QString& text)
{
    QMessageBox::information(this, QStringLiteral("提示"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

// ---- the day and the range remembered ----

void Quarrow::rememberDay()
{
    QSettings settings(kSettingsFile, QSettings::IniFormat);
    const QDate day = ui.dateEdit->date();
    settings.setValue(kLastDayKey, day == QDate::currentDate() ? kToday : day.toString(kDayFormat));
    settings.sync();
}

void Quarrow::rememberRange()
{
    QSettings settings(kSettingsFile, QSettings::IniFormat);
    settings.setValue(kLastRangeStartKey, ui.m_startdateTimeEdit->dateTime().toString(kTimeText));
    settings.setValue(kLastRangeEndKey, ui.m_enddateTimeEdit->dateTime().toString(kTimeText));
    settings.sync();
}

// A value that is not a day or a time (a hand-edited file) is passed over.
// A restored range stays when the range page is first shown; without one,
// that page starts at the restored day, as it follows the day page.
void Quarrow::restoreRememberedPeriod()
{
    const QSettings settings(kSettingsFile, QSettings::IniFormat);
    const QString day = settings.value(kLastDayKey).toString();
    const QDate date = day == kToday ? QDate::currentDate() : QDate::fromString(day, kDayFormat);
    if (date.isValid())
        ui.dateEdit->setDate(date);
    const QDateTime start = QDateTime::fromString(settings.value(kLastRangeStartKey).toString(), kTimeText);
    const QDateTime end = QDateTime::fromString(settings.value(kLastRangeEndKey).toString(), kTimeText);
    if (start.isValid() && end.isValid()) {
        ui.m_startdateTimeEdit->setDateTime(start);
        ui.m_enddateTimeEdit->setDateTime(end);
        m_rangeDay = ui.dateEdit->date();
    }
}

// ---- actions on what the pane lists ----

namespace {

QAction* listingAction(QWidget* window, const QString& text, const QKeySequence& keys, const char* name)
{
    auto* action = new QAction(text, window);
    action->setObjectName(QLatin1String(name));
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
    }
    return action;
}

// "2024-05-01", or "20240501-080000至20240501-180000": what a file of the
// listing is named after.
QString fileStem(const QString& period)
{
    QString stem = period;
    stem.remove(QLatin1Char(':'));
    stem.replace(QStringLiteral(" 至 "), QStringLiteral("至"));
    stem.replace(QLatin1Char(' '), QLatin1Char('-'));
    return stem + QStringLiteral("系统日志");
}

} // namespace

void Quarrow::addListingActions()
{
    QAction* goTo = listingAction(this, QStringLiteral("转到时间…"), QKeySequence(Qt::CTRL + Qt::Key_G), "goToTimeAction");
    QAction* detail = listingAction(this, QStringLiteral("记录详情（Enter）"), QKeySequence(), "recordDetailAction");
    QAction* csv = listingAction(this, QStringLiteral("导出为 CSV…"), QKeySequence(), "exportCsvAction");
    QAction* print = listingAction(this, QStringLiteral("打印…"), QKeySequence::Print, "printAction");
    QAction* pdf = listingAction(this, QStringLiteral("导出为 PDF…"), QKeySequence(), "exportPdfAction");
    connect(goTo, &QAction::triggered, this, &Quarrow::goToTime);
    connect(detail, &QAction::triggered, this, [this] { showRecordDetail(ui.textEdit->caretRecord()); });
    connect(csv, &QAction::triggered, this, &Quarrow::exportCsv);
    connect(print, &QAction::triggered, this, &Quarrow::printListing);
    connect(pdf, &QAction::triggered, this, &Quarrow::exportPdf);
    QMenu* menu = m_listingBar->actionsMenu();
    menu->addActions({goTo, detail});
    menu->addSeparator();
    menu->addActions({csv, print, pdf});
    ui.textEdit->setContextActions({goTo, csv, print, pdf});
    connect(ui.textEdit, &ResultPane::timeChoiceRequested, this, [this](const QDateTime& around) {
        GoToTimeDialog dialog(listedPeriodStart(), listedPeriodEnd(), around, this);
        if (dialog.exec() == QDialog::Accepted)
            ui.textEdit->goToTime(dialog.time());
    });
    connect(m_listingBar->savedFiltersMenu(), &QMenu::aboutToShow, this, &Quarrow::fillSavedFiltersMenu);
}

QString Quarrow::listedPeriod() const
{
    if (!m_last)
        return QString();
    return m_last->isDay ? m_last->day.toString(kDayFormat)
                         : QStringLiteral("%1 至 %2").arg(m_last->start.toString(kTimeText), m_last->end.toString(kTimeText));
}

QDateTime Quarrow::listedPeriodStart() const
{
    if (!m_last)
        return QDateTime();
    return m_last->isDay ? QDateTime(m_last->day, QTime(0, 0)) : m_last->start;
}

QDateTime Quarrow::listedPeriodEnd() const
{
    if (!m_last)
        return QDateTime();
    return m_last->isDay ? QDateTime(m_last->day, QTime(23, 59, 59)) : m_last->end;
}

void Quarrow::goToTime()
{
    if (!m_last || !ui.textEdit->listing()) {
        inform(QStringLiteral("请先查询，再转到某个时间的记录。"));
        return;
    }
    GoToTimeDialog dialog(listedPeriodStart(), listedPeriodEnd(), listedPeriodStart(), this);
    if (dialog.exec() == QDialog::Accepted)
        ui.textEdit->goToTime(dialog.time());
}

// The dialog is made once and stays beside the window; each record shown
// replaces the one before.
void Quarrow::showRecordDetail(int record)
{
    const std::optional<PaneListing> listed = ui.textEdit->listing();
    if (!listed || record < 0 || record >= listed->keys.count())
        return;
    if (!m_detail) {
        m_detail = new RecordDetailDialog(this);
        connect(m_detail, &RecordDetailDialog::minutesChanged, this, [this](int minutes) {
            if (!m_detailListing)
                return;
            m_detail->showReading();
            ui.textEdit->readDetail(*m_detailListing, m_detailRecord, minutes);
        });
        connect(m_detail, &RecordDetailDialog::precedingChosen, this, &Quarrow::showPreceding);
    }
    m_detailListing = std::make_unique<PaneListing>(*listed);
    m_detailRecord = record;
    m_detail->showReading();
    m_detail->show();
    m_detail->raise();
    m_detail->activateWindow();
    ui.textEdit->readDetail(*listed, record, m_detail->minutes());
}

void Quarrow::takeDetail(const RecordDetail& detail)
{
    if (!m_detail || !m_detailListing || detail.record != m_detailRecord)
        return;
    const bool several = m_detailListing->namesMachines();
    m_detail->showDetail(detail, several ? m_detailListing->machineOf(detail.record) : sourcesName(), several);
}

// A record of the span before an alarm: shown where the pane lists it; else
// that span is listed on the range page (the preceding types and the
// alarms, of that machine, without a filter) and the record shown there.
void Quarrow::showPreceding(const QString& machine, qint64 id, const QString& /*datetime*/)
{
    if (const std::optional<PaneListing> listed = ui.textEdit->listing()) {
        const int place = listed->namesMachines() ? listed->machines.indexOf(machine) : 0;
        for (int record = 0; place >= 0 && record < listed->keys.count(); ++record) {
            if (listed->keys.id(record) == id && listed->keys.machine(record) == place) {
                ui.textEdit->showListedRecord(machine, id);
                return;
            }
        }
    }
    if (!m_detail)
        return;
    const RecordDetail& alarm = m_detail->detail();
    const QDateTime end = QDateTime::fromString(QString::fromLatin1(alarm.stored.datetime), kTimeText);
    const QDateTime start = QDateTime::fromString(SystemLog::AlarmContext::minutesBefore(alarm.stored.datetime, alarm.minutes), kTimeText);
    if (!start.isValid() || !end.isValid())
        return;
    ui.m_startdateTimeEdit->setDateTime(start);
    ui.m_enddateTimeEdit->setDateTime(end);
    m_rangeDay = ui.dateEdit->date(); // this range stays when the page is shown again
    QVector<int> types = SystemLog::AlarmContext::precedingTypes();
    types << SystemLog::AlarmContext::kAlarmType;
    m_rangeTypes->setTypes(types);
    m_listingBar->setFilter(QString(), false);
    if (m_machines->machines().size() > 1) {
        m_choosingMachine = true;
        m_machines->setChosen({machine});
        m_choosingMachine = false;
    }
    ui.stackedWidget->setCurrentIndex(1);
    queryRange();
    ui.textEdit->showListedRecord(machine, id);
}

// ---- saved filters ----

void Quarrow::fillSavedFiltersMenu()
{
    QMenu* menu = m_listingBar->savedFiltersMenu();
    menu->clear();
    qDeleteAll(menu->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly)); // clear() leaves submenus
    const QList<SavedFilter> saved = SavedFilters(kSettingsFile).all();
    for (const SavedFilter& filter : saved) {
        QAction* apply = menu->addAction(filter.name, this, [this, filter] { applyFilter(filter); });
        apply->setToolTip(filter.filter.isEmpty() ? QString() : QStringLiteral("筛选“%1”").arg(filter.filter));
    }
    if (saved.isEmpty())
        menu->addAction(QStringLiteral("（还没有保存的方案）"))->setEnabled(false);
    menu->addSeparator();
    menu->addAction(QStringLiteral("保存当前筛选…"), this, &Quarrow::saveFilter)->setObjectName(QStringLiteral("saveFilterAction"));
    QMenu* remove = menu->addMenu(QStringLiteral("删除方案"));
    remove->setObjectName(QStringLiteral("deleteFilterMenu"));
    remove->setEnabled(!saved.isEmpty());
    for (const SavedFilter& filter : saved)
        remove->addAction(filter.name, this, [this, name = filter.name] { deleteFilter(name); });
}

void Quarrow::saveFilter()
{
    TypeChooser* types = ui.stackedWidget->currentIndex() == 0 ? m_dayTypes : m_rangeTypes;
    const QString filterText = m_listingBar->filter();
    const QString suggested = filterText.isEmpty() ? types->caption() : QStringLiteral("%1 · %2").arg(types->caption(), filterText);
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("保存筛选方案"),
                                               QStringLiteral("把当前的记录类型和筛选文字保存为方案，名称："), QLineEdit::Normal,
                                               suggested, &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    SavedFilters store(kSettingsFile);
    if (store.contains(name)
        && QMessageBox::question(this, QStringLiteral("提示"), QStringLiteral("已有名为“%1”的筛选方案，要用当前的筛选替换它吗？").arg(name))
               != QMessageBox::Yes)
        return;
    store.save({name, types->types(), filterText, m_listingBar->filterIsRegex()});
}

// On the shown page, as if the operator had chosen its types, typed its
// filter and pressed 查询.
void Quarrow::applyFilter(const SavedFilter& filter)
{
    const bool dayPage = ui.stackedWidget->currentIndex() == 0;
    (dayPage ? m_dayTypes : m_rangeTypes)->setTypes(filter.types);
    m_listingBar->setFilter(filter.filter, filter.regex);
    (dayPage ? ui.pushButton : ui.pushButton_2)->click();
}

void Quarrow::deleteFilter(const QString& name)
{
    if (QMessageBox::question(this, QStringLiteral("提示"), QStringLiteral("删除筛选方案“%1”？").arg(name)) == QMessageBox::Yes)
        SavedFilters(kSettingsFile).remove(name);
}

// ---- CSV, print, PDF ----

QStringList Quarrow::printHeader(const PaneListing& listed) const
{
    const qint64 gaps = listed.gapCount();
    QString count = QStringLiteral("共 %1 条").arg(SystemLog::groupedCount(listed.keys.count() - gaps));
    if (gaps > 0)
        count += QStringLiteral(" · %1 处空缺").arg(SystemLog::groupedCount(gaps));
    QString file = QStringLiteral("%1 · 文件：%2").arg(defaultTitle(), sourcesName());
    if (listed.namesMachines() || m_machines->machines().size() > 1)
        file += QStringLiteral(" · %1").arg(m_machines->caption());
    QStringList listing{m_last ? m_last->types : QString(), listedPeriod()};
    if (m_last && !m_last->query.grep.isEmpty())
        listing << QStringLiteral("筛选“%1”").arg(m_last->query.grep);
    listing << count;
    return {file, listing.join(QStringLiteral(" · ")),
            QStringLiteral("打印于 %1").arg(QDateTime::currentDateTime().toString(kTimeText))};
}

// The listing to write into a file or onto paper; none, and the operator
// told why, when nothing is listed. None either while a file is written.
std::optional<PaneListing> Quarrow::listingToWrite(const QString& verb)
{
    if (m_busyWithFile)
        return std::nullopt;
    std::optional<PaneListing> listed = ui.textEdit->listing();
    if (!listed || listed->keys.count() == 0) {
        inform(QStringLiteral("没有列出的记录可以%1。请先查询。").arg(verb));
        return std::nullopt;
    }
    return listed;
}

// The file the operator chooses for the listing, named after its period and
// with the format's suffix when typed without one; empty when cancelled.
QString Quarrow::chooseExportFile(const QString& format, const QString& suffix)
{
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出为 %1 文件").arg(format),
        QDir::current().filePath(fileStem(listedPeriod()) + QLatin1Char('.') + suffix),
        QStringLiteral("%1 文件 (*.%2)").arg(format, suffix));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    return path;
}

void Quarrow::exportCsv()
{
    const std::optional<PaneListing> listed = listingToWrite(QStringLiteral("导出"));
    if (!listed)
        return;
    const QString path = chooseExportFile(QStringLiteral("CSV"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    QString usage;
    const std::unique_ptr<LogSource> reader = listed->sources.reader(usage);
    if (!reader) {
        inform(QStringLiteral("无法读取列出的记录：%1").arg(usage));
        return;
    }
    m_busyWithFile = true;
    const int total = listed->keys.count();
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> written{0};
    SystemLog::ListingExport::Outcome outcome;
    const bool ended = runWhileAnswering(
        this, *reader, cancelled,
        [&] {
            return QStringLiteral("正在导出为 CSV：%1 / %2 条")
                .arg(SystemLog::groupedCount(written.load()), SystemLog::groupedCount(total));
        },
        [&] {
            if (!reader->open()) {
                outcome = {DayExport::Status::ReadFailed, reader->errorText(), 0};
                return;
            }
            const RecordKeys::Snapshot& keys = listed->keys;
            outcome = SystemLog::ListingExport::writeCsv(
                path, *reader, total,
                [&keys](int record) { return SystemLog::ListingExport::Key{keys.machine(record), keys.id(record)}; },
                listed->namesMachines(), [&](qint64 records) {
                    written.store(records);
                    return !cancelled.load();
                });
            if (cancelled.load())
                outcome.status = DayExport::Status::Cancelled;
        },
        total, [&] { return written.load(); });
    if (ended)
        inform(SystemLog::ListingExport::outcomeText(outcome, path));
    m_busyWithFile = false;
}

// Page by page from the window's event loop, so that it goes on answering;
// past a second a progress dialog shows how far it is, with 取消.
bool Quarrow::printOn(QPrinter& printer, const PaneListing& listed, int& pages, QString& error)
{
    ListingPrinter job(printer, listed, printHeader(listed));
    BusyCursor busy;
    if (!job.start()) {
        error = job.error();
        return false;
    }
    QProgressDialog progress(QString(), QStringLiteral("取消"), 0, std::max(1, job.recordCount()), this);
    progress.setWindowTitle(QStringLiteral("提示"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(INT_MAX); // shown by the timer below
    progress.reset();
    bool cancelled = false;
    QEventLoop loop;
    connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        cancelled = true;
        loop.quit();
    });
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, [&] {
        cancelled = true;
        loop.quit();
    });
    QTimer step;
    connect(&step, &QTimer::timeout, &loop, [&] {
        if (!job.printPage()) {
            loop.quit();
            return;
        }
        progress.setLabelText(QStringLiteral("正在打印：第 %1 页，%2 / %3 条")
                                  .arg(job.pagesPrinted())
                                  .arg(SystemLog::groupedCount(job.recordsPrinted()), SystemLog::groupedCount(job.recordCount())));
        if (progress.isVisible())
            progress.setValue(std::min(job.recordCount() - 1, job.recordsPrinted()));
    });
    QTimer::singleShot(1000, &progress, [&] {
        if (!cancelled && step.isActive())
            progress.show();
    });
    step.start(0);
    loop.exec();
    step.stop();
    if (cancelled || job.failed()) {
        error = cancelled ? QString() : job.error();
        job.abort();
        return false;
    }
    if (!job.finish()) {
        error = QStringLiteral("打印未能完成");
        return false;
    }
    pages = job.pagesPrinted();
    return true;
}

void Quarrow::printListing()
{
    const std::optional<PaneListing> listed = listingToWrite(QStringLiteral("打印"));
    if (!listed)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(fileStem(listedPeriod()));
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("打印"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_busyWithFile = true;
    int pages = 0;
    QString error;
    if (printOn(printer, *listed, pages, error))
        inform(QStringLiteral("已打印 %1 条记录，共 %2 页。").arg(SystemLog::groupedCount(listed->keys.count())).arg(pages));
    else if (!error.isEmpty())
        inform(QStringLiteral("打印失败：%1").arg(error));
    m_busyWithFile = false;
}

// Printed into a file beside the one chosen, which replaces it only once the
// document is complete: a cancelled or failed export leaves an earlier file
// as it was and no partial one.
void Quarrow::exportPdf()
{
    const std::optional<PaneListing> listed = listingToWrite(QStringLiteral("导出"));
    if (!listed)
        return;
    const QString path = chooseExportFile(QStringLiteral("PDF"), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    QTemporaryFile partial(QFileInfo(path).absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(QFileInfo(path).fileName())));
    if (!partial.open()) {
        inform(QStringLiteral("无法创建 PDF 文件，路径如下：\n%1\n原因：%2").arg(path, partial.errorString()));
        return;
    }
    partial.close();
    m_busyWithFile = true;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(partial.fileName());
    printer.setDocName(fileStem(listedPeriod()));
    int pages = 0;
    QString error;
    const bool printed = printOn(printer, *listed, pages, error);
    if (printed) {
        QFile::remove(path);
        if (partial.rename(path)) {
            partial.setAutoRemove(false);
            inform(QStringLiteral("已将 %1 条记录导出为 PDF 文件（%2 页），路径如下：\n%3")
                       .arg(SystemLog::groupedCount(listed->keys.count()))
                       .arg(pages)
                       .arg(path));
        } else {
            partial.setAutoRemove(false);
            inform(QStringLiteral("PDF 已写好，但无法改名为：\n%1\n它保存在：\n%2").arg(path, partial.fileName()));
        }
    } else if (!error.isEmpty()) {
        inform(QStringLiteral("导出 PDF 失败，没有写入文件，路径如下：\n%1\n原因：%2").arg(path, error));
    }
    m_busyWithFile = false;
}
