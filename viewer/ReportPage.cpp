#include "ReportPage.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <qwt_plot_renderer.h>

#include <vxSyslog/ListingBlock.h>

#include "MachineChooser.h"
#include "ReportChart.h"
#include "ReportRunner.h"
#include "TypeChooser.h"

using SystemLog::AlarmReport;

namespace {

const QString kReportTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QTableWidget* newTable(const QStringList& header, QWidget* parent)
{
    auto* table = new QTableWidget(0, header.size(), parent);
    table->setHorizontalHeaderLabels(header);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setMinimumHeight(80);
    return table;
}

void setRow(QTableWidget* table, int row, const QStringList& cells, bool outside = false)
{
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (outside)
            item->setBackground(QColor(0xfd, 0xe2, 0xe0));
        table->setItem(row, column, item);
    }
}

// A message on one line, as the tables show it.
QString reportTextLine(const QByteArray& message)
{
    QString text = QString::fromUtf8(message);
    while (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.replace(QLatin1Char('\n'), QStringLiteral("⏎"));
}

QString percent(double share)
{
    return QStringLiteral("%1 %").arg(share * 100, 0, 'f', 1);
}

} // namespace

ReportPage::ReportPage(MachineChooser* machines, QWidget* parent)
    : QWidget(parent)
    , m_machines(machines)
    , m_runner(new ReportRunner(this))
{
    setObjectName(QStringLiteral("page_3"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(5);
    buildControls();
    buildResults();
    connect(m_runner, &ReportRunner::finished, this, &ReportPage::showReport);
    connect(m_runner, &ReportRunner::failed, this, &ReportPage::showFailure);
    // Esc anywhere in the window while a report is computed (the page is
    // hidden, and so its shortcut idle, while another page is shown).
    m_cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this, nullptr, nullptr, Qt::WindowShortcut);
    m_cancel->setEnabled(false);
    connect(m_cancel, &QShortcut::activated, this, &ReportPage::cancelReport);
}

ReportPage::~ReportPage() = default;

void ReportPage::buildControls()
{
    QFont font;
    font.setPointSize(11);
    auto* grid = new QGridLayout;
    grid->setSpacing(5);
    auto label = [&](const QString& text) {
        auto* shown = new QLabel(text, this);
        shown->setFont(font);
        shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return shown;
    };
    auto* list = new QComboBox(this);
    list->setObjectName(QStringLiteral("reportTypes"));
    list->setFont(font);
    auto* picker = new QToolButton(this);
    picker->setObjectName(QStringLiteral("typePicker_3"));
    picker->setFont(font);
    auto* machineButton = new QToolButton(this);
    machineButton->setObjectName(QStringLiteral("machinePicker_3"));
    machineButton->setFont(font);
    m_machines->addButton(machineButton);
    m_types = new TypeChooser(list, picker, this);
    m_types->setTypes({3});
    auto* cell = new QHBoxLayout;
    cell->setSpacing(2);
    cell->addWidget(list, 1);
    cell->addWidget(picker);
    cell->addWidget(machineButton);

    m_start = new QDateTimeEdit(this);
    m_end = new QDateTimeEdit(this);
    for (QDateTimeEdit* editor : {m_start, m_end}) {
        editor->setFont(font);
        editor->setCalendarPopup(true);
        editor->setDisplayFormat(QStringLiteral("yyyy/M/d HH:mm:ss"));
    }
    m_start->setObjectName(QStringLiteral("reportStart"));
    m_end->setObjectName(QStringLiteral("reportEnd"));
    m_run = new QPushButton(QStringLiteral("统计"), this);
    m_run->setObjectName(QStringLiteral("reportRun"));
    m_run->setFont(font);
    auto* back = new QToolButton(this);
    back->setObjectName(QStringLiteral("reportBack"));
    back->setText(QStringLiteral("返回"));
    back->setToolTip(QStringLiteral("返回按天查询"));
    back->setFont(font);
    m_print = new QToolButton(this);
    m_print->setObjectName(QStringLiteral("reportPrint"));
    m_print->setText(QStringLiteral("打印"));
    m_export = new QToolButton(this);
    m_export->setObjectName(QStringLiteral("reportExport"));
    m_export->setText(QStringLiteral("导出"));
    m_export->setToolTip(QStringLiteral("把图表和报表导出为 PDF、PNG 或网页"));

    grid->addWidget(label(QStringLiteral("统计类型：")), 0, 0);
    grid->addLayout(cell, 0, 1);
    grid->addWidget(m_run, 0, 2);
    grid->addWidget(back, 0, 3);
    grid->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum), 0, 4);
    grid->addWidget(m_print, 0, 5);
    grid->addWidget(label(QStringLiteral("起始时间：")), 1, 0);
    grid->addWidget(m_start, 1, 1);
    grid->addWidget(label(QStringLiteral("结束时间：")), 1, 2);
    grid->addWidget(m_end, 1, 3);
    grid->addWidget(m_export, 1, 5);
    static_cast<QVBoxLayout*>(layout())->addLayout(grid);

    connect(m_run, &QPushButton::clicked, this, &ReportPage::runReport);
    connect(back, &QToolButton::clicked, this, &ReportPage::backRequested);
    connect(m_print, &QToolButton::clicked, this, &ReportPage::printReport);
    connect(m_export, &QToolButton::clicked, this, &ReportPage::exportReport);
}

void ReportPage::buildResults()
{
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("reportStatus"));
    m_status->setWordWrap(true);
    m_chart = new ReportChart(this);
    m_chart->setObjectName(QStringLiteral("reportChart"));
    m_tabs = new QTabWidget(this);
    m_kpis = newTable({QStringLiteral("指标"), QStringLiteral("数值"), QStringLiteral("参考值"), QStringLiteral("评价")}, this);
    m_top = newTable({QStringLiteral("条数"), QStringLiteral("占比"), QStringLiteral("报警文本")}, this);
    m_chattering = newTable({QStringLiteral("抖动次数"), QStringLiteral("条数"), QStringLiteral("报警文本")}, this);
    m_floods = newTable({QStringLiteral("开始"), QStringLiteral("结束"), QStringLiteral("条数")}, this);
    m_kpis->setObjectName(QStringLiteral("reportKpis"));
    m_top->setObjectName(QStringLiteral("reportTop"));
    m_chattering->setObjectName(QStringLiteral("reportChattering"));
    m_floods->setObjectName(QStringLiteral("reportFloods"));
    m_tabs->addTab(m_kpis, QStringLiteral("指标"));
    m_tabs->addTab(m_top, QStringLiteral("最常见的报警"));
    m_tabs->addTab(m_chattering, QStringLiteral("抖动报警"));
    m_tabs->addTab(m_floods, QStringLiteral("报警泛滥"));
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->addWidget(m_status);
    layout->addWidget(m_chart, 3);
    layout->addWidget(m_tabs, 2);
    connect(m_top, &QTableWidget::cellClicked, this, [this](int row) { listText(m_top, row); });
    connect(m_chattering, &QTableWidget::cellClicked, this, [this](int row) { listText(m_chattering, row); });
    connect(m_floods, &QTableWidget::cellClicked, this, [this](int row) { listFlood(row); });
    connect(m_chart, &ReportChart::barClicked, this,
            [this](const QDateTime& start, const QDateTime& end, int type, const QString& machine) {
                emit listRequested(start, end, type >= 0 ? QVector<int>{type} : m_report.request.types,
                                   machine.isEmpty() ? m_reportMachines : QStringList(machine), QString());
            });
    m_print->setEnabled(false);
    m_export->setEnabled(false);
}

void ReportPage::setPeriod(const QDateTime& start, const QDateTime& end)
{
    m_start->setDateTime(start);
    m_end->setDateTime(end);
}

void ReportPage::setTypes(const QVector<int>& types)
{
    m_types->setTypes(types);
}

QString ReportPage::sourceName() const
{
    QStringList names;
    for (const QString& location : m_sources.locations)
        names << QDir::toNativeSeparators(location);
    return names.join(QStringLiteral("、"));
}

QDateTime ReportPage::reportStart() const
{
    return QDateTime::fromString(m_report.request.since, kReportTimeFormat);
}

QDateTime ReportPage::reportEnd() const
{
    return QDateTime::fromString(m_report.request.until, kReportTimeFormat);
}

void ReportPage::runReport()
{
    AlarmReport::Request request;
    request.types = m_types->types();
    request.since = m_start->dateTime().toString(kReportTimeFormat);
    request.until = m_end->dateTime().toString(kReportTimeFormat);
    if (request.since > request.until) {
        m_status->setText(QStringLiteral("起始时间晚于结束时间，没有记录能在这段时间内"));
        return;
    }
    m_reportMachines = m_machines->chosen();
    m_status->setText(QStringLiteral("正在统计…（按 Esc 取消）"));
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_run->setEnabled(false);
    m_cancel->setEnabled(true);
    m_runner->start(LogSources(m_sources.locations, m_reportMachines), request);
}

void ReportPage::cancelReport()
{
    if (!m_runner->isRunning())
        return;
    m_runner->cancel();
    QApplication::restoreOverrideCursor();
    m_run->setEnabled(true);
    m_cancel->setEnabled(false);
    m_status->setText(QStringLiteral("统计已取消"));
}

QString ReportPage::status() const
{
    return m_status->text();
}

void ReportPage::showFailure(const QString& reason)
{
    QApplication::restoreOverrideCursor();
    m_run->setEnabled(true);
    m_cancel->setEnabled(false);
    m_status->setText(QStringLiteral("统计失败：%1").arg(reason));
}

void ReportPage::showReport(const AlarmReport& report)
{
    QApplication::restoreOverrideCursor();
    m_run->setEnabled(true);
    m_cancel->setEnabled(false);
    m_report = report;
    m_hasReport = true;
    m_status->setText(QStringLiteral("%1 至 %2 · 共 %3 条 · %4 个十分钟时段 · 点击柱或行列出这些记录")
                          .arg(report.start, report.end, SystemLog::groupedCount(report.total),
                               SystemLog::groupedCount(report.periods)));
    m_chart->showReport(report);
    fillTables();
    m_print->setEnabled(true);
    m_export->setEnabled(true);
}

void ReportPage::fillTables()
{
    const QVector<SystemLog::AlarmKpi> kpis = SystemLog::alarmReportKpis(m_report);
    m_kpis->setRowCount(kpis.size());
    for (int row = 0; row < kpis.size(); ++row) {
        const SystemLog::AlarmKpi& kpi = kpis[row];
        setRow(m_kpis, row,
               {kpi.name, kpi.value, kpi.reference,
                SystemLog::alarmKpiMark(kpi.outside) + (kpi.note.isEmpty() ? QString() : QStringLiteral("（%1）").arg(kpi.note))},
               kpi.outside);
    }
    m_top->setRowCount(m_report.top.size());
    for (int row = 0; row < m_report.top.size(); ++row) {
        const AlarmReport::Text& text = m_report.top[row];
        setRow(m_top, row, {SystemLog::groupedCount(text.count), percent(text.share), reportTextLine(text.example)});
    }
    m_chattering->setRowCount(m_report.chattering.size());
    for (int row = 0; row < m_report.chattering.size(); ++row) {
        const AlarmReport::Text& text = m_report.chattering[row];
        setRow(m_chattering, row, {SystemLog::groupedCount(text.bursts), SystemLog::groupedCount(text.count), reportTextLine(text.example)});
    }
    m_floods->setRowCount(m_report.floods.size());
    for (int row = 0; row < m_report.floods.size(); ++row) {
        const AlarmReport::Flood& flood = m_report.floods[row];
        setRow(m_floods, row, {flood.start, flood.end, SystemLog::groupedCount(flood.count)});
    }
    for (QTableWidget* table : {m_kpis, m_top, m_chattering, m_floods})
        table->resizeColumnsToContents();
}

void ReportPage::listText(QTableWidget* table, int row)
{
    const QVector<AlarmReport::Text>& texts = table == m_top ? m_report.top : m_report.chattering;
    if (row < 0 || row >= texts.size())
        return;
    emit listRequested(reportStart(), reportEnd(), m_report.request.types, m_reportMachines,
                       AlarmReport::patternOf(texts[row].key, m_report.request.mergeNumbers));
}

void ReportPage::listFlood(int row)
{
    if (row < 0 || row >= m_report.floods.size())
        return;
    const AlarmReport::Flood& flood = m_report.floods[row];
    emit listRequested(QDateTime::fromString(flood.start, kReportTimeFormat), QDateTime::fromString(flood.end, kReportTimeFormat).addSecs(-1),
                       m_report.request.types, m_reportMachines, QString());
}

// The module's page, its SVG charts replaced by the Qwt chart as an image
// (a text document draws no SVG).
QString ReportPage::printableHtml() const
{
    QString html = QString::fromUtf8(SystemLog::alarmReportHtml(m_report, sourceName()));
    static const QRegularExpression svg(QStringLiteral("<h2>[^<]*</h2><svg.*?</svg>"), QRegularExpression::DotMatchesEverythingOption);
    html.replace(svg, QString());
    return html.replace(QStringLiteral("<h2>报警指标</h2>"), QStringLiteral("<p><img src=\"report-chart.png\" width=\"640\"></p><h2>报警指标</h2>"));
}

bool ReportPage::exportTo(const QString& path, QString& error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png")) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && grab().toImage().save(&file, "PNG") && file.commit())
            return true;
        error = QStringLiteral("无法写入 %1").arg(path);
        return false;
    }
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm")) {
        // Whole or not at all: an earlier file stays if this one cannot be written.
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(SystemLog::alarmReportHtml(m_report, sourceName())) >= 0
            && file.commit())
            return true;
        error = QStringLiteral("无法写入 %1：%2").arg(path, file.errorString());
        return false;
    }
    // Into a file beside it first, so that an earlier file stays if this
    // one cannot be written.
    const QString partial = path + QStringLiteral(".part");
    QFile::remove(partial);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(partial);
        printTo(printer);
    }
    if (QFileInfo(partial).isFile() && QFileInfo(partial).size() > 0 && (!QFileInfo::exists(path) || QFile::remove(path))
        && QFile::rename(partial, path))
        return true;
    QFile::remove(partial);
    error = QStringLiteral("无法写入 %1").arg(path);
    return false;
}

void ReportPage::exportReport()
{
    QString selected;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出报警统计"), QStringLiteral("报警统计.pdf"),
                                                      QStringLiteral("PDF 文件 (*.pdf);;PNG 图片 (*.png);;网页 (*.html)"), &selected);
    if (path.isEmpty())
        return;
    QString error;
    if (!exportTo(path, error))
        QMessageBox::information(this, QStringLiteral("提示"), error, QMessageBox::Ok, QMessageBox::NoButton);
}

void ReportPage::printReport()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        printTo(printer);
}

// The chart, drawn by Qwt into an image, above the report's tables.
void ReportPage::printTo(QPrinter& printer) const
{
    QTextDocument document;
    QImage chart(1600, 800, QImage::Format_ARGB32);
    chart.fill(Qt::white);
    QwtPlotRenderer().renderTo(m_chart, chart);
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("report-chart.png")), chart);
    document.setHtml(printableHtml());
    document.print(&printer);
}
