#pragma once

#include <QDateTime>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <vxSyslog/AlarmReport.h>

#include "LogSources.h"

class MachineChooser;
class QDateTimeEdit;
class QLabel;
class QPrinter;
class QPushButton;
class QShortcut;
class QTabWidget;
class QTableWidget;
class QToolButton;
class ReportChart;
class ReportRunner;
class TypeChooser;

// The window's third page, 统计: the alarm report (the module's
// AlarmReport) of a period, of the types and machines chosen as on the
// listing pages. It shows a chart of the records over time (ReportChart),
// the figures beside their reference values, the most frequent and the
// chattering alarms and the floods. A click on a bar or a row asks the
// window to list exactly those records (listRequested()). The report is
// computed off the GUI thread (ReportRunner); Esc cancels it. 打印 and 导出
// (PDF, PNG, HTML) take the chart with the report.
class ReportPage : public QWidget
{
    Q_OBJECT

public:
    ReportPage(MachineChooser* machines, QWidget* parent = nullptr);
    ~ReportPage() override;

    // The logs it reads, as the window's listing.
    void setSources(const LogSources& sources) { m_sources = sources; }
    void setPeriod(const QDateTime& start, const QDateTime& end);
    void setTypes(const QVector<int>& types);
    void runReport();
    void cancelReport();

    const SystemLog::AlarmReport& report() const { return m_report; }
    bool hasReport() const { return m_hasReport; }
    ReportChart* chart() const { return m_chart; }
    QTableWidget* topTable() const { return m_top; }
    QTableWidget* kpiTable() const { return m_kpis; }
    QTableWidget* chatteringTable() const { return m_chattering; }
    QTableWidget* floodTable() const { return m_floods; }
    QString status() const;

    // The report as HTML with the chart as an image, for a printer or a PDF.
    QString printableHtml() const;
    bool exportTo(const QString& path, QString& error);

signals:
    // List these records: the period, the types (empty: all), the machines
    // (empty: all) and a pattern on the message (empty: any).
    void listRequested(const QDateTime& start, const QDateTime& end, const QVector<int>& types,
                       const QStringList& machines, const QString& pattern);
    void backRequested();

private:
    void buildControls();
    void buildResults();
    void showReport(const SystemLog::AlarmReport& report);
    void showFailure(const QString& reason);
    void fillTables();
    void listText(QTableWidget* table, int row);
    void listFlood(int row);
    void printReport();
    void printTo(QPrinter& printer) const;
    void exportReport();
    QString sourceName() const;
    QDateTime reportStart() const;
    QDateTime reportEnd() const;

    MachineChooser* m_machines;
    LogSources m_sources;
    ReportRunner* m_runner;
    TypeChooser* m_types = nullptr;
    QDateTimeEdit* m_start = nullptr;
    QDateTimeEdit* m_end = nullptr;
    QPushButton* m_run = nullptr;
    QToolButton* m_print = nullptr;
    QToolButton* m_export = nullptr;
    QLabel* m_status = nullptr;
    QShortcut* m_cancel = nullptr;
    ReportChart* m_chart = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTableWidget* m_kpis = nullptr;
    QTableWidget* m_top = nullptr;
    QTableWidget* m_chattering = nullptr;
    QTableWidget* m_floods = nullptr;
    SystemLog::AlarmReport m_report;
    bool m_hasReport = false;
    QStringList m_reportMachines;  // the machines chosen for the report shown
};
