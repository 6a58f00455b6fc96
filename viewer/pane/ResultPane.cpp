// The result pane's content, layout, scrolling and painting; selection, find
// and input are in ResultPaneInput.cpp, queries in ResultPaneQuery.cpp (see
// ResultPane.h).
#include "ResultPane.h"

#include <vxSyslog/ListingBlock.h>

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

#include "MemoryRecords.h"
#include "PaneFindBar.h"
#include "PaneStrip.h"
#include "RecordColours.h"
#include "RecordDetail.h"
#include "QueryWorker.h"
#include "StoredRecords.h"

namespace {

// The plain-text editor's document margin, kept so the text sits where it did.
constexpr int kMargin = 4;
// Layouts kept beyond what a paint needs; past this they are dropped (their
// heights stay known).
constexpr std::size_t kMaxLayouts = 512;
// Heights remembered; past this they are forgotten and measured again where
// needed, so paging through millions of records does not grow the pane.
constexpr int kMaxHeights = 1 << 16;

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

// The database's own (English) text goes below the Chinese reason, as
// details for a technician, not into the headline.
QString ResultPane::queryFailedText(const QString& reason)
{
    const QString marker = QStringLiteral("（数据库信息：");
    const int at = reason.indexOf(marker);
    if (at < 0 || !reason.endsWith(QChar(0xFF09)))
        return QStringLiteral("查询失败：%1").arg(reason);
    const QString details = reason.mid(at + marker.size(), reason.size() - at - marker.size() - 1);
    return QStringLiteral("查询失败：%1\n详细信息：%2").arg(reason.left(at), details);
}

QString ResultPane::liveText()
{
    return QStringLiteral("● 实时更新中");
}

QString ResultPane::waitingText(qint64 count)
{
    return QStringLiteral("有 %1 条新记录，按 F5 显示").arg(SystemLog::groupedCount(count));
}

QString ResultPane::cancelledText()
{
    return QStringLiteral("查询已取消");
}

QString ResultPane::copyTooLargeText(qint64 characters)
{
    return QStringLiteral("选中的内容有 %1 个字符，超过了复制的上限（%2 个字符），没有复制。\n"
                          "请选择少一些记录；一整天的记录可以用“导出”保存为文件。")
        .arg(SystemLog::groupedCount(characters), SystemLog::groupedCount(kMaxCopyCharacters));
}

ResultPane::ResultPane(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_records(std::make_unique<MemoryRecords>(SystemLog::RecordList()))
    , m_findBar(new PaneFindBar(this))
    , m_strip(new PaneStrip(this))
    , m_worker(new QueryWorker(this))
    , m_cancelShortcut(new QShortcut(QKeySequence(Qt::Key_Escape), this))
{
    // Text wraps at the width, so nothing scrolls sideways; the vertical bar
    // stays, so that a result never changes the width it is laid out at.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    m_findBar->hide();
    m_strip->hide();
    connect(m_findBar, &PaneFindBar::findRequested, this,
            [this](const QString& text, bool backward) { find(text, backward); });
    connect(this, &ResultPane::findEnded, m_findBar, &PaneFindBar::showFound);
    connect(m_worker, &QueryWorker::standingCounted, m_findBar, &PaneFindBar::showStanding);
    connect(m_findBar, &PaneFindBar::closed, this, [this] {
        m_findText.clear();
        viewport()->update();
        updateMargins();
        setFocus(Qt::OtherFocusReason);
    });
    connect(m_strip, &PaneStrip::recordRequested, this, &ResultPane::scrollToRecord);
    connect(m_strip, &PaneStrip::unlistedRequested, this, &ResultPane::showUnlisted);
    connect(m_strip, &PaneStrip::timeRequested, this, &ResultPane::goToTime);
    connect(m_strip, &PaneStrip::timeChoiceRequested, this, &ResultPane::timeChoiceRequested);
    connect(m_worker, &QueryWorker::standingProgress, m_findBar, &PaneFindBar::showCounting);
    connect(m_worker, &QueryWorker::timeLocated, this, &ResultPane::endLocate);
    connect(m_worker, &QueryWorker::detailRead, this, &ResultPane::detailRead);
    connect(m_worker, &QueryWorker::keysListed, this, &ResultPane::takeListedKeys);
    connect(m_worker, &QueryWorker::intervalsCounted, m_strip, &PaneStrip::setCounts);
    connect(m_worker, &QueryWorker::intervalsAdded, m_strip, &PaneStrip::addCounts);
    connect(m_worker, &QueryWorker::gapsAdded, m_strip, &PaneStrip::addGapCounts);
    connect(m_worker, &QueryWorker::liveRestarted, this, &ResultPane::relistLive);
    connect(m_worker, &QueryWorker::recordsWaiting, this, [this](qint64 count) {
        m_waiting += count;
        showListingStatus();
    });
    connect(m_worker, &QueryWorker::gapsCounted, m_strip, &PaneStrip::setGapCounts);
    connect(m_worker, &QueryWorker::listingEnded, this, &ResultPane::endListing);
    connect(m_worker, &QueryWorker::copyTaken, this, [this](const std::shared_ptr<SystemLog::CommittedCopy>& copy) {
        if (m_stored)
            m_stored->readFrom(copy);
    });
    connect(m_worker, &QueryWorker::checkEnded, this, &ResultPane::endCheck);
    connect(m_worker, &QueryWorker::searchNoticed, this, [this](bool building, const QString& text) {
        if (building)
            m_indexBuilding = text;
        else if (!m_indexNotes.contains(text))
            m_indexNotes << text;
        showListingStatus();
    });
    connect(m_worker, &QueryWorker::machinesFound, this, &ResultPane::machinesFound);
    connect(m_worker, &QueryWorker::machinesFixed, this, &ResultPane::fixMachines);
    connect(m_worker, &QueryWorker::findEnded, this, &ResultPane::endFind);
    connect(m_worker, &QueryWorker::copyEnded, this, &ResultPane::endCopy);
    // Only while something runs, so Esc keeps its meaning everywhere else.
    m_cancelShortcut->setContext(Qt::WindowShortcut);
    m_cancelShortcut->setEnabled(false);
    connect(m_cancelShortcut, &QShortcut::activated, this, &ResultPane::cancelBusyWork);
    m_segments.reset(m_records.get(), charsPerLine());
}

// The worker goes first, so no job of it outlives what the pane holds.
ResultPane::~ResultPane()
{
    delete m_worker;
    if (m_busyCursor)
        QApplication::restoreOverrideCursor();
}

// ---- content ----

void ResultPane::showRecords(const SystemLog::RecordList& records)
{
    setContent(std::make_unique<MemoryRecords>(records), kRecordPixelSize);
}

void ResultPane::showNotice(const QString& text)
{
    setContent(std::make_unique<MemoryRecords>(text), kNoticePixelSize);
}

// With keepListing a live listing goes on behind the new content (its empty
// answer parked behind the not-found notice).
void ResultPane::setContent(std::unique_ptr<PaneRecords> records, int pixelSize, bool keepListing)
{
    if (!keepListing) {
        m_worker->cancelListing();
        m_worker->cancelLocate();
        m_pendingTime = QDateTime();
        m_pendingRecord.reset();
        m_parked.reset();
        m_live = false;
        m_strip->hide();
    }
    m_worker->cancelFind();
    m_worker->cancelCopy();
    updateBusyState();
    updateMargins();
    setFont(paneFont(pixelSize));
    m_placeholder.clear();
    m_records = std::move(records);
    m_stored = nullptr;
    m_gapsListed = 0;
    m_pendingTopRecord = -1;
    m_wheelRemainder = 0;
    m_anchor = m_caret = TextPos();
    m_top = ViewPos();
    m_segments.reset(m_records.get(), charsPerLine());
    invalidateLayouts();
    setTop(ViewPos());
}

int ResultPane::charsPerLine() const
{
    const QFontMetrics metrics(font());
    return std::max(1, (viewport()->width() - 2 * kMargin) / std::max(1, metrics.averageCharWidth()));
}

void ResultPane::invalidateLayouts()
{
    m_layouts.clear();
    m_heights.clear();
    m_lastTopKnown = false;
    m_segments.setCharsPerLine(charsPerLine());
    viewport()->update();
}

int ResultPane::recordCount() const
{
    return m_records->count();
}

QString ResultPane::blockText(int record) const
{
    return m_records->blockText(record);
}

int ResultPane::blockLength(int record) const
{
    return m_records->blockLength(record);
}

int ResultPane::segmentOf(const TextPos& pos) const
{
    const int first = m_segments.firstSegment(pos.record);
    const int pieces = m_segments.pieceCount(pos.record);
    if (pieces == 1)
        return first;
    int piece = std::min(pieces - 1, pos.offset / kPieceLength);
    while (piece + 1 < pieces && pos.offset >= pieceStart(pos.record, piece + 1))
        ++piece;
    while (piece > 0 && pos.offset < pieceStart(pos.record, piece))
        --piece;
    return first + piece;
}

// A long block's pieces start near multiples of kPieceLength, after a white
// space where the text has one (PaneText::pieceStart).
int ResultPane::pieceStart(int record, int piece) const
{
    if (piece <= 0)
        return 0;
    const int at = piece * kPieceLength;
    const int before = std::min(PaneText::kWrapLookBack, at);
    const QString window = m_records->blockSlice(record, at - before, before + 2);
    return at - before + PaneText::pieceStart(window, before);
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
    const int piece = segment - m_segments.firstSegment(record);
    const bool hasAfter = piece + 1 < m_segments.pieceCount(record);
    const int start = pieceStart(record, piece);
    const int end = hasAfter ? pieceStart(record, piece + 1) : blockLength(record);
    const QString text = m_records->blockSlice(record, start, std::max(0, end - start));
    QVector<PaneText::Range> ranges = PaneText::paragraphs(text, 0, text.size());
    if (hasAfter && ranges.size() > 1 && ranges.last().length == 0)
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
    if (m_heights.size() >= kMaxHeights)
        m_heights.clear();
    m_heights.insert(segment, layout->height);
    return *m_layouts.emplace(segment, std::move(layout)).first->second;
}

int ResultPane::heightOf(int segment)
{
    const auto known = m_heights.constFind(segment);
    return known != m_heights.constEnd() ? *known : layoutOf(segment).height;
}

// ---- scrolling ----

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

void ResultPane::scrollToRecord(int record)
{
    if (record >= recordCount() && isListing()) {
        m_pendingTopRecord = record;
        return;
    }
    m_pendingTopRecord = -1;
    if (recordCount() > 0)
        setTop({m_segments.firstSegment(std::clamp(record, 0, recordCount() - 1)), 0});
}

void ResultPane::syncScrollBar()
{
    auto valueOf = [this](const ViewPos& pos) {
        if (segmentCount() == 0)
            return 0;
        const qint64 inside = qint64(m_segments.estimatedLines(pos.segment)) * pos.offset / std::max(1, heightOf(pos.segment));
        return m_segments.lineStart(pos.segment) + int(inside);
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
    if (segmentCount() == 0)
        return;
    if (value >= verticalScrollBar()->maximum()) {
        m_top = lastTop();
    } else {
        const int segment = m_segments.segmentAtLine(value);
        const qint64 inside = value - m_segments.lineStart(segment);
        const int offset = int(inside * heightOf(segment) / std::max(1, m_segments.estimatedLines(segment)));
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

void ResultPane::setPlaceholderText(const QString& text)
{
    m_placeholder = text;
    viewport()->update();
}

void ResultPane::paintPlaceholder(QPainter* painter)
{
    if (m_placeholder.isEmpty())
        return;
    painter->save();
    painter->setPen(palette().color(QPalette::PlaceholderText));
    const QRect area = viewport()->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    painter->drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_placeholder);
    painter->restore();
}

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
    QTextLayout::FormatRange hit;
    hit.format.setBackground(QColor(0xff, 0xd5, 0x4f));
    const QString marked = m_findBar->isVisible() ? m_findText : QString();
    if (segmentCount() == 0)
        paintPlaceholder(&painter);

    const int view = viewport()->height();
    int y = -m_top.offset;
    for (int s = m_top.segment; s < segmentCount() && y < view; ++s) {
        const SegmentLayout& layout = layoutOf(s);
        const int record = recordOfSegment(s);
        paintKind(painter, record, y, layout.height);
        for (const Paragraph& p : layout.paragraphs) {
            QVector<QTextLayout::FormatRange> ranges;
            const QString shown = marked.isEmpty() ? QString() : p.layout->text();
            for (int at = shown.indexOf(marked, 0, Qt::CaseInsensitive); !marked.isEmpty() && at >= 0;
                 at = shown.indexOf(marked, at + int(marked.size()), Qt::CaseInsensitive)) {
                hit.start = at;
                hit.length = int(marked.size());
                ranges.append(hit);
            }
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
    if (m_stored && m_stored->takeReadFailure())
        dropLayoutsAfterReadFailure();
}

// A query's record: its type's stripe in the margin; gaps tinted, and alarms
// where other types are listed beside them.
void ResultPane::paintKind(QPainter& painter, int record, int y, int height)
{
    if (!m_stored || record >= m_stored->keys().count())
        return;
    const qint8 kind = m_stored->keys().kind(record);
    const bool gap = RecordKeys::isGapKind(kind);
    const int type = RecordKeys::typeOfKind(kind);
    const QColor background = RecordColours::backgroundOf(m_stored->query().namesTypes() || gap ? type : -1, gap);
    if (background.alpha() > 0)
        painter.fillRect(QRect(0, y, viewport()->width(), height), background);
    painter.fillRect(QRect(0, y, kMargin - 1, height), gap ? RecordColours::gapColour() : RecordColours::typeColour(type));
}

// What was laid out from a failed read shows the reason; it is read and laid
// out again a moment later.
void ResultPane::dropLayoutsAfterReadFailure()
{
    m_layouts.clear();
    m_heights.clear();
    m_lastTopKnown = false;
    m_readRetry.start(500, this);
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
    placeFindBar();
    placeStrip();
}

QRect ResultPane::recordRect(int record)
{
    QRect caret;
    if (record < 0 || record >= recordCount() || !viewportRectOf({record, 0}, &caret) || caret.bottom() < 0
        || caret.top() >= viewport()->height())
        return QRect();
    return QRect(0, caret.top(), viewport()->width(), caret.height());
}

int ResultPane::firstVisibleRecord() const
{
    return segmentCount() == 0 ? -1 : recordOfSegment(m_top.segment);
}

int ResultPane::firstVisibleRecordOffset() const
{
    if (segmentCount() == 0)
        return 0;
    auto* self = const_cast<ResultPane*>(this); // heights are a cache
    const int record = recordOfSegment(m_top.segment);
    int offset = m_top.offset;
    for (int s = m_segments.firstSegment(record); s < m_top.segment; ++s)
        offset += self->heightOf(s);
    return offset;
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
