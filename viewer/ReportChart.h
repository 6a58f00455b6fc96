#pragma once

#include <QDateTime>
#include <QStringList>
#include <QVector>

#include <qwt_plot.h>

#include <vxSyslog/AlarmReport.h>

class QwtPlotMultiBarChart;
class QwtPlotPicker;

// The 统计 page's chart: a report's records over time as bars, per hour
// for a period within one day and per day for a longer one, stacked by
// type, or by machine where the report has several. Drawn with Qwt, which
// also prints and exports it (QwtPlotRenderer). A click on a bar (on one of
// its parts) asks for exactly those records: barClicked() with the bar's
// interval and the part's type or machine.
class ReportChart : public QwtPlot
{
    Q_OBJECT

public:
    explicit ReportChart(QWidget* parent = nullptr);

    void showReport(const SystemLog::AlarmReport& report);
    void clearReport();

    int barCount() const { return m_starts.size(); }
    qint64 barTotal(int bar) const;
    QDateTime barStart(int bar) const { return m_starts.value(bar); }
    QDateTime barEnd(int bar) const;  // its last second
    // The stack a value of a bar falls into (its part), or -1.
    int partAt(int bar, double value) const;
    bool stackedByMachine() const { return m_byMachine; }
    // A part's type code (stacked by type) or machine name.
    int partType(int part) const { return m_types.value(part, -1); }
    QString partMachine(int part) const { return m_machines.value(part); }
    // The pixel position of a bar's middle at a value, for a click.
    QPoint pointOf(int bar, double value) const;

signals:
    // The bar's interval, and a type (-1: those of the report) or a machine
    // (empty: those of the report).
    void barClicked(const QDateTime& start, const QDateTime& end, int type, const QString& machine);

private:
    void onPicked(const QPointF& point);

    QwtPlotMultiBarChart* m_bars;
    QwtPlotPicker* m_picker;
    QVector<QDateTime> m_starts;
    bool m_hourly = false;
    bool m_byMachine = false;
    QVector<int> m_types;
    QStringList m_machines;
    QVector<QVector<double>> m_values;  // per bar, per part
};
