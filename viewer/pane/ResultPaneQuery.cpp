// The result pane's queries: handing them to the worker, taking in what it
// lists, counts, finds and copies, the strip, the busy cursor and Esc (see
// ResultPane.h and QueryWorker.h).
#include "ResultPane.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QShortcut>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/LogQuery.h>

#include "MemoryRecords.h"
#include "PaneFindBar.h"
#include "PaneRecords.h"
#include "PaneSearch.h"
#include "PaneStrip.h"
#include "QueryWorker.h"
#include "RecordDetail.h"
#include "StoredRecords.h"

#include <algorithm>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

SystemLog::LogQuery oneType(int type)
{
    SystemLog::LogQuery query;
    query.types = {type};
    query.withGaps = true;
    return query;
}

} // namespace

void ResultPane::showDayQuery(const LogSources& sources, int type, const QDate& day)
{
    showDayQuery(sources, oneType(type), day);
}

void ResultPane::showRangeQuery(const LogSources& sources, int type, const QDateTime& start, const QDateTime& end)
{
    showRangeQuery(sources, oneType(type), start, end);
}

void ResultPane::showDayQuery(const LogSources& sources, SystemLog::LogQuery query, const QDate& day)
{
    m_strip->setDay(day);
    const QString text = day.toString(QStringLiteral("yyyy-MM-dd"));
    query.since = SystemLog::dayStart(text);
    query.until = SystemLog::dayEnd(text);
    startQuery(sources, query, day == QDate::currentDate());
}

void ResultPane::showRangeQuery(const LogSources& sources, SystemLog::LogQuery query, const QDateTime& start,
                                const QDateTime& end)
{
    m_strip->setRange(start, end);
    query.since = start.toString(kTimeFormat);
    query.until = end.toString(kTimeFormat);
    const QDateTime now = QDateTime::currentDateTime();
    startQuery(sources, query, start <= now && end >= now.addSecs(-1));
}

// A listing whose period reaches the present follows the log (newest first,
// new records would go on top of what is read: they are counted instead).
void ResultPane::startQuery(const LogSources& sources, const SystemLog::LogQuery& query, bool reachesNow)
{
    const LogSources path = sources; // may be m_liveSources, which is set below
    const SystemLog::LogQuery listed = query;
    const QStringList bounds = m_strip->bounds(); // the strip's period was set by the caller
    auto stored = std::make_unique<StoredRecords>(path, listed);
    StoredRecords* answer = stored.get();
    setContent(std::move(stored), kRecordPixelSize);
    m_stored = answer;
    m_liveSources = path;
    m_liveQuery = listed;
    m_problems.clear();
    m_indexBuilding.clear();
    m_indexNotes.clear();
    m_live = reachesNow;
    m_waiting = 0;
    m_strip->setNewestFirst(listed.newestFirst);
    m_strip->resetCounts();
    m_worker->list(path, listed, bounds, m_live);
    m_strip->setVisible(!bounds.isEmpty());
    updateMargins();
    showListingStatus();
    updateBusyState();
    setNote(QString());
}

bool ResultPane::isListing() const
{
    return m_worker->isListing();
}

bool ResultPane::isBusy() const
{
    return m_worker->isListing() || m_worker->isChecking() || m_worker->isFinding() || m_worker->isCopying();
}

void ResultPane::takeListedKeys(const std::vector<qint64>& ids, const std::vector<int>& lengths,
                                const std::vector<qint8>& kinds, const std::vector<qint16>& machines)
{
    if (!m_stored && m_parked) {
        StoredRecords* answer = m_parked.get();
        setContent(std::move(m_parked), kRecordPixelSize, true);
        m_stored = answer;
    }
    if (!m_stored)
        return;
    const bool wasEmpty = recordCount() == 0;
    // Follow mode: a live view at its newest record stays there.
    const bool following = m_live && !isListing() && !before(m_top, lastTop());
    m_stored->keys().append(ids.data(), lengths.data(), kinds.data(), machines.data(), int(ids.size()));
    m_gapsListed += std::count_if(kinds.begin(), kinds.end(), RecordKeys::isGapKind);
    m_segments.extend();
    m_lastTopKnown = false;
    if (wasEmpty)
        m_top = ViewPos();
    if (m_pendingTopRecord >= 0 && m_pendingTopRecord < recordCount())
        scrollToRecord(m_pendingTopRecord);
    else if (following)
        setTop(lastTop());
    else
        setTop(m_top);
    showListingStatus();
    lookForPendingRecord();
}

// A live listing that found nothing shows the not-found notice until its
// first record comes.
void ResultPane::parkEmptyAnswer()
{
    if (!m_stored || m_records.get() != m_stored)
        return showNotice(notFoundText());
    auto* answer = static_cast<StoredRecords*>(m_records.release());
    m_parked.reset(answer);
    setContent(std::make_unique<MemoryRecords>(notFoundText()), kNoticePixelSize, true);
}

// New content at a live listing's path: the same query, listed afresh.
void ResultPane::relistLive()
{
    if (isLive())
        startQuery(m_liveSources, m_liveQuery, true);
}

// Every later read of the answer names the machines the listing numbered
// its keys by; those that cannot be read are named on the status line.
void ResultPane::fixMachines(const QStringList& machines, const QStringList& problems)
{
    if (m_stored)
        m_stored->fixMachines(machines);
    if (m_parked)
        m_parked->fixMachines(machines);
    m_problems = problems;
    showListingStatus();
}

void ResultPane::showListingStatus()
{
    QString status = isListing() ? QStringLiteral("正在查询…已列出 %1").arg(listedCountText())
                                 : QStringLiteral("共 %1").arg(m_stored ? listedCountText() : SystemLog::countText(0, 0));
    if (m_stored && m_stored->readsACopy())
        status += QStringLiteral(" · ") + SystemLog::CommittedCopy::noteText();
    if (isLive())
        status += QStringLiteral(" · ") + liveText();
    if (isLive() && m_waiting > 0)
        status += QStringLiteral(" · ") + waitingText(m_waiting);
    for (const QString& problem : m_problems)
        status += QStringLiteral(" · ") + problem;
    if (isListing() && !m_indexBuilding.isEmpty())
        status += QStringLiteral(" · ") + m_indexBuilding;
    for (const QString& note : m_indexNotes)
        status += QStringLiteral(" · ") + note;
    setListingStatus(status);
}

// The records listed and the drop records among them, counted apart.
QString ResultPane::listedCountText() const
{
    const qint64 gaps = m_stored ? m_gapsListed : 0;
    return SystemLog::countText(recordCount() - gaps, gaps);
}

void ResultPane::checkLogFile(const LogSources& sources)
{
    setContent(std::make_unique<MemoryRecords>(SystemLog::RecordList()), kRecordPixelSize);
    m_worker->check(sources);
    updateBusyState();
}

void ResultPane::endCheck(const QString& error, const QString& note)
{
    updateBusyState();
    if (!error.isEmpty())
        showNotice(queryFailedText(error));
    else if (!note.isEmpty())
        showNotice(note);
    emit checkEnded(error);
}

void ResultPane::setListingStatus(const QString& text)
{
    m_strip->setStatus(text);
    emit listingStatusChanged(text);
}

void ResultPane::endListing(const QString& error)
{
    lookForPendingRecord();
    const QDateTime pendingTime = m_pendingTime;
    m_pendingTime = QDateTime();
    if (!error.isEmpty())
        showNotice(queryFailedText(error));
    else if (recordCount() == 0 && m_live)
        parkEmptyAnswer();
    else if (recordCount() == 0)
        showNotice(notFoundText());
    else if (m_pendingTopRecord >= 0)
        scrollToRecord(m_pendingTopRecord);
    if (error.isEmpty())
        showListingStatus();
    else
        setListingStatus(QStringLiteral("查询失败"));
    updateBusyState();
    if (pendingTime.isValid() && m_stored)
        locate(pendingTime);
    emit queryEnded();
}

void ResultPane::cancelBusyWork()
{
    if (m_worker->isFinding()) {
        m_worker->cancelFind();
        m_findBar->showFound(false);
    }
    m_worker->cancelCopy();
    if (m_worker->isChecking())
        m_worker->cancelListing();
    if (m_worker->isListing()) {
        m_worker->cancelListing();
        if (recordCount() == 0) {
            showNotice(cancelledText());
            setListingStatus(QStringLiteral("查询已取消"));
        }
        else
            setListingStatus(QStringLiteral("查询已取消，已列出 %1").arg(listedCountText()));
        m_strip->setListedLimit(recordCount());
        updateBusyState();
        lookForPendingRecord();
        if (m_pendingTime.isValid() && m_stored)
            locate(m_pendingTime);
        m_pendingTime = QDateTime();
        emit queryEnded();
    }
    updateBusyState();
}

// The busy cursor and Esc for as long as the worker reads for the pane.
void ResultPane::updateBusyState()
{
    const bool busy = isBusy();
    m_cancelShortcut->setEnabled(busy);
    if (busy == m_busyCursor)
        return;
    m_busyCursor = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void ResultPane::endFind(const PaneSearch::Match& match, const QString& error)
{
    updateBusyState();
    if (!error.isEmpty()) {
        m_findBar->showError(error);
        return;
    }
    if (match.found)
        select(match);
    emit findEnded(match.found);
    if (match.found && m_stored)
        m_findBar->showCounting(0, 0);
    if (match.found && m_stored)
        m_worker->countStanding(m_stored->sources(), m_stored->query(), m_stored->keys().snapshot(), match, m_findText);
}

void ResultPane::endCopy(const QString& text, const QString& error)
{
    updateBusyState();
    if (error.isEmpty())
        QApplication::clipboard()->setText(text);
    else
        inform(QStringLiteral("复制失败：%1").arg(error));
    emit copyEnded();
}

// Copies of a query's answer are put together by the worker; a copy too
// large for the clipboard is refused.
void ResultPane::copy()
{
    if (!hasSelection())
        return;
    const qint64 characters = selectionLength();
    if (characters > kMaxCopyCharacters) {
        inform(copyTooLargeText(characters));
        return;
    }
    TextPos start, end;
    selectionBounds(&start, &end);
    if (!m_stored) {
        QApplication::clipboard()->setText(textBetween(start, end));
        emit copyEnded();
        return;
    }
    m_worker->copy(m_stored->sources(), m_stored->query(), m_stored->keys().snapshot(), start, end);
    updateBusyState();
}

bool ResultPane::find(const QString& text, bool backward)
{
    m_findText = text;
    viewport()->update(); // every hit in view is marked
    if (text.isEmpty() || recordCount() == 0) {
        emit findEnded(false);
        return false;
    }
    TextPos start, end;
    selectionBounds(&start, &end);
    if (m_stored) {
        m_findBar->showSearching();
        m_worker->find(m_stored->sources(), m_stored->query(), m_stored->keys().snapshot(), start, end, text, backward);
        updateBusyState();
        return false;
    }
    const PaneSearch::Match match = PaneSearch::find(recordCount(), start, end, text, backward,
                                                     [this](int record, QString& block) { m_records->blockInto(record, block); });
    if (match.found)
        select(match);
    emit findEnded(match.found);
    if (match.found) {
        const PaneSearch::Standing standing = PaneSearch::standingOf(
            recordCount(), match, text, [this](int record, QString& block) { m_records->blockInto(record, block); });
        m_findBar->showStanding(standing.index, standing.total);
    }
    return match.found;
}

void ResultPane::select(const PaneSearch::Match& match)
{
    if (match.end.record >= recordCount())
        return;
    m_anchor = match.start;
    m_caret = match.end;
    ensureVisible(m_caret);
    ensureVisible(m_anchor);
    viewport()->update();
}

void ResultPane::inform(const QString& text)
{
    QMessageBox::information(window(), QStringLiteral("提示"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

// The strip above the records and the find bar below them.
void ResultPane::updateMargins()
{
    const int top = m_strip->isVisibleTo(this) ? m_strip->sizeHint().height() : 0;
    const int bottom = m_findBar->isVisibleTo(this) ? m_findBar->sizeHint().height() : 0;
    setViewportMargins(0, top, 0, bottom);
    placeStrip();
    placeFindBar();
}

void ResultPane::placeStrip()
{
    const QRect view = viewport()->geometry();
    m_strip->setGeometry(view.left(), view.top() - m_strip->sizeHint().height(), view.width(), m_strip->sizeHint().height());
}

// ---- a listing as a whole, going to a time or a record, a record's detail ----

std::optional<PaneListing> ResultPane::listing() const
{
    if (!m_stored)
        return std::nullopt;
    return PaneListing{m_stored->sources(), m_stored->query(), m_stored->keys().snapshot(), m_stored->copy(),
                       m_stored->machines()};
}

void ResultPane::setNote(const QString& note)
{
    emit noteChanged(note);
}

void ResultPane::goToTime(const QDateTime& time)
{
    if (!time.isValid())
        return;
    if (!m_stored || (recordCount() == 0 && !isListing())) {
        setNote(QStringLiteral("没有列出的记录，无法转到 %1").arg(time.toString(kTimeFormat)));
        return;
    }
    if (isListing()) {
        m_pendingTime = time;
        setNote(QStringLiteral("列完后转到 %1…").arg(time.toString(kTimeFormat)));
        return;
    }
    locate(time);
}

void ResultPane::locate(const QDateTime& time)
{
    m_locating = time;
    m_worker->locateTime(m_stored->sources(), m_stored->keys().snapshot(), time.toString(kTimeFormat),
                         m_stored->query().newestFirst);
}

void ResultPane::endLocate(int record, const QString& datetime, bool atOrAfter, const QString& error)
{
    const QString asked = m_locating.toString(kTimeFormat);
    if (!error.isEmpty()) {
        setNote(QStringLiteral("无法转到 %1：%2").arg(asked, error));
        return;
    }
    if (!m_stored || record < 0 || record >= recordCount()) {
        setNote(QStringLiteral("没有列出的记录，无法转到 %1").arg(asked));
        return;
    }
    scrollToRecord(record);
    selectHeading(record);
    const QString place = QStringLiteral("第 %1 / %2 条").arg(SystemLog::groupedCount(record + 1), SystemLog::groupedCount(recordCount()));
    setNote(atOrAfter ? QStringLiteral("已转到 %1 或之后的第一条记录：%2（%3）").arg(asked, datetime, place)
                      : QStringLiteral("%1 或之后没有记录，已转到最晚的一条：%2（%3）").arg(asked, datetime, place));
}

// The record's first line (its time, type and machine) selected, so that
// the eye finds it at the top.
void ResultPane::selectHeading(int record)
{
    const int lineEnd = m_records->blockSlice(record, 0, 512).indexOf(QLatin1Char('\n'));
    m_anchor = {record, 0};
    m_caret = {record, lineEnd >= 0 ? lineEnd : blockLength(record)};
    viewport()->update();
}

void ResultPane::showListedRecord(const QString& machine, qint64 id)
{
    m_pendingRecord = PendingRecord{machine, id, 0};
    lookForPendingRecord();
}

void ResultPane::lookForPendingRecord()
{
    if (!m_pendingRecord || !m_stored)
        return;
    const QStringList machines = m_stored->machines();
    const int machine = machines.size() > 1 ? machines.indexOf(m_pendingRecord->machine) : 0;
    const RecordKeys& keys = m_stored->keys();
    for (int record = m_pendingRecord->scanned; machine >= 0 && record < keys.count(); ++record) {
        if (keys.id(record) == m_pendingRecord->id && keys.machine(record) == machine) {
            m_pendingRecord.reset();
            scrollToRecord(record);
            selectHeading(record);
            setNote(QStringLiteral("已转到这条记录（第 %1 / %2 条）")
                        .arg(SystemLog::groupedCount(record + 1), SystemLog::groupedCount(keys.count())));
            return;
        }
    }
    m_pendingRecord->scanned = keys.count();
    if (!isListing()) {
        m_pendingRecord.reset();
        setNote(QStringLiteral("这条记录不在列出的记录中"));
    }
}

// A bar of the strip past where a stopped listing got to.
void ResultPane::showUnlisted()
{
    if (recordCount() == 0)
        return;
    scrollToRecord(recordCount() - 1);
    selectHeading(recordCount() - 1);
    setNote(QStringLiteral("查询已在列出 %1 条后停止，这段时间的记录没有列出（按 F5 重新查询）")
                .arg(SystemLog::groupedCount(recordCount())));
}

void ResultPane::readDetail(const PaneListing& listed, int record, int minutes)
{
    if (record < 0 || record >= listed.keys.count())
        return;
    m_worker->readDetail(listed.sources, listed.machines, record, listed.keys.machine(record), listed.keys.id(record),
                         minutes);
}
