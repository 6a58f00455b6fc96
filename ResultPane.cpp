// The result pane's content, layout, scrolling and painting; selection, find
// and input are in ResultPaneInput.cpp (see ResultPane.h).
#include "ResultPane.h"

#include <QFont>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

#include <vxSyslog/RecordBlock.h>

#include "PaneFindBar.h"
#include "PaneText.h"

namespace {

// The plain-text editor's document margin, kept so the text sits where it did.
constexpr int kMargin = 4;
// Layouts kept beyond what a paint needs; past this they are dropped (their
// heights stay known).
constexpr std::size_t kMaxLayouts = 512;

QFont paneFont(int pixelSize)
{
    QFont font;
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

QString ResultPane::notFoundText()
{
    return QStringLiteral("没有找到相关记录");
}

QString ResultPane::queryFailedText(const QString& reason)
{
    return QStringLiteral("查询失败：%1").arg(reason);
}

ResultPane::ResultPane(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_findBar(new PaneFindBar(this))
{
    // Text wraps at the width, so nothing scrolls sideways; the vertical bar
    // stays, so that a result never changes the width it is laid out at.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    m_findBar->hide();
    connect(m_findBar, &PaneFindBar::findRequested, this,
            [this](const QString& text, bool backward) { m_findBar->showFound(find(text, backward)); });
    connect(m_findBar, &PaneFindBar::closed, this, [this] {
        setViewportMargins(0, 0, 0, 0);
        setFocus(Qt::OtherFocusReason);
    });
    m_firstSegment = {0};
    m_lineStart = {0};
}

ResultPane::~ResultPane() = default;

// ---- content ----

void ResultPane::showRecords(const SystemLog::RecordList& records)
{
    m_records = records;
    m_notice.clear();
    m_showsNotice = false;
    setContent(paneFont(kRecordPixelSize));
}

void ResultPane::showNotice(const QString& text)
{
    m_records.clear();
    m_notice = text;
    m_showsNotice = true;
    setContent(paneFont(kNoticePixelSize));
}

void ResultPane::setContent(const QFont& font)
{
    setFont(font);
    const int records = recordCount();
    m_firstSegment.resize(records + 1);
    int segments = 0;
    for (int r = 0; r < records; ++r) {
        m_firstSegment[r] = segments;
        segments += std::max(1, (blockLength(r) + kPieceLength - 1) / kPieceLength);
    }
    m_firstSegment[records] = segments;
    m_anchor = m_caret = TextPos();
    m_top = ViewPos();
    invalidateLayouts();
    setTop(ViewPos());
}

void ResultPane::invalidateLayouts()
{
    m_layouts.clear();
    m_heights.clear();
    m_lastTopKnown = false;
    rebuildLineEstimates();
    viewport()->update();
}

void ResultPane::rebuildLineEstimates()
{
    const QFontMetrics metrics(font());
    m_charsPerLine = std::max(1, (viewport()->width() - 2 * kMargin) / std::max(1, metrics.averageCharWidth()));
    m_lineStart.resize(segmentCount() + 1);
    int lines = 0;
    int segment = 0;
    for (int r = 0; r < recordCount(); ++r) {
        const int pieces = m_firstSegment.at(r + 1) - m_firstSegment.at(r);
        for (int piece = 0; piece < pieces; ++piece) {
            m_lineStart[segment++] = lines;
            lines += estimatedLines(r, piece);
        }
    }
    m_lineStart[segment] = lines;
}

int ResultPane::recordCount() const
{
    return m_showsNotice ? 1 : m_records.size();
}

QString ResultPane::blockText(int record) const
{
    return m_showsNotice ? m_notice : SystemLog::recordBlock(m_records.at(record));
}

// Part of a block without building the whole of it (a message can be huge).
QString ResultPane::blockSlice(int record, int from, int length) const
{
    if (m_showsNotice)
        return m_notice.mid(from, length);
    const auto& pair = m_records.at(record);
    const int headLength = pair.first.size() + 2;
    if (from >= headLength)
        return pair.second.mid(from - headLength, length);
    const QString head = pair.first + QStringLiteral(":\n");
    return head.mid(from, length) + pair.second.leftRef(std::max(0, length - (headLength - from)));
}

int ResultPane::blockLength(int record) const
{
    if (m_showsNotice)
        return m_notice.size();
    const auto& pair = m_records.at(record);
    return pair.first.size() + 2 + pair.second.size();
}

int ResultPane::recordOfSegment(int segment) const
{
    const auto it = std::upper_bound(m_firstSegment.begin(), m_firstSegment.end(), segment);
    return int(it - m_firstSegment.begin()) - 1;
}

int ResultPane::segmentOf(const TextPos& pos) const
{
    const int first = m_firstSegment.at(pos.record);
    const int pieces = m_firstSegment.at(pos.record + 1) - first;
    return first + std::min(pieces - 1, pos.offset / kPieceLength);
}

// The time line plus the message's characters at the current width.
int ResultPane::estimatedLines(int record, int piece) const
{
    const int length = std::min(kPieceLength, blockLength(record) - piece * kPieceLength);
    return 1 + length / m_charsPerLine + (piece == 0 ? 1 : 0);
}

int ResultPane::estimatedLines(int segment) const
{
    const int record = recordOfSegment(segment);
    return estimatedLines(record, segment - m_firstSegment.at(record));
}

int ResultPane::lineHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

const ResultPane::SegmentLayout& ResultPane::layoutOf(int segment)
{
    auto found = m_layouts.find(segment);
    if (found != m_layouts.end())
        return *found->second;

    const int record = recordOfSegment(segment);
    const int piece = segment - m_firstSegment.at(record);
    const int start = piece * kPieceLength;
    const QString text = blockSlice(record, start, kPieceLength);
    const bool lastPiece = segment + 1 == m_firstSegment.at(record + 1);
    QVector<PaneText::Range> ranges = PaneText::paragraphs(text, 0, text.size());
    if (!lastPiece && ranges.size() > 1 && ranges.last().length == 0)
        ranges.removeLast(); // the separator closed the piece, not a paragraph

    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const qreal width = std::max(1, viewport()->width() - 2 * kMargin);
    auto layout = std::make_unique<SegmentLayout>();
    int y = 0;
    for (const PaneText::Range& range : ranges) {
        auto paragraph = std::make_unique<QTextLayout>(text.mid(range.start, range.length), font(), viewport());
        paragraph->setTextOption(option);
        paragraph->beginLayout();
        qreal height = 0;
        for (QTextLine line = paragraph->createLine(); line.isValid(); line = paragraph->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        paragraph->endLayout();
        layout->paragraphs.push_back({start + range.start, range.length, y, std::move(paragraph)});
        y += std::max(lineHeight(), qCeil(height));
    }
    layout->height = std::max(1, y);
    m_heights.insert(segment, layout->height);
    return *m_layouts.emplace(segment, std::move(layout)).first->second;
}

int ResultPane::heightOf(int segment)
{
    const auto known = m_heights.constFind(segment);
    return known != m_heights.constEnd() ? *known : layoutOf(segment).height;
}

// ---- scrolling ----

bool ResultPane::before(const TextPos& a, const TextPos& b)
{
    return a.record < b.record || (a.record == b.record && a.offset < b.offset);
}

bool ResultPane::before(const ViewPos& a, const ViewPos& b)
{
    return a.segment < b.segment || (a.segment == b.segment && a.offset < b.offset);
}

// The top that shows the end of the text at the bottom of the view.
ResultPane::ViewPos ResultPane::lastTop()
{
    if (m_lastTopKnown)
        return m_lastTop;
    ViewPos top;
    int below = 0;
    const int view = viewport()->height();
    for (int s = segmentCount() - 1; s >= 0; --s) {
        const int height = heightOf(s);
        if (below + height >= view) {
            top = {s, below + height - view};
            break;
        }
        below += height;
    }
    m_lastTop = top;
    m_lastTopKnown = true;
    return top;
}

void ResultPane::setTop(ViewPos top)
{
    const int segments = segmentCount();
    while (top.offset < 0 && top.segment > 0) {
        --top.segment;
        top.offset += heightOf(top.segment);
    }
    while (top.segment < segments - 1 && top.offset >= heightOf(top.segment)) {
        top.offset -= heightOf(top.segment);
        ++top.segment;
    }
    const ViewPos last = lastTop();
    if (before(last, top))
        top = last;
    if (top.offset < 0)
        top.offset = 0;
    m_top = top;
    syncScrollBar();
    viewport()->update();
}

void ResultPane::scrollByPixels(int dy)
{
    setTop({m_top.segment, m_top.offset + dy});
}

void ResultPane::syncScrollBar()
{
    auto valueOf = [this](const ViewPos& pos) {
        if (segmentCount() == 0)
            return 0;
        const qint64 inside = qint64(estimatedLines(pos.segment)) * pos.offset / std::max(1, heightOf(pos.segment));
        return m_lineStart.at(pos.segment) + int(inside);
    };
    QScrollBar* bar = verticalScrollBar();
    m_syncingScrollBar = true;
    bar->setRange(0, valueOf(lastTop()));
    bar->setSingleStep(1);
    bar->setPageStep(std::max(1, viewport()->height() / lineHeight()));
    bar->setValue(valueOf(m_top));
    m_syncingScrollBar = false;
}

void ResultPane::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    if (!m_syncingScrollBar)
        topFromScrollValue(verticalScrollBar()->value());
}

// The scroll bar was moved by the operator: its value is in estimated lines.
void ResultPane::topFromScrollValue(int value)
{
    const int segments = segmentCount();
    if (segments == 0)
        return;
    if (value >= verticalScrollBar()->maximum()) {
        m_top = lastTop();
    } else {
        const auto it = std::upper_bound(m_lineStart.begin(), m_lineStart.end(), value);
        const int segment = std::clamp(int(it - m_lineStart.begin()) - 1, 0, segments - 1);
        const qint64 inside = value - m_lineStart.at(segment);
        const int offset = int(inside * heightOf(segment) / std::max(1, estimatedLines(segment)));
        m_top = {segment, std::min(offset, heightOf(segment) - 1)};
        if (before(lastTop(), m_top))
            m_top = lastTop();
    }
    viewport()->update();
}

// Where the caret would be drawn for `pos`, in viewport coordinates; false
// when its segment lies outside the view.
bool ResultPane::viewportRectOf(const TextPos& pos, QRect* rect)
{
    const int target = segmentOf(pos);
    if (target < m_top.segment)
        return false;
    const int view = viewport()->height();
    int y = -m_top.offset;
    for (int s = m_top.segment; s < target; ++s) {
        y += heightOf(s);
        if (y >= view)
            return false;
    }
    const SegmentLayout& layout = layoutOf(target);
    const Paragraph* paragraph = &layout.paragraphs.front();
    for (const Paragraph& p : layout.paragraphs)
        if (p.start <= pos.offset)
            paragraph = &p;
    const int inside = std::clamp(pos.offset - paragraph->start, 0, paragraph->length);
    QTextLine line = paragraph->layout->lineForTextPosition(inside);
    if (!line.isValid())
        line = paragraph->layout->lineAt(paragraph->layout->lineCount() - 1);
    const int top = y + paragraph->y + int(line.y());
    *rect = QRect(kMargin + int(line.cursorToX(inside)), top, 1, std::max(1, int(line.height())));
    return true;
}

void ResultPane::ensureVisible(const TextPos& pos)
{
    if (recordCount() == 0)
        return;
    QRect rect;
    const int view = viewport()->height();
    const int segment = segmentOf(pos);
    const bool inView = viewportRectOf(pos, &rect);
    if (inView && rect.top() >= 0 && rect.bottom() < view)
        return;
    // Bring the line's segment to the top, then the line to the edge it
    // came from: the bottom when it lay below, the top when above.
    const bool below = inView ? rect.bottom() >= view : segment > m_top.segment;
    setTop({segment, 0});
    if (!viewportRectOf(pos, &rect))
        return;
    scrollByPixels(below ? rect.bottom() + 1 - view : rect.top());
}

ResultPane::TextPos ResultPane::hitTest(const QPoint& point)
{
    const int segments = segmentCount();
    if (segments == 0)
        return TextPos();
    const int py = std::clamp(point.y(), 0, std::max(0, viewport()->height() - 1));
    int y = -m_top.offset;
    int s = m_top.segment;
    while (s < segments - 1 && py >= y + heightOf(s)) {
        y += heightOf(s);
        ++s;
    }
    const SegmentLayout& layout = layoutOf(s);
    const int local = py - y;
    const Paragraph* paragraph = &layout.paragraphs.front();
    for (const Paragraph& p : layout.paragraphs)
        if (p.y <= local)
            paragraph = &p;
    const QTextLayout& text = *paragraph->layout;
    for (int i = 0; i < text.lineCount(); ++i) {
        const QTextLine line = text.lineAt(i);
        if (local < paragraph->y + line.y() + line.height() || i == text.lineCount() - 1)
            return {recordOfSegment(s), paragraph->start + line.xToCursor(point.x() - kMargin)};
    }
    return {recordOfSegment(s), paragraph->start};
}

// ---- painting ----

void ResultPane::paintEvent(QPaintEvent* /*event*/)
{
    if (m_layouts.size() > kMaxLayouts)
        m_layouts.clear();
    QPainter painter(viewport());
    TextPos start, end;
    selectionBounds(&start, &end);
    QTextLayout::FormatRange selected;
    selected.format.setBackground(palette().brush(QPalette::Highlight));
    selected.format.setForeground(palette().brush(QPalette::HighlightedText));
    const bool drawCaret = hasFocus();

    const int view = viewport()->height();
    int y = -m_top.offset;
    for (int s = m_top.segment; s < segmentCount() && y < view; ++s) {
        const SegmentLayout& layout = layoutOf(s);
        const int record = recordOfSegment(s);
        for (const Paragraph& p : layout.paragraphs) {
            QVector<QTextLayout::FormatRange> ranges;
            if (record >= start.record && record <= end.record) {
                const int from = std::max(p.start, record == start.record ? start.offset : 0);
                const int to = std::min(p.start + p.length, record == end.record ? end.offset : p.start + p.length);
                if (to > from) {
                    selected.start = from - p.start;
                    selected.length = to - from;
                    ranges.append(selected);
                }
            }
            const QPointF origin(kMargin, y + p.y);
            p.layout->draw(&painter, origin, ranges);
            if (drawCaret && record == m_caret.record && m_caret.offset >= p.start
                && m_caret.offset <= p.start + p.length && segmentOf(m_caret) == s)
                p.layout->drawCursor(&painter, origin, m_caret.offset - p.start);
        }
        y += layout.height;
    }
}

void ResultPane::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (viewport()->width() != m_layoutWidth) {
        // New line breaks everywhere: keep the top record, forget the rest.
        m_layoutWidth = viewport()->width();
        const int topSegment = m_top.segment;
        invalidateLayouts();
        m_top = {topSegment, 0};
    }
    m_lastTopKnown = false;
    setTop(m_top);
    if (m_findBar->isVisible())
        placeFindBar();
}

int ResultPane::firstVisibleRecord() const
{
    return segmentCount() == 0 ? -1 : recordOfSegment(m_top.segment);
}

int ResultPane::lastVisibleRecord() const
{
    if (segmentCount() == 0)
        return -1;
    auto* self = const_cast<ResultPane*>(this); // heights are a cache
    const int view = viewport()->height();
    int y = -m_top.offset;
    int s = m_top.segment;
    while (s < segmentCount() - 1 && y + self->heightOf(s) < view) {
        y += self->heightOf(s);
        ++s;
    }
    return recordOfSegment(s);
}
