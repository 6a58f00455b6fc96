#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QDateTime>
#include <QHash>
#include <QPoint>
#include <QString>

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include <vxSyslog/RecordList.h>
#include <vxSyslog/LogQuery.h>

#include "LogSources.h"
#include "PaneListing.h"
#include "PaneSegments.h"
#include "PaneText.h"

class PaneFindBar;
class QAction;
class PaneRecords;
class PaneStrip;
class QPainter;
class QShortcut;
class QTextLayout;
class QueryWorker;
class StoredRecords;
struct RecordDetail;

namespace PaneSearch {
struct Match;
}

// The window's result pane: the records of the last query, one paragraph per
// record block "time:\nmessage", or one notice in a larger font.
//
// A query never runs on the GUI thread. showDayQuery()/showRangeQuery() hand
// it to a QueryWorker (see QueryWorker.h) and return at once; the records
// appear as their keys arrive, the scroll bar grows, the busy cursor shows,
// and a strip at the top (PaneStrip) shows the period's counts per interval.
// A new query or Esc cancels the running one. When the listing ends, the
// not-found and failure notices replace an empty or failed answer.
// A listing whose period reaches the present (today, a range ending later)
// is live: records committed afterwards are appended as they come, the
// strip counts them, and a view showing the newest record keeps showing it
// (follow mode); a view scrolled elsewhere does not move.
//
// It never holds the texts of a whole answer, because a month of status
// records is tens of millions. What it shows comes from a PaneRecords: a
// RecordList handed to showRecords(), or a query's keys whose texts are read
// by id for what is laid out (StoredRecords). It lays out only what is in view:
// - The records are cut into segments (PaneSegments): a record is one
//   segment, unless its block is longer than kPieceLength characters, when it
//   becomes pieces of about that length (a piece that splits a paragraph
//   starts a new line there, so it starts after a white space where the
//   line has one; a surrogate pair or "\r\n" is never split). So no single
//   layout holds more than a piece, and a 1 MB message is laid out a screen
//   at a time.
// - A segment is laid out with QTextLayout (wrapped at the pane's width) only
//   when it is painted, hit or scrolled over; its height is then remembered.
//   Layouts and heights are dropped again past a bound, all of them when the
//   width changes.
// - The view's place is (segment, pixels into it). Scrolling by wheel, keys or
//   a find moves that place through real heights. The scroll bar counts
//   estimated lines (from each segment's length, no layout needed), so it is
//   exact about which record is at the top and approximate inside a long one.
// - Selection and the caret are positions (record, character of its block);
//   copying joins the selected block text exactly as the plain-text editor
//   that used to be here copied it. A query's answer is found in and copied
//   by the worker; a copy of more than kMaxCopyCharacters is refused with a
//   message (the day export writes any size).
// Nothing is typed into the pane: it is a viewer.
class ResultPane : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int kRecordPixelSize = 18;
    static constexpr int kNoticePixelSize = 30;
    static constexpr int kPieceLength = PaneSegments::kPieceLength;
    static constexpr qint64 kMaxCopyCharacters = 16 * 1024 * 1024;

    static QString notFoundText();
    static QString queryFailedText(const QString& reason);
    static QString cancelledText();
    // The marker of a listing that follows the log, on the strip and the
    // window's line.
    static QString liveText();
    bool isLive() const { return m_live && (m_stored || m_parked); }
    // Newest first, new records are not put on top: "有 N 条新记录，按 F5 显示".
    static QString waitingText(qint64 count);
    static QString copyTooLargeText(qint64 characters);

    explicit ResultPane(QWidget* parent = nullptr);
    ~ResultPane() override;

    // Replace what the pane shows; each clears the selection, scrolls to the
    // top and cancels a running query.
    void showRecords(const SystemLog::RecordList& records);
    void showNotice(const QString& text);
    // A hint drawn while the pane has shown nothing yet, in the palette's
    // placeholder colour; it is not text of the pane (never selected, copied
    // or exported) and the first show*() call ends it for good.
    void setPlaceholderText(const QString& text);
    QString placeholderText() const { return m_placeholder; }
    // Lists the records of `type` of the day (or the range, both ends included) from
    // the log database at `sources` (or several merged, or the central
    // database), read-only, off the GUI thread.
    void showDayQuery(const LogSources& sources, int type, const QDate& day);
    void showRangeQuery(const LogSources& sources, int type, const QDateTime& start, const QDateTime& end);
    // The same for a query of any types, pattern and order (its bounds are
    // set from the day or the range).
    void showDayQuery(const LogSources& sources, SystemLog::LogQuery query, const QDate& day);
    void showRangeQuery(const LogSources& sources, SystemLog::LogQuery query, const QDateTime& start, const QDateTime& end);
    // Checks at once that the log database at `sources` can be read; a
    // file that cannot shows why (checkEnded() follows either way).
    void checkLogFile(const LogSources& sources);
    // Whether a query is being listed, or a find or copy of one runs.
    bool isBusy() const;
    bool isListing() const;

    // Record blocks (or the one notice) the pane holds.
    int recordCount() const;
    // Everything shown, as select-all and copy would give it; reads every
    // text, so it suits small answers.
    QString toPlainText() const;
    QString selectedText() const;
    bool hasSelection() const;
    // The first and last record with any line in view (-1 when empty), and
    // how many pixels of the first lie above the view.
    int firstVisibleRecord() const;
    // Where the first line of `record` is in the viewport; empty when it
    // is not in view.
    QRect recordRect(int record);
    // The record the caret is in (-1 when empty).
    int caretRecord() const { return recordCount() > 0 ? std::min(m_caret.record, recordCount() - 1) : -1; }
    int lastVisibleRecord() const;
    int firstVisibleRecordOffset() const;
    // Selects the next (or previous) occurrence after the selection, case
    // insensitive, wrapping around. Records in memory are searched at once
    // and the result returned; a query's answer is searched by the worker and
    // false returned. findEnded() tells either way.
    bool find(const QString& text, bool backward = false);
    // Shows `record` at the top; one of a query still listing is shown once
    // it arrives.
    void scrollToRecord(int record);
    // The query's listing as it is now, for work on it beside the pane;
    // none while the pane shows no query's answer.
    std::optional<PaneListing> listing() const;
    // Shows the first listed record stamped at or after `time` (the latest
    // when none is), once the listing has ended; the time stamps are read
    // off the GUI thread. noteChanged() says where it landed.
    void goToTime(const QDateTime& time);
    // Shows the listed record of this machine (its name; any for one file)
    // and id, once it is listed; a listing that ends without it says so
    // (noteChanged()).
    void showListedRecord(const QString& machine, qint64 id);
    // Reads record `record` of `listed` (a listing() taken earlier) whole,
    // with an alarm's preceding records of `minutes`, off the GUI thread;
    // detailRead() follows.
    void readDetail(const PaneListing& listed, int record, int minutes);
    PaneFindBar* findBar() const { return m_findBar; }
    // The window's actions on the listing, added to the context menu.
    void setContextActions(const QList<QAction*>& actions) { m_contextActions = actions; }
    PaneStrip* strip() const { return m_strip; }
    // Whether the mouse button is held above or below the view, so that the
    // view goes on scrolling and the selection on growing.
    bool isDragScrolling() const { return m_dragScroll.isActive(); }

public slots:
    void selectAll();
    void copy();
    void openFindBar();
    // Esc: ends a running query, find or copy; what was listed stays.
    void cancelBusyWork();

signals:
    void queryEnded();
    // What the listing has come to: "正在查询…已列出 N 条", "共 N 条",
    // "共 57 条 · 2 处空缺" (records and drop records apart),
    // "查询失败", "查询已取消…"; shown on the strip and by the window.
    void listingStatusChanged(const QString& status);
    void checkEnded(const QString& error);
    // The machines of the sources checked (checkLogFile()).
    void machinesFound(const QStringList& machines);
    void findEnded(bool found);
    void copyEnded();
    // A listed record's detail asked for: a double click on it, or Enter.
    void recordActivated(int record);
    void detailRead(const RecordDetail& detail);
    // Where a jump landed (to a time, to a record, into a part of the strip
    // a stopped listing did not reach); empty with every new listing.
    void noteChanged(const QString& note);
    // The strip's 转到时间…, with the time under the pointer.
    void timeChoiceRequested(const QDateTime& around);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    using TextPos = PaneText::Position;
    struct ViewPos // the top of the view
    {
        int segment = 0;
        int offset = 0; // pixels into the segment
    };
    struct Paragraph
    {
        int start; // in the record's block
        int length;
        int y; // in the segment
        std::unique_ptr<QTextLayout> layout;
    };
    struct SegmentLayout
    {
        std::vector<Paragraph> paragraphs;
        int height = 0;
    };

    static bool before(const TextPos& a, const TextPos& b) { return PaneText::before(a, b); }
    static bool before(const ViewPos& a, const ViewPos& b);

    void setContent(std::unique_ptr<PaneRecords> records, int pixelSize, bool keepListing = false);
    void startQuery(const LogSources& sources, const SystemLog::LogQuery& query, bool reachesNow);
    void fixMachines(const QStringList& machines, const QStringList& problems);
    void relistLive();
    void parkEmptyAnswer();
    void takeListedKeys(const std::vector<qint64>& ids, const std::vector<int>& lengths, const std::vector<qint8>& kinds,
                        const std::vector<qint16>& machines);
    void endListing(const QString& error);
    void showListingStatus();
    QString listedCountText() const;
    void setListingStatus(const QString& text);
    void endCheck(const QString& error, const QString& note);
    void endFind(const PaneSearch::Match& match, const QString& error);
    void endCopy(const QString& text, const QString& error);
    void locate(const QDateTime& time);
    void endLocate(int record, const QString& datetime, bool atOrAfter, const QString& error);
    void lookForPendingRecord();
    void showUnlisted();
    void selectHeading(int record);
    void setNote(const QString& note);
    void updateBusyState();
    void updateMargins();
    void dropLayoutsAfterReadFailure();
    void paintKind(QPainter& painter, int record, int y, int height);

    int charsPerLine() const;
    void invalidateLayouts();
    QString blockText(int record) const;
    int blockLength(int record) const;
    int recordOfSegment(int segment) const { return m_segments.recordOf(segment); }
    int segmentOf(const TextPos& pos) const;
    int pieceStart(int record, int piece) const;
    int segmentCount() const { return m_segments.segmentCount(); }
    const SegmentLayout& layoutOf(int segment);
    int heightOf(int segment);
    int lineHeight() const;

    ViewPos lastTop();
    void setTop(ViewPos top);
    void scrollByPixels(int dy);
    void syncScrollBar();
    void topFromScrollValue(int value);
    void ensureVisible(const TextPos& pos);
    bool viewportRectOf(const TextPos& pos, QRect* rect);
    TextPos hitTest(const QPoint& point);
    TextPos endOfText() const;
    TextPos step(const TextPos& pos, int delta) const;

    void dragSelectTo(const QPoint& point);
    void moveCaret(const TextPos& to, bool extend);
    void moveCaretVertically(int dy, bool extend);
    void selectionBounds(TextPos* start, TextPos* end) const;
    qint64 selectionLength() const;
    QString textBetween(const TextPos& start, const TextPos& end) const;
    void select(const PaneSearch::Match& match);
    void placeFindBar();
    void placeStrip();
    void inform(const QString& text);
    void paintPlaceholder(QPainter* painter);

    std::unique_ptr<PaneRecords> m_records;
    StoredRecords* m_stored = nullptr; // m_records, when it is a query's answer
    PaneSegments m_segments;
    int m_layoutWidth = -1;
    std::unordered_map<int, std::unique_ptr<SegmentLayout>> m_layouts;
    QHash<int, int> m_heights;
    bool m_lastTopKnown = false;
    ViewPos m_lastTop;

    ViewPos m_top;
    TextPos m_anchor;
    TextPos m_caret;
    int m_pendingTopRecord = -1;
    int m_wheelRemainder = 0; // in eighths of a degree, as angleDelta counts
    bool m_syncingScrollBar = false;
    bool m_busyCursor = false;
    QBasicTimer m_dragScroll;
    QBasicTimer m_readRetry;
    QPoint m_dragPoint;
    QString m_findText; // marked wherever it is in view while the find bar is open
    // The listing follows the log (its period reaches the present).
    bool m_live = false;
    qint64 m_gapsListed = 0; // drop records among the listed keys
    qint64 m_waiting = 0; // new records of a live listing newest first
    std::unique_ptr<StoredRecords> m_parked; // a live listing's empty answer, behind the not-found notice
    LogSources m_liveSources;
    QStringList m_problems; // machines of the listing that cannot be read
    // What the listing's search said of the text index: it builds one (until
    // the listing ends), or reads the records the index lacks.
    QString m_indexBuilding;
    QStringList m_indexNotes;
    SystemLog::LogQuery m_liveQuery;
    PaneFindBar* m_findBar;
    PaneStrip* m_strip;
    QueryWorker* m_worker;
    QShortcut* m_cancelShortcut;
    QString m_placeholder;
    QList<QAction*> m_contextActions;
    QDateTime m_pendingTime; // a go-to-time waiting for the listing to end
    QDateTime m_locating;    // the time being located
    struct PendingRecord
    {
        QString machine;
        qint64 id = 0;
        int scanned = 0; // listed records looked at so far
    };
    std::optional<PendingRecord> m_pendingRecord;
};
