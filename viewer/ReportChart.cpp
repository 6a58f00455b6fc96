#include "ReportChart.h"

#include <QMap>

#include <qwt_column_symbol.h>
#include <qwt_legend.h>
#include <qwt_picker_machine.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_multi_barchart.h>
#include <qwt_plot_picker.h>
#include <qwt_scale_draw.h>
#include <qwt_text.h>

using SystemLog::AlarmReport;

namespace {

// Labels under the bars: "08" for hours, "12-09" for days.
class BarLabels : public QwtScaleDraw
{
public:
    explicit BarLabels(const QStringList& labels)
        : m_labels(labels)
    {
        enableComponent(QwtAbstractScaleDraw::Backbone, false);
    }

    QwtText label(double value) const override
    {
        const int bar = qRound(value);
        return bar >= 0 && bar < m_labels.size() && qAbs(value - bar) < 1e-6 ? QwtText(m_labels[bar]) : QwtText();
    }

private:
    QStringList m_labels;
};

const QColor kPartColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
                               QColor(0xd6, 0x27, 0x28), QColor(0x7f, 0x7f, 0x7f), QColor(0xff, 0x7f, 0x0e),
                               QColor(0x17, 0xbe, 0xcf), QColor(0x8c, 0x56, 0x4b)};

QColor partColour(int part, int type)
{
    // Alarms are red wherever they are stacked by type.
    if (type >= 0 && type < 5)
        return kPartColours[type == 3 ? 3 : type];
    return kPartColours[part % int(sizeof kPartColours / sizeof kPartColours[0])];
}

} // namespace

ReportChart::ReportChart(QWidget* parent)
    : QwtPlot(parent)
    , m_bars(new QwtPlotMultiBarChart)
{
    setCanvasBackground(Qt::white);
    setAutoReplot(false);
    insertLegend(new QwtLegend, QwtPlot::BottomLegend);
    auto* grid = new QwtPlotGrid;
    grid->enableX(false);
    grid->setMajorPen(QColor(0xdd, 0xdd, 0xdd), 0, Qt::DotLine);
    grid->attach(this);
    m_bars->setStyle(QwtPlotMultiBarChart::Stacked);
    m_bars->setItemAttribute(QwtPlotItem::Legend, true);
    m_bars->setSpacing(2);
    m_bars->attach(this);
    m_picker = new QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::NoRubberBand, QwtPicker::AlwaysOff, canvas());
    m_picker->setStateMachine(new QwtPickerClickPointMachine);
    connect(m_picker, qOverload<const QPointF&>(&QwtPlotPicker::selected), this, &ReportChart::onPicked);
    setMinimumSize(240, 140);
    clearReport();
}

void ReportChart::clearReport()
{
    m_starts.clear();
    m_values.clear();
    m_types.clear();
    m_machines.clear();
    m_bars->setSamples(QVector<QwtSetSample>());
    setTitle(QString());
    replot();
}

void ReportChart::showReport(const AlarmReport& report)
{
    const QDateTime start = QDateTime::fromString(report.start, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QDateTime end = QDateTime::fromString(report.end, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    m_hourly = start.date() == end.date();
    m_byMachine = report.machines.size() > 1;
    m_starts.clear();
    QStringList labels;
    if (m_hourly) {
        for (int hour = 0; hour < 24; ++hour) {
            m_starts << QDateTime(start.date(), QTime(hour, 0));
            labels << QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'));
        }
    } else {
        for (QDate day = start.date(); day <= end.date(); day = day.addDays(1)) {
            m_starts << QDateTime(day, QTime(0, 0));
            labels << day.toString(QStringLiteral("MM-dd"));
        }
    }
    // The parts: the report's machines, or the types its records have.
    m_machines = m_byMachine ? report.machines : QStringList();
    m_types.clear();
    if (!m_byMachine) {
        QVector<int> types = report.request.types;
        for (const AlarmReport::Cell& cell : report.cells)
            if (!types.contains(cell.type))
                types << cell.type;
        std::sort(types.begin(), types.end());
        m_types = types;
    }
    const int parts = m_byMachine ? m_machines.size() : m_types.size();
    m_values = QVector<QVector<double>>(m_starts.size(), QVector<double>(parts, 0));
    const qint64 firstDay = start.date().toJulianDay();
    for (const AlarmReport::Cell& cell : report.cells) {
        if (cell.period < 0)
            continue;
        const qint64 seconds = cell.period * AlarmReport::kPeriodSeconds;
        const int bar = m_hourly ? int(seconds % 86400 / 3600)
                                 : int(QDate::fromString(AlarmReport::stampOf(seconds).left(10), QStringLiteral("yyyy-MM-dd")).toJulianDay()
                                       - firstDay);
        const int part = m_byMachine ? cell.machine : m_types.indexOf(cell.type);
        if (bar >= 0 && bar < m_values.size() && part >= 0 && part < parts)
            m_values[bar][part] += double(cell.count);
    }
    QVector<QwtSetSample> samples;
    for (int bar = 0; bar < m_values.size(); ++bar)
        samples << QwtSetSample(bar, m_values[bar]);
    QList<QwtText> titles;
    for (int part = 0; part < parts; ++part) {
        titles << QwtText(m_byMachine ? m_machines[part] : SystemLog::alarmReportTypeName(m_types[part]));
        auto* symbol = new QwtColumnSymbol(QwtColumnSymbol::Box);
        symbol->setFrameStyle(QwtColumnSymbol::Plain);
        symbol->setLineWidth(0);
        symbol->setPalette(QPalette(partColour(part, m_byMachine ? -1 : m_types[part])));
        m_bars->setSymbol(part, symbol);
    }
    m_bars->setBarTitles(titles);
    m_bars->setSamples(samples);
    setAxisScaleDraw(QwtPlot::xBottom, new BarLabels(labels));
    const int step = qMax(1, (m_starts.size() + 11) / 12);
    setAxisScale(QwtPlot::xBottom, -0.5, m_starts.size() - 0.5, step);
    setAxisMaxMinor(QwtPlot::xBottom, 0);
    setAxisAutoScale(QwtPlot::yLeft);
    setAxisTitle(QwtPlot::yLeft, QStringLiteral("条数"));
    setTitle(m_hourly ? QStringLiteral("%1 每小时").arg(start.date().toString(QStringLiteral("yyyy-MM-dd")))
                      : QStringLiteral("%1 至 %2 每天").arg(start.date().toString(QStringLiteral("yyyy-MM-dd")),
                                                          end.date().toString(QStringLiteral("yyyy-MM-dd"))));
    replot();
}

qint64 ReportChart::barTotal(int bar) const
{
    double sum = 0;
    for (double value : m_values.value(bar))
        sum += value;
    return qint64(sum);
}

QDateTime ReportChart::barEnd(int bar) const
{
    return m_starts.value(bar).addSecs(m_hourly ? 3599 : 86399);
}

int ReportChart::partAt(int bar, double value) const
{
    double top = 0;
    const QVector<double> parts = m_values.value(bar);
    for (int part = 0; part < parts.size(); ++part) {
        top += parts[part];
        if (parts[part] > 0 && value <= top)
            return part;
    }
    return -1;
}

QPoint ReportChart::pointOf(int bar, double value) const
{
    return QPoint(int(transform(QwtPlot::xBottom, bar)), int(transform(QwtPlot::yLeft, value)));
}

void ReportChart::onPicked(const QPointF& point)
{
    const int bar = qRound(point.x());
    if (bar < 0 || bar >= m_starts.size() || barTotal(bar) == 0 || point.y() < 0)
        return;
    const int part = partAt(bar, point.y());
    if (part < 0)
        return;
    emit barClicked(barStart(bar), barEnd(bar), m_byMachine ? -1 : m_types[part], m_byMachine ? m_machines[part] : QString());
}
