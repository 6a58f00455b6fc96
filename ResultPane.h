#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>
#include <QHash>
#include <QString>
#include <QVector>

#include <memory>
#include <unordered_map>

#include <vxSyslog/RecordList.h>

class PaneFindBar;
class QTextLayout;

// The window's result pane: the records of the last query, one paragraph per
// record block "time:\nmessage", or one notice in a larger font.
//
// It never builds a text document of the whole result, because a day in an
// alarm storm returns hundreds of thousands of records and laying those out
// takes minutes. It keeps the RecordList the query returned and lays out only
// what is in view:
// - The records are cut into segments: a record is one segment, unless its
//   block is longer than kPieceLength characters, when it becomes pieces of
//   that length (a piece that splits a paragraph starts a new line there).
//   So no single layout ever holds more than kPieceLength characters, and a
//   1 MB message is laid out a screen at a time.
// - A segment is laid out with QTextLayout (wrapped at the pane's width) only
//   when it is painted, hit or scrolled over; its height is then remembered.
//   Layouts are dropped again past a bound, heights only when the width
//   changes.
// - The view's place is (segment, pixels into it). Scrolling by wheel, keys or
//   a find moves that place through real heights. The scroll bar counts
//   estimated lines (from each segment's length, no layout needed), so it is
//   exact about which record is at the top and approximate inside a long one.
// - Selection and the caret are positions (record, character of its block);
//   copying joins the selected block text exactly as the plain-text editor
//   that used to be here copied it.
// Nothing is typed into the pane: it is a viewer.
class ResultPane : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int kRecordPixelSize = 18;
    static constexpr int kNoticePixelSize = 30;
    static constexpr int kPieceLength = 4096;

    static QString notFoundText();
    static QString queryFailedText(const QString& reason);

    explicit ResultPane(QWidget* parent = nullptr);
    ~ResultPane() override;

    // Replace what the pane shows; both clear the selection and scroll to the top.
    void showRecords(const SystemLog::RecordList& records);
    void showNotice(const QString& text);

    // Record blocks (or the one notice) the pane holds.
    int recordCount() const;
    // Everything shown, as select-all and copy would give it.
    QString toPlainText() const;
    QString selectedText() const;
    bool hasSelection() const;
    // The first and last record with any line in view (-1 when empty).
    int firstVisibleRecord() const;
    int lastVisibleRecord() const;
    // Selects the next (or previous) occurrence after the selection, case
    // insensitive, wrapping around; false if there is none.
    bool find(const QString& text, bool backward = false);
    PaneFindBar* findBar() const { return m_findBar; }

public slots:
    void selectAll();
    void copy() const;
    void openFindBar();

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
    struct TextPos // a character position in a record's block
    {
        int record = 0;
        int offset = 0;
    };
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

    static bool before(const TextPos& a, const TextPos& b);
    static bool before(const ViewPos& a, const ViewPos& b);

    void setContent(const QFont& font);
    void rebuildLineEstimates();
    void invalidateLayouts();
    QString blockText(int record) const;
    QString blockSlice(int record, int from, int length) const;
    int blockLength(int record) const;
    int recordOfSegment(int segment) const;
    int segmentOf(const TextPos& pos) const;
    int segmentCount() const { return m_firstSegment.isEmpty() ? 0 : m_firstSegment.last(); }
    int estimatedLines(int record, int piece) const;
    int estimatedLines(int segment) const;
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
    QString textBetween(const TextPos& start, const TextPos& end) const;
    void placeFindBar();

    SystemLog::RecordList m_records;
    QString m_notice;
    bool m_showsNotice = false;

    QVector<int> m_firstSegment; // per record, and the total at the end
    QVector<int> m_lineStart;    // estimated lines before each segment, and the total
    int m_charsPerLine = 40;
    int m_layoutWidth = -1;
    std::unordered_map<int, std::unique_ptr<SegmentLayout>> m_layouts;
    QHash<int, int> m_heights;
    bool m_lastTopKnown = false;
    ViewPos m_lastTop;

    ViewPos m_top;
    TextPos m_anchor;
    TextPos m_caret;
    bool m_syncingScrollBar = false;
    QBasicTimer m_dragScroll;
    QPoint m_dragPoint;
    PaneFindBar* m_findBar;
};
