#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/ListedKey.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Reads a log database for a program that lists huge answers without holding
// them: an answer is read as keys (ListedKey), and the texts of the records
// in view are fetched by id when they are needed.
//
// Read-only: a private connection opened with SQLite's read-only flag; the
// file is never created or written, whatever it holds.
// Texts: read through SQLite's UTF-16 conversion, exactly as Qt's SQLite
// driver reads them, so that lengths and texts agree with a QString of them.
// Threads: one reader belongs to one thread at a time. interrupt() may be
// called from any thread: the running statement, or a wait for another
// program's lock, ends at once, and every later call of this reader fails.
// Locks: every call runs its statements to the end (or resets them) before it
// returns, so between calls the reader holds no lock. A long answer is read
// in slices, each its own read transaction of about the slice time, so that a
// writer of the file (whose commit waits for every reader) is held up no
// longer than that; a slice goes on after the last row of the one before, and
// with upToId the slices read exactly the rows one read would. A lock held by
// a writer is waited for up to the busy timeout.
// Several types: one statement per stored type, each in the order of the
// (type, datetime) index, merged by time here, so that no statement sorts
// the period and the first records come at once whatever the answer's size.
// Failures: every operation returns false and leaves the reason in
// errorText(), the same sentence describeFailure() gives everywhere else
// (a file that is no database, no SystemInfo table, a missing file, ...).
class VXSYSLOG_EXPORT RecordKeyReader
{
public:
    // Each listed record in turn; returning false stops the read (a success).
    using KeySink = std::function<bool(const ListedKey& key)>;
    using BlockSink = std::function<bool(const QString& block)>;
    // `index` is the position of the record's id in the list asked for.
    using FetchSink = std::function<void(int index, const QString& block)>;

    static constexpr int kDefaultBusyTimeoutMs = 5000;
    static constexpr int kDefaultSliceMs = 20;

    explicit RecordKeyReader(const QString& path);
    ~RecordKeyReader();
    RecordKeyReader(const RecordKeyReader&) = delete;
    RecordKeyReader& operator=(const RecordKeyReader&) = delete;

    void setBusyTimeout(int milliseconds);
    void setSliceTime(int milliseconds);

    // Opens the file read-only and checks that it holds the log table.
    bool open();

    // The highest row id, 0 for an empty table.
    bool lastId(qint64& id);
    bool count(const LogQuery& query, qint64& result);
    bool readKeys(const LogQuery& query, const KeySink& sink);
    // The listed records' blocks (listingBlock()), in the listing's order.
    bool readBlocks(const LogQuery& query, const BlockSink& sink);

    // The answer counted per interval (in time order whatever the listing's
    // order), by the time index: bounds are sorted
    // time texts b0 < b1 < ... < bn; counts gets n + 2 entries, counts[i]
    // for bounds[i-1] <= datetime < bounds[i], counts[0] before b0 and
    // counts[n+1] from bn on. Summing counts before an interval gives the
    // position of its first record in the answer.
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts);

    // The blocks of the records with these ids, as `query` lists them; an
    // id no longer stored is left out.
    bool fetch(const LogQuery& query, const qint64* ids, int count, const FetchSink& sink);

    // A listing's keys one at a time, for a caller that merges the listings
    // of several files: startKeys(), then nextKey() until it returns false
    // (`atEnd`, or a failure). keyBlock() is the block of the key nextKey()
    // gave last. Unlike every other call, the reader keeps its read
    // transaction between two nextKey() calls, for up to a slice;
    // pauseKeys() ends it at once, and the next nextKey() goes on after the
    // last key given.
    bool startKeys(const LogQuery& query);
    bool nextKey(ListedKey& key, bool& atEnd);
    QString keyBlock();
    void pauseKeys();

    // Every block names this machine after its time stamp (a listing of
    // several machines).
    void setMachineName(const QString& name);

    void interrupt();
    bool isInterrupted() const;

    QString path() const;
    FailureKind failureKind() const;
    QString errorText() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace SystemLog
