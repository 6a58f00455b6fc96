#include "PaneStrip.h"

#include <vxSyslog/ListingBlock.h>

#include "RecordColours.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

void addInto(QVector<qint64>& total, const QVector<qint64>& more)
{
    if (more.isEmpty())
        return;
    if (total.isEmpty())
        total.fill(0, more.size());
    for (int j = 0; j < std::min(total.size(), more.size()); ++j)
        total[j] += more.at(j);
}

} // namespace

namespace {

constexpr int kQuarterHours = 96;
constexpr int kStripMargin = 4;
constexpr int kBarsHeight = 28;
const QString kStripTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// Interval lengths a range may be cut into, in seconds: round on a clock.
constexpr qint64 kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200,
                             86400, 2 * 86400, 5 * 86400, 10 * 86400, 15 * 86400, 30 * 86400, 60 * 86400,
                             90 * 86400, 180 * 86400, 365 * 86400};

// Wall-clock times as the stored texts hold them, counted without time zones,
// so that every interval of a day is as long as the others.
QDateTime wallClock(const QDateTime& local)
{
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

QString dayText(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd"));
}

// "10:15", or "24:00" for the midnight that ends `day`.
QString clockText(const QDateTime& at, const QDate& day)
{
    if (at.date() != day && at.time() == QTime(0, 0))
        return QStringLiteral("24:00");
    return at.toString(QStringLiteral("hh:mm"));
}

} // namespace

PaneStrip::PaneStrip(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("resultStrip"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setMouseTracking(true);
}

void PaneStrip::setDay(const QDate& day)
{
    m_isDay = true;
    m_counts.clear();
    m_gapCounts.clear();
    m_added.clear();
    m_gapsAdded.clear();
    m_bounds.clear();
    const QDateTime midnight(day, QTime(0, 0), Qt::UTC);
    for (int i = 0; i <= kQuarterHours; ++i)
        m_bounds.push_back(midnight.addSecs(qint64(i) * 900));
    update();
}

void PaneStrip::setRange(const QDateTime& start, const QDateTime& end)
{
    m_isDay = false;
    m_counts.clear();
    m_gapCounts.clear();
    m_added.clear();
    m_gapsAdded.clear();
    m_bounds.clear();
    const qint64 from = wallClock(start).toSecsSinceEpoch();
    const qint64 to = wallClock(end).toSecsSinceEpoch();
    if (to > from) {
        const int most = std::max(12, (std::max(width(), 400) - 2 * kStripMargin) / kMinBarWidth);
        qint64 step = kSteps[std::size(kSteps) - 1];
        for (qint64 candidate : kSteps) {
            if ((to - from) / candidate < most) {
                step = candidate;
                break;
            }
        }
        const qint64 first = from - ((from % step) + step) % step;
        for (qint64 at = first; at < to + step && m_bounds.size() <= std::size_t(most) + 1; at += step) {
            m_bounds.push_back(QDateTime::fromSecsSinceEpoch(at, Qt::UTC));
            if (at >= to)
                break;
        }
    }
    update();
}

QStringList PaneStrip::bounds() const
{
    QStringList texts;
    for (const QDateTime& at : m_bounds)
        texts << at.toString(kStripTimeFormat);
    return texts;
}

// A live listing's additions may come before the listing's own counts.
void PaneStrip::setCounts(const QVector<qint64>& counts)
{
    m_counts = counts;
    addInto(m_counts, m_added);
    update();
}

void PaneStrip::setGapCounts(const QVector<qint64>& counts)
{
    m_gapCounts = counts;
    addInto(m_gapCounts, m_gapsAdded);
    update();
}

void PaneStrip::resetCounts()
{
    m_listedLimit = -1;
    m_counts.clear();
    m_gapCounts.clear();
    m_added.clear();
    m_gapsAdded.clear();
    update();
}

void PaneStrip::addCounts(const QVector<qint64>& counts)
{
    addInto(m_added, counts);
    if (!m_counts.isEmpty())
        addInto(m_counts, counts);
    update();
}

void PaneStrip::addGapCounts(const QVector<qint64>& counts)
{
    addInto(m_gapsAdded, counts);
    if (!m_gapCounts.isEmpty())
        addInto(m_gapCounts, counts);
    update();
}

qint64 PaneStrip::barGaps(int bar) const
{
    if (m_gapCounts.size() != int(m_bounds.size()) + 1)
        return 0;
    const int per = intervalsPerBar();
    qint64 total = 0;
    for (int i = bar * per; i < std::min(intervalCount(), (bar + 1) * per); ++i)
        total += m_gapCounts.at(i + 1);
    return total;
}

void PaneStrip::setStatus(const QString& text)
{
    m_status = text;
    update();
}

void PaneStrip::setListedLimit(qint64 listed)
{
    m_listedLimit = listed;
    update();
}

bool PaneStrip::isUnlisted(int bar) const
{
    return m_listedLimit >= 0 && !m_counts.isEmpty() && barTotal(bar) > 0 && firstRecordOfBar(bar) >= m_listedLimit;
}

QDateTime PaneStrip::timeAt(const QPoint& point) const
{
    const int bar = barAt(point);
    if (bar < 0)
        return QDateTime();
    const int per = intervalsPerBar();
    const QDateTime from = m_bounds.at(std::size_t(bar * per));
    const QDateTime to = m_bounds.at(std::size_t(std::min(intervalCount(), (bar + 1) * per)));
    const QRect slot = barRect(bar);
    const qint64 span = from.secsTo(to);
    qint64 into = span * (point.x() - slot.left()) / std::max(1, slot.width());
    if (span >= 120)
        into -= (from.addSecs(into).time().second());
    const QDateTime wall = from.addSecs(std::clamp<qint64>(into, 0, std::max<qint64>(0, span - 1)));
    return QDateTime(wall.date(), wall.time());
}

int PaneStrip::intervalsPerBar() const
{
    const int intervals = intervalCount();
    const int room = std::max(1, width() - 2 * kStripMargin);
    if (m_isDay)
        return room >= intervals * kMinBarWidth ? 1 : 4;
    return std::max(1, (intervals * kMinBarWidth + room - 1) / room);
}

int PaneStrip::barCount() const
{
    const int per = intervalsPerBar();
    return (intervalCount() + per - 1) / per;
}

qint64 PaneStrip::barTotal(int bar) const
{
    if (m_counts.size() != int(m_bounds.size()) + 1)
        return 0;
    const int per = intervalsPerBar();
    qint64 total = 0;
    for (int i = bar * per; i < std::min(intervalCount(), (bar + 1) * per); ++i)
        total += m_counts.at(i + 1);
    return total;
}

qint64 PaneStrip::barRecords(int bar) const
{
    return barTotal(bar) - barGaps(bar);
}

// Newest first, the records of the intervals after the bar come before it.
int PaneStrip::firstRecordOfBar(int bar) const
{
    qint64 before = 0;
    if (m_newestFirst) {
        for (int i = std::max(0, (bar + 1) * intervalsPerBar() + 1); i < m_counts.size(); ++i)
            before += m_counts.at(i);
        return int(before);
    }
    const int last = std::min(bar * intervalsPerBar(), m_counts.size() - 1);
    for (int i = 0; i <= last; ++i)
        before += m_counts.at(i);
    return int(before);
}

QString PaneStrip::barToolTip(int bar) const
{
    const int per = intervalsPerBar();
    const QDateTime from = m_bounds.at(std::size_t(bar * per));
    const QDateTime to = m_bounds.at(std::size_t(std::min(intervalCount(), (bar + 1) * per)));
    QString interval;
    if (from.secsTo(to) < 86400)
        interval = QStringLiteral("%1 %2 至 %3").arg(dayText(from), clockText(from, from.date()), clockText(to, from.date()));
    else if (from.secsTo(to) == 86400 && from.time() == QTime(0, 0))
        interval = dayText(from);
    else
        interval = QStringLiteral("%1 至 %2").arg(dayText(from), dayText(to.addSecs(-1)));
    const QString count = m_counts.isEmpty() ? QStringLiteral("正在统计") : SystemLog::countText(barRecords(bar), barGaps(bar));
    const QString unlisted = isUnlisted(bar) ? QStringLiteral("\n查询已停止，这段时间的记录没有列出（按 F5 重新查询）") : QString();
    return QStringLiteral("%1：%2%3").arg(interval, count, unlisted);
}

void PaneStrip::setFloods(const QVector<QPair<QDateTime, QDateTime>>& floods)
{
    m_floods = floods;
    update();
}

// The flood's span of the period, as a band at the bottom of the bars.
QRect PaneStrip::floodRect(int flood) const
{
    if (flood < 0 || flood >= m_floods.size() || m_bounds.size() < 2)
        return QRect();
    const QRect area = barsArea();
    const double period = double(m_bounds.front().secsTo(m_bounds.back()));
    if (period <= 0)
        return QRect();
    auto x = [&](const QDateTime& at) {
        const double share = std::clamp(double(m_bounds.front().secsTo(at)) / period, 0.0, 1.0);
        return area.left() + int(std::floor(share * area.width()));
    };
    const int left = x(m_floods[flood].first);
    const int right = x(m_floods[flood].second);
    if (right <= area.left() || left >= area.right())
        return QRect();
    return QRect(left, area.bottom() - 3, std::max(2, right - left), 4);
}

QRect PaneStrip::barsArea() const
{
    return QRect(kStripMargin, height() - kBarsHeight - kStripMargin / 2, width() - 2 * kStripMargin, kBarsHeight);
}

QRect PaneStrip::barRect(int bar) const
{
    const QRect area = barsArea();
    const double width = double(area.width()) / std::max(1, barCount());
    const int left = area.left() + int(std::floor(bar * width));
    const int right = area.left() + int(std::floor((bar + 1) * width));
    return QRect(left, area.top(), std::max(1, right - left), area.height());
}

int PaneStrip::barAt(const QPoint& point) const
{
    const QRect area = barsArea();
    if (barCount() == 0 || !area.contains(point))
        return -1;
    return std::min(barCount() - 1, int(double(point.x() - area.left()) * barCount() / std::max(1, area.width())));
}

QString PaneStrip::maximumText() const
{
    qint64 most = 0;
    for (int bar = 0; bar < barCount(); ++bar)
        most = std::max(most, barRecords(bar));
    return QStringLiteral("最大 %1 条").arg(SystemLog::groupedCount(most));
}

QSize PaneStrip::sizeHint() const
{
    return QSize(400, fontMetrics().height() + kBarsHeight + kStripMargin);
}

QSize PaneStrip::minimumSizeHint() const
{
    return QSize(0, sizeHint().height());
}

bool PaneStrip::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int bar = barAt(help->pos());
        if (bar >= 0)
            QToolTip::showText(help->globalPos(), barToolTip(bar), this, barRect(bar));
        else if (help->pos().y() < fontMetrics().height() && !m_status.isEmpty())
            QToolTip::showText(help->globalPos(), m_status, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void PaneStrip::mousePressEvent(QMouseEvent* event)
{
    const int bar = barAt(event->pos());
    if (event->button() != Qt::LeftButton || bar < 0)
        return;
    if (event->modifiers() & Qt::ControlModifier)
        emit timeRequested(timeAt(event->pos()));
    else if (isUnlisted(bar))
        emit unlistedRequested();
    else if (!m_counts.isEmpty())
        emit recordRequested(firstRecordOfBar(bar));
}

void PaneStrip::contextMenuEvent(QContextMenuEvent* event)
{
    const QDateTime at = timeAt(event->pos());
    if (!at.isValid())
        return;
    QMenu menu(this);
    const QString shown = at.time().second() == 0 ? at.toString(QStringLiteral("hh:mm")) : at.toString(QStringLiteral("hh:mm:ss"));
    menu.addAction(QStringLiteral("转到 %1 的记录（Ctrl+单击）").arg(shown), this, [this, at] { emit timeRequested(at); });
    menu.addAction(QStringLiteral("转到时间…"), this, [this, at] { emit timeChoiceRequested(at); });
    menu.exec(event->globalPos());
}

QString PaneStrip::markText(int bar) const
{
    const QDateTime at = m_bounds.at(std::size_t(bar * intervalsPerBar()));
    if (m_isDay)
        return at.toString(QStringLiteral("h时"));
    const qint64 span = m_bounds.front().secsTo(m_bounds.back());
    return at.toString(span <= 2 * 86400 ? QStringLiteral("MM-dd hh:mm") : QStringLiteral("MM-dd"));
}

// Lines where the quarters of the period begin (6, 12 and 18 o'clock of a
// day), their times in the text row where the row has room, so that a bar
// can be placed on the clock without hovering it.
void PaneStrip::paintQuarterMarks(QPainter& painter, const QRect& textRow, const QVector<QRect>& taken)
{
    const QRect area = barsArea();
    for (int quarter = 1; quarter < 4; ++quarter) {
        const int bar = barCount() * quarter / 4;
        if (bar <= 0 || bar >= barCount())
            continue;
        const int x = barRect(bar).left();
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(x, area.top(), x, area.bottom());
        const QString text = markText(bar);
        const int textWidth = fontMetrics().horizontalAdvance(text);
        const QRect label(x - textWidth / 2, textRow.top(), textWidth, textRow.height());
        if (std::none_of(taken.begin(), taken.end(), [&label](const QRect& r) { return r.intersects(label); })) {
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(label, Qt::AlignCenter, text);
        }
    }
}

// The text row: "最大 N 条" at the left, the status at the right in the room
// left beside it (cut with "…" where it is longer: the line above the
// records says it whole).
void PaneStrip::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRect text(kStripMargin, 0, width() - 2 * kStripMargin, fontMetrics().height());
    painter.setPen(palette().color(QPalette::WindowText));
    const bool counted = !m_counts.isEmpty() && barCount() > 0;
    QRect maximumRect(text.left(), text.top(), 0, text.height());
    if (counted)
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, maximumText(), &maximumRect);
    const QRect statusRoom(maximumRect.right() + 1 + 2 * kStripMargin, text.top(),
                           std::max(0, text.right() - maximumRect.right() - 2 * kStripMargin), text.height());
    QRect statusRect;
    painter.drawText(statusRoom, Qt::AlignRight | Qt::AlignVCenter,
                     fontMetrics().elidedText(m_status, Qt::ElideRight, statusRoom.width()), &statusRect);
    const QRect area = barsArea();
    painter.fillRect(area, palette().base());
    if (!counted)
        return;
    paintQuarterMarks(painter, text, {statusRect.adjusted(-kStripMargin, 0, kStripMargin, 0), maximumRect.adjusted(-kStripMargin, 0, kStripMargin, 0)});
    qint64 most = 1;
    for (int bar = 0; bar < barCount(); ++bar)
        most = std::max(most, barRecords(bar));
    for (int bar = 0; bar < barCount(); ++bar) {
        const qint64 records = barRecords(bar);
        if (records == 0 && barGaps(bar) == 0)
            continue;
        const QRect slot = barRect(bar);
        // A gap tints the bar's whole slot, so that it shows however few
        // records the interval has.
        if (barGaps(bar) > 0) {
            QColor tint = RecordColours::gapColour();
            tint.setAlpha(120);
            painter.fillRect(QRect(slot.left(), slot.top(), std::max(2, slot.width() - 1), slot.height()), tint);
        }
        if (records == 0)
            continue;
        const int height = std::max(1, int(double(slot.height()) * double(records) / double(most)));
        const QRect drawn(slot.left(), slot.bottom() - height + 1, std::max(1, slot.width() - 1), height);
        // Records a stopped listing did not list: the bar only outlined, hatched.
        if (isUnlisted(bar))
            painter.fillRect(drawn, QBrush(palette().color(QPalette::Mid), Qt::BDiagPattern));
        else
            painter.fillRect(drawn, palette().highlight());
    }
    for (int flood = 0; flood < m_floods.size(); ++flood) {
        const QRect band = floodRect(flood);
        if (!band.isEmpty())
            painter.fillRect(band, QColor(0xd6, 0x27, 0x28));
    }
}
