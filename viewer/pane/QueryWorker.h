#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <mutex>
#include <deque>
#include <functional>
#include <vector>

#include <vxSyslog/CommittedCopy.h>
#include <vxSyslog/LogSource.h>
#include <vxSyslog/TextIndex.h>

#include "LogSources.h"
#include "PaneSearch.h"
#include "RecordDetail.h"
#include "PaneText.h"
#include "RecordKeys.h"

// Reads the result pane's queries off the GUI thread, so that the window
// answers whatever the size of an answer.
//
// Threads. The worker has a few threads of its own. Every request (list a
// query, count it per interval, find, copy) runs as one job on one of them
// with a reader of its own (a LogSource: one file, several merged, or the
// fleet's PostgreSQL), opened and closed by the job, never seen by another
// thread. A query's listing and
// its interval counts run side by side, so the counts (one pass over the time
// index) come before a long listing ends. Results go back to the GUI thread
// through a queue under a mutex and a queued call on this object; every
// signal is emitted there.
//
// Interrupted writes. A file whose last write was cut off cannot be read
// read-only; the check or the listing then makes a CommittedCopy and hands
// it to the pane (copyTaken), and every read of that answer goes to the
// copy. The worker keeps the last copy it made and uses it again, instead of
// copying anew, for as long as the file and its journal are unchanged (the
// check on opening a file and the queries that follow share one). The file
// itself is only ever read.
//
// Live. A listing whose period reaches the present goes on, in its job,
// after it has ended: it follows its machines with the source's tail (which
// waits out locks and notices a replaced file) and reads the keys of what was
// committed since, as the listing read its own, every quarter of a second,
// until the listing is cancelled. Newest first they are only counted
// (recordsWaiting): on top they would push away what is being read.
//
// Cancellation. Each request holds a ticket. A new request of the same kind,
// cancel...() or the worker's end cancels the ticket: its flag is set, which
// the job reads between rows, and its readers are interrupted, which ends a
// running statement or a wait for another program's lock at once. A result
// is handed to the GUI only if its ticket is still valid when it gets there,
// so rows of a cancelled query never reach the next one's answer. The
// destructor cancels everything and joins the threads.
//
// Storage. An answer is kept as keys (RecordKeys: machine, row id, block
// length and kind), listed in time order. A query first fixes its machines
// and each one's highest row id, and every read of that answer (listing,
// counting, the texts fetched by id later) is bounded by them, so they all
// see the same records however fast the machines log. Texts are never kept for the whole answer:
// the pane reads the ones in view (StoredRecords), and finding and copying
// read the blocks they pass over by id, a chunk at a time, here.
class QueryWorker : public QObject
{
    Q_OBJECT

public:
    explicit QueryWorker(QObject* parent = nullptr);
    ~QueryWorker() override;

    // Lists the query: keysListed() for every batch, in the answer's order,
    // then listingEnded(); intervalsCounted() once, with the counts between
    // `bounds` (see LogSource::countBetween), before or after that.
    // With `live`, once listed, the records committed later are appended as
    // they come (keysListed(), intervalsAdded()) until the listing is cancelled.
    void list(const LogSources& sources, const SystemLog::LogQuery& query, const QStringList& bounds, bool live = false);
    // Searches the listed records (see PaneSearch::find); findEnded() follows.
    void find(const LogSources& sources, const SystemLog::LogQuery& query, const RecordKeys::Snapshot& keys, const PaneText::Position& start,
              const PaneText::Position& end, const QString& text, bool backward);
    // Where `match` stands among all occurrences of `text` (PaneSearch::standingOf);
    // standingCounted() follows unless a new find or count cancels it.
    void countStanding(const LogSources& sources, const SystemLog::LogQuery& query, const RecordKeys::Snapshot& keys,
                       const PaneSearch::Match& match, const QString& text);
    // The text from start to end as copying gives it; copyEnded() follows.
    void copy(const LogSources& sources, const SystemLog::LogQuery& query, const RecordKeys::Snapshot& keys, const PaneText::Position& start,
              const PaneText::Position& end);

    // Where `time` ("yyyy-MM-dd hh:mm:ss") falls among the listed records,
    // whose order is time order or, with newestFirst, its reverse: the
    // earliest record stamped at or after it, else the latest of all, found
    // by a binary search that reads one time stamp per step.
    // timeLocated() follows unless another locate cancels it.
    void locateTime(const LogSources& sources, const RecordKeys::Snapshot& keys, const QString& time, bool newestFirst);
    // Reads listed record `record` (the machine of that place among
    // `machines`, and id) whole, and for an alarm the records of its machine
    // in the `minutes` before it (AlarmContext); detailRead() follows unless
    // another detail cancels it.
    void readDetail(const LogSources& sources, const QStringList& machines, int record, int machine, qint64 id,
                    int minutes);

    // Checks that `sources` can be listed (a file just opened);
    // machinesFound() and checkEnded() follow.
    void check(const LogSources& sources);

    void cancelListing();
    void cancelFind();
    void cancelCopy();
    void cancelLocate();
    bool isListing() const { return m_listing; }
    bool isChecking() const { return m_checking; }
    bool isFinding() const { return bool(m_find); }
    bool isCopying() const { return bool(m_copy); }

signals:
    void keysListed(const std::vector<qint64>& ids, const std::vector<int>& lengths, const std::vector<qint8>& kinds,
                    const std::vector<qint16>& machines);
    // Before a listing's keys: the machines they number, and a line for
    // each that cannot be read (the others are listed).
    void machinesFixed(const QStringList& machines, const QStringList& problems);
    // The machines of sources just checked.
    void machinesFound(const QStringList& machines);
    void intervalsCounted(const QVector<qint64>& counts);
    // The drop records among them, per interval alike (a listing with gaps).
    void gapsCounted(const QVector<qint64>& counts);
    // An empty error: the whole answer was listed.
    void listingEnded(const QString& error);
    // A live listing's new records, per interval, to add to the strip.
    void intervalsAdded(const QVector<qint64>& counts);
    void gapsAdded(const QVector<qint64>& counts);
    // A live listing newest first: this many more records wait for the
    // query to run again.
    void recordsWaiting(qint64 count);
    // Another file (or new content) at a live listing's path: list again.
    void liveRestarted();
    // The file's last write was cut off: the listing (and every read of its
    // records) goes on from this rolled-back copy; keep it while reading.
    void copyTaken(const std::shared_ptr<SystemLog::CommittedCopy>& copy);
    // Empty error: readable; a note: readable only through a copy.
    void checkEnded(const QString& error, const QString& note);
    void findEnded(const PaneSearch::Match& match, const QString& error);
    void copyEnded(const QString& text, const QString& error);
    void standingCounted(qint64 index, qint64 total);
    // A long count's standing so far (index 0 until the match was passed).
    void standingProgress(qint64 index, qint64 soFar);
    // `record` is where the listing reached `time` (timeLocated's
    // `atOrAfter` false: no record is that late, `record` is the latest);
    // -1 with an error when the time stamps could not be read.
    void timeLocated(int record, const QString& datetime, bool atOrAfter, const QString& error);
    void detailRead(const RecordDetail& detail);
    // A search builds the text index of a log first (`building`), or reads
    // the records it lacks because it cannot bring it up to date; once per
    // log (TextIndex.h).
    void searchNoticed(bool building, const QString& text);

private:
    class Ticket;
    class Threads;
    class BlockFetcher;
    using TicketPtr = std::shared_ptr<Ticket>;

    using CopyPtr = std::shared_ptr<SystemLog::CommittedCopy>;
    void listJob(const TicketPtr& ticket, const LogSources& sources, SystemLog::LogQuery query, const QStringList& bounds,
                 bool live, const CopyPtr& copy = nullptr);
    // The held copy when it is one of `path` as the file is now, else a new
    // one, held from then on; null with the reason. One job at a time makes
    // a copy, so a query that comes while the check copies waits for that copy.
    CopyPtr copyOf(const QString& path, QString& error);
    // The keys in batches to the GUI; `alsoSee` sees each key as it is read.
    bool readInBatches(const TicketPtr& ticket, SystemLog::LogSource& reader, const SystemLog::LogQuery& query,
                       const std::function<void(const SystemLog::ListedKey&)>& alsoSee = {});
    void follow(const TicketPtr& ticket, const LogSources& sources, SystemLog::LogQuery query, const QStringList& bounds,
                QVector<qint64> last, SystemLog::SourceTail& tail);
    void countJob(const TicketPtr& ticket, const LogSources& sources, const SystemLog::LogQuery& query,
                  const QStringList& bounds);
    // Opens a reader of `sources` and hands `scan` the blocks of the listed
    // records; the reason when they cannot be read or a read failed on the way.
    // With `findText`, only the records that may hold it are read, where
    // the text index of their log can tell (FindCandidates).
    QString scanListed(const TicketPtr& ticket, const LogSources& sources, const SystemLog::LogQuery& query,
                       const RecordKeys::Snapshot& keys, bool backward, const std::function<void(BlockFetcher&)>& scan,
                       const QString& findText = QString());
    // Hands `result` to the GUI thread, where it runs if the ticket still
    // holds (always without one). What a job made travels in m_delivered,
    // under a mutex ThreadSanitizer sees, not inside the queued call: Qt 5
    // queues events under a futex-based lock it cannot see.
    void deliver(const TicketPtr& ticket, std::function<void()> result);
    Q_INVOKABLE void runDelivered();
    // The text index's notices, to the worker whose thread searched.
    static void postSearchNotice(SystemLog::TextIndex::Notice kind, const QString& text);
    Threads& threads();

    std::unique_ptr<Threads> m_threads;
    std::mutex m_copyMutex;  // held while a copy is looked up or made
    CopyPtr m_heldCopy;      // the last copy made; guarded by m_copyMutex
    TicketPtr m_listTicket;
    bool m_listing = false;
    bool m_checking = false;
    TicketPtr m_find;
    TicketPtr m_copy;
    TicketPtr m_standing;
    TicketPtr m_locate;
    TicketPtr m_detail;
    std::mutex m_deliveredMutex;
    std::deque<std::pair<TicketPtr, std::function<void()>>> m_delivered;
};
