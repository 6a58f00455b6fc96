#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QPair>
#include <QVector>
#include <QWidget>

#include <vector>

class QPainter;

// The strip at the top of the result pane: the day (or range) at a glance.
// It cuts the queried period into intervals, a day into 96 quarter-hours and
// a range into steps of a round length chosen for its width, and draws how
// many of the listed records fall into each as bars, the largest labelled.
// The counts come from the database (QueryWorker) and reach the strip before
// a long answer is listed. Where the strip is too narrow for a bar per
// interval, neighbouring intervals share one (a day shows its 24 hours).
// Hovering a bar shows its interval and count; clicking it asks the pane to
// show the first record of that interval; Ctrl+click (or the context menu)
// asks for the first record at the time under the pointer.
class PaneStrip : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMinBarWidth = 4;

    explicit PaneStrip(QWidget* parent = nullptr);

    void setDay(const QDate& day);
    void setRange(const QDateTime& start, const QDateTime& end);
    // The bounds of the intervals as time texts, for LogReader::countBetween.
    QStringList bounds() const;
    // Counts as countBetween gives them; empty until they are known.
    void setCounts(const QVector<qint64>& counts);
    QVector<qint64> counts() const { return m_counts; }
    // The drop records among the counts, alike; a bar with any is marked.
    void setGapCounts(const QVector<qint64>& counts);
    // A live listing's new records (and drop records) added to the counts.
    void addCounts(const QVector<qint64>& counts);
    void addGapCounts(const QVector<qint64>& counts);
    // Alarm floods within the period (start, end), marked as a red band
    // under the bars they span; empty: none.
    void setFloods(const QVector<QPair<QDateTime, QDateTime>>& floods);
    int floodCount() const { return m_floods.size(); }
    QRect floodRect(int flood) const;
    // Forgets every count (the period stays), before a query lists it again.
    void resetCounts();
    qint64 barGaps(int bar) const;
    // Whether the pane lists the newest record first (a bar's first record
    // is then its newest).
    void setNewestFirst(bool newestFirst) { m_newestFirst = newestFirst; }
    void setStatus(const QString& text);
    QString status() const { return m_status; }
    // A listing stopped (Esc) after `listed` records: bars whose records
    // were not listed are hatched, and a click on one says so
    // (unlistedRequested()). -1: every record of the counts is listed or coming.
    void setListedLimit(qint64 listed);
    bool isUnlisted(int bar) const;
    // The time under `point` (local, to the minute; to the second where a bar
    // is shorter than two minutes); invalid off the bars.
    QDateTime timeAt(const QPoint& point) const;

    // The bars as drawn at the current width.
    int barCount() const;
    // What the bar's interval lists: records and drop records together
    // (barTotal), the drop records (barGaps) and the records alone; a bar
    // is drawn and labelled by its records, its slot tinted by its gaps.
    qint64 barTotal(int bar) const;
    qint64 barRecords(int bar) const;
    QString barToolTip(int bar) const;
    int firstRecordOfBar(int bar) const;
    QRect barRect(int bar) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void recordRequested(int record);
    // A click on a bar whose records a stopped listing did not list.
    void unlistedRequested();
    // Ctrl+click, or the context menu: go to this time, or choose one near it.
    void timeRequested(const QDateTime& time);
    void timeChoiceRequested(const QDateTime& around);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int intervalCount() const { return std::max(0, int(m_bounds.size()) - 1); }
    int intervalsPerBar() const;
    int barAt(const QPoint& point) const;
    QRect barsArea() const;
    QString maximumText() const;
    QString markText(int bar) const;
    void paintQuarterMarks(QPainter& painter, const QRect& textRow, const QVector<QRect>& taken);

    std::vector<QDateTime> m_bounds; // interval starts, then the end of the last
    bool m_isDay = false;
    bool m_newestFirst = false;
    QVector<qint64> m_counts;
    QVector<qint64> m_gapCounts;
    QVector<qint64> m_added;     // a live listing's counts since the period was set
    QVector<qint64> m_gapsAdded;
    QString m_status;
    qint64 m_listedLimit = -1;
    QVector<QPair<QDateTime, QDateTime>> m_floods;
};
