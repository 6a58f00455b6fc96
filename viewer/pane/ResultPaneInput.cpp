// The result pane's selection and input handling; its content, layout and
// scrolling are in ResultPane.cpp, finding and copying a query's answer in
// ResultPaneQuery.cpp (see ResultPane.h).
#include "ResultPane.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTextLayout>
#include <QTimerEvent>

#include "PaneFindBar.h"
#include "PaneRecords.h"
#include "PaneText.h"

// ---- selection ----

ResultPane::TextPos ResultPane::endOfText() const
{
    const int records = recordCount();
    return records == 0 ? TextPos() : TextPos{records - 1, blockLength(records - 1)};
}

// One character on, or back; a surrogate pair is one character.
ResultPane::TextPos ResultPane::step(const TextPos& pos, int delta) const
{
    TextPos next{pos.record, pos.offset + delta};
    if (next.offset > 0 && next.offset < blockLength(pos.record)) {
        const QString pair = m_records->blockSlice(pos.record, next.offset - 1, 2);
        if (pair.size() == 2 && pair.at(0).isHighSurrogate() && pair.at(1).isLowSurrogate())
            next.offset += delta;
    }
    if (next.offset < 0)
        return pos.record > 0 ? TextPos{pos.record - 1, blockLength(pos.record - 1)} : TextPos();
    if (next.offset > blockLength(pos.record))
        return pos.record + 1 < recordCount() ? TextPos{pos.record + 1, 0} : endOfText();
    return next;
}

void ResultPane::selectionBounds(TextPos* start, TextPos* end) const
{
    const bool anchorFirst = !before(m_caret, m_anchor);
    *start = anchorFirst ? m_anchor : m_caret;
    *end = anchorFirst ? m_caret : m_anchor;
}

bool ResultPane::hasSelection() const
{
    return before(m_anchor, m_caret) || before(m_caret, m_anchor);
}

QString ResultPane::textBetween(const TextPos& start, const TextPos& end) const
{
    if (recordCount() == 0)
        return QString();
    return PaneText::joinedText(start, end, [this](int record) { return blockText(record); });
}

// Characters a copy of the selection would hand over, before copyText() folds
// separators (which only makes it shorter).
qint64 ResultPane::selectionLength() const
{
    TextPos start, end;
    selectionBounds(&start, &end);
    qint64 length = end.offset - start.offset;
    for (int r = start.record; r < end.record; ++r)
        length += blockLength(r) + 1;
    return length;
}

QString ResultPane::selectedText() const
{
    TextPos start, end;
    selectionBounds(&start, &end);
    return hasSelection() ? textBetween(start, end) : QString();
}

QString ResultPane::toPlainText() const
{
    return textBetween(TextPos(), endOfText());
}

void ResultPane::selectAll()
{
    m_anchor = TextPos();
    m_caret = endOfText();
    viewport()->update();
}

void ResultPane::moveCaret(const TextPos& to, bool extend)
{
    m_caret = to;
    if (!extend)
        m_anchor = to;
    ensureVisible(to);
    viewport()->update();
}

void ResultPane::moveCaretVertically(int dy, bool extend)
{
    if (recordCount() == 0)
        return;
    QRect rect;
    const int view = viewport()->height();
    if (!viewportRectOf(m_caret, &rect) || rect.top() < 0 || rect.bottom() >= view) {
        ensureVisible(m_caret);
        viewportRectOf(m_caret, &rect);
    }
    int y = rect.center().y() + dy;
    if (y < 0 || y >= view) {
        const int wanted = y < 0 ? y : y - view + 1;
        scrollByPixels(wanted);
        QRect moved;
        if (viewportRectOf(m_caret, &moved))
            y -= rect.top() - moved.top();
        else
            y -= wanted; // the caret's line left the view: the scroll was whole
    }
    TextPos target = hitTest(QPoint(rect.x(), std::clamp(y, 0, view - 1)));
    if (y >= view && !before(m_caret, target))
        target = endOfText();
    if (y < 0 && !before(target, m_caret))
        target = TextPos();
    moveCaret(target, extend);
}

// ---- find bar ----

void ResultPane::openFindBar()
{
    m_findBar->show();
    updateMargins();
    m_findBar->open();
}

void ResultPane::placeFindBar()
{
    const QRect view = viewport()->geometry();
    m_findBar->setGeometry(view.left(), view.bottom() + 1, view.width(), m_findBar->sizeHint().height());
}

// ---- input ----

void ResultPane::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Find) {
        openFindBar();
        return;
    }
    if (event->key() == Qt::Key_Escape && m_findBar->isVisible()) {
        m_findBar->hide();
        emit m_findBar->closed();
        return;
    }
    if (recordCount() == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_stored) {
        emit recordActivated(std::min(m_caret.record, recordCount() - 1));
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const int page = std::max(lineHeight(), viewport()->height() - lineHeight());
    switch (event->key()) {
    case Qt::Key_Left:
        moveCaret(step(m_caret, -1), extend);
        return;
    case Qt::Key_Right:
        moveCaret(step(m_caret, 1), extend);
        return;
    case Qt::Key_Up:
        moveCaretVertically(-lineHeight(), extend);
        return;
    case Qt::Key_Down:
        moveCaretVertically(lineHeight(), extend);
        return;
    case Qt::Key_PageUp:
        moveCaretVertically(-page, extend);
        return;
    case Qt::Key_PageDown:
        moveCaretVertically(page, extend);
        return;
    case Qt::Key_Home:
        moveCaret(TextPos(), extend);
        setTop(ViewPos());
        return;
    case Qt::Key_End:
        moveCaret(endOfText(), extend);
        setTop(lastTop());
        return;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ResultPane::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || recordCount() == 0) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_caret = hitTest(event->pos());
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = m_caret;
    viewport()->update();
}

void ResultPane::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || recordCount() == 0)
        return;
    m_dragPoint = event->pos();
    dragSelectTo(m_dragPoint);
    // Held above or below the view, the selection goes on growing.
    if (m_dragPoint.y() < 0 || m_dragPoint.y() >= viewport()->height())
        m_dragScroll.start(50, this);
    else
        m_dragScroll.stop();
}

void ResultPane::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragScroll.stop();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void ResultPane::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_readRetry.timerId()) {
        m_readRetry.stop();
        m_lastTopKnown = false;
        setTop(m_top);
        return;
    }
    if (event->timerId() != m_dragScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    // Only started while the left button is held; its release stops it.
    if (recordCount() == 0) {
        m_dragScroll.stop();
        return;
    }
    dragSelectTo(m_dragPoint);
}

// Scrolls by how far the pointer is outside the view, then moves the caret
// under it.
void ResultPane::dragSelectTo(const QPoint& point)
{
    const int view = viewport()->height();
    if (point.y() < 0)
        scrollByPixels(point.y());
    else if (point.y() >= view)
        scrollByPixels(point.y() - view + 1);
    m_caret = hitTest(point);
    viewport()->update();
}

// A query's record: its detail. Records handed to the pane (or a notice):
// selects the run of non-blank characters under the pointer.
void ResultPane::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || recordCount() == 0)
        return;
    const TextPos hit = hitTest(event->pos());
    if (m_stored) {
        m_anchor = m_caret = hit;
        viewport()->update();
        emit recordActivated(hit.record);
        return;
    }
    const QString text = blockText(hit.record);
    int from = hit.offset;
    int to = hit.offset;
    while (from > 0 && !text.at(from - 1).isSpace())
        --from;
    while (to < text.size() && !text.at(to).isSpace())
        ++to;
    m_anchor = {hit.record, from};
    m_caret = {hit.record, to};
    viewport()->update();
}

// A wheel turns in notches of 120 eighths of a degree, a touchpad or a fine
// wheel in smaller steps: what is left of a line is kept for the next event
// (until the direction changes). Where the platform gives pixels, they are used.
void ResultPane::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const int pixels = event->pixelDelta().y();
    if (pixels != 0) {
        m_wheelRemainder = 0;
        scrollByPixels(-pixels);
        return;
    }
    const int delta = event->angleDelta().y();
    if ((delta > 0 && m_wheelRemainder < 0) || (delta < 0 && m_wheelRemainder > 0))
        m_wheelRemainder = 0;
    m_wheelRemainder += delta * QApplication::wheelScrollLines();
    const int lines = m_wheelRemainder / 120;
    m_wheelRemainder -= lines * 120;
    scrollByPixels(-lines * lineHeight());
}

void ResultPane::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QStringLiteral("复制"), this, &ResultPane::copy);
    copyAction->setEnabled(hasSelection());
    menu.addAction(QStringLiteral("全选"), this, &ResultPane::selectAll);
    menu.addAction(QStringLiteral("查找"), this, &ResultPane::openFindBar);
    if (m_stored && recordCount() > 0) {
        const int record = hitTest(event->pos()).record;
        menu.addSeparator();
        menu.addAction(QStringLiteral("记录详情"), this, [this, record] { emit recordActivated(record); });
    }
    for (QAction* action : m_contextActions) {
        if (menu.actions().size() > 0 && action == m_contextActions.first())
            menu.addSeparator();
        menu.addAction(action);
    }
    menu.exec(event->globalPos());
}

void ResultPane::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ResultPane::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
