#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

#include <QStringList>
#include <QVector>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/ListedKey.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/LogRecord.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

struct FileIdentity;

// Reads a log database without ever changing what it holds, beside the
// programs that write it. Every reader of a log file in the module is one of
// these: vxlog's commands, the tails, the sources of several machines, the
// viewer's listings and the service's queries. It answers in two forms:
// whole records (read(), cursor(), count(), ...), and a listing as keys
// (ListedKey) whose texts are fetched by id when they are needed, for a
// program that lists huge answers without holding them.
//
// Read-only: a private connection opened with SQLite's read-only flag. A
// reader never creates the file, the table or the index, never adds,
// changes or removes a row and never takes a write lock; it works on a
// rollback-journal database and on a WAL one alike.
// Searches: a pattern is looked up in the text index beside the file
// (TextIndex.h) and only the rows it gives, and those it does not cover
// yet, are read and matched: the answer is the one a reading of every row
// gives. A search that finds the index missing or far behind brings it up
// to date first where the folder allows (the file itself is not written).
// Interrupted writes: a writer killed in the middle of a commit leaves a hot
// journal (or a WAL needing recovery) that a read-only connection may not
// use. Unless told otherwise (setRollsBackCutOffWrites(false): the viewer
// reads a private copy instead), the reader then opens the file read-write
// for that one step and lets SQLite roll the cut-off write back, as any
// writer would on its next open, and reads the last committed state. Where
// the file may not be written, the call fails with InterruptedWrite, whose
// text says what to do.
// Concurrency: one reader belongs to one thread; interrupt() may be called
// from any thread. Every call runs its statements to the end (or resets
// them) before it returns, so between calls the reader holds no lock and a
// writer is never held up by it; the key cursor alone keeps its read
// transaction between two nextKey() calls, for up to a slice. Each
// record call reads one consistent snapshot; a long listing is read in
// slices, each its own read transaction of about the slice time, so that a
// writer of the file (whose commit waits for every reader) is held up no
// longer than that; with upToId the slices read exactly the rows one read
// would. A lock held by another program is waited for up to the busy
// timeout (5 s unless set), then the call fails with Locked.
// Stopping: with a stop check set, a long read or a wait for a lock ends
// within a few milliseconds of the check turning true; the call then fails
// with Interrupted. interrupt() ends the running statement at once and
// makes every later call fail.
// Failures: every operation returns false on failure. failureText() is
// describeFailure()'s sentence; errorText() names the file before it. A
// missing file is Missing, a file that is not SQLite NotADatabase, a
// database without a SystemInfo table that has id, datetime, type and
// message NotALogDatabase (a view of that name is none). A file is read as
// untrusted input: SQLite's defensive mode, PRAGMA trusted_schema=OFF.
// Listings of several types: one statement per stored type, each in the
// order of the (type, datetime) index, merged by time, so that no statement
// sorts the period and the first records come at once whatever the
// answer's size. Texts of blocks are decoded as QString::fromUtf8 decodes
// them (each malformed byte one U+FFFD, as vxlog's JSON shows it), and a
// key's length is counted to agree exactly with that decoding.
class VXSYSLOG_EXPORT LogReader
{
public:
    // Receives each matching record in turn; returning false stops the read
    // (the read still counts as successful).
    using RecordSink = std::function<bool(const LogRecord&)>;

    struct DayTypeCount
    {
        QString day;  // "yyyy-MM-dd"
        qint64 type;            // also an integer beyond int
        qint64 count;
        bool typeIsInt = true;  // false: the rows whose type is not an integer (NULL, a text, a real), type 0
    };
    using DayTypeSink = std::function<void(const DayTypeCount&)>;

    // Each listed record in turn; returning false stops the read (a success).
    using KeySink = std::function<bool(const ListedKey& key)>;
    using BlockSink = std::function<bool(const QString& block)>;
    // `index` is the position of the record's id in the list asked for.
    using FetchSink = std::function<void(int index, const QString& block)>;

    static constexpr int kDefaultSliceMs = 20;

    struct Span
    {
        qint64 total = 0;
        QString oldest;  // empty when total is 0
        QString newest;
    };

    explicit LogReader(const QString& path);
    ~LogReader();
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // Before open(): whether a write cut off in the middle is rolled back
    // (the default) or fails the open with InterruptedWrite.
    void setRollsBackCutOffWrites(bool rollsBack);
    void setBusyTimeout(int milliseconds);
    void setSliceTime(int milliseconds);

    // Opens the file read-only and checks that it holds the log table.
    bool open();

    // ---- Whole records

    // Streams the records the filter selects to `sink`, in the filter's order.
    // No record is held in memory, whatever the answer's size: the last N
    // are found newest first (only where they begin is kept), then read in order.
    bool read(const LogQuery& filter, const RecordSink& sink);

    // The pull form of read(), for a program that merges several readers:
    // each next() steps the statement once and, on true, record() holds
    // the row until the next step. It holds the file's read snapshot (and
    // its read lock) until it ends or goes; the reader must outlive it and
    // takes no other call meanwhile. false from next() at the end, or on
    // a failure, which failed() and the reader's errorText() then tell.
    class VXSYSLOG_EXPORT Cursor
    {
    public:
        ~Cursor();
        bool next();
        const LogRecord& record() const;
        bool failed() const;

    private:
        friend class LogReader;
        friend class RecordReading;
        struct Impl;
        explicit Cursor(std::unique_ptr<Impl> impl);
        std::unique_ptr<Impl> m;
    };
    // Null after a failure before the first row (an invalid pattern).
    std::unique_ptr<Cursor> cursor(const LogQuery& filter);

    // The number of records read() would deliver (ignoring last and order).
    bool count(const LogQuery& filter, qint64& result);

    // The highest id stored so far, 0 for an empty table.
    bool lastId(qint64& result);

    // Record counts per calendar day and type within the filter's types and
    // time bounds (grep and ids are ignored), days in ascending order.
    bool countPerDayAndType(const LogQuery& filter, const DayTypeSink& sink);

    // Count, oldest and newest time stamp within the filter's types and time bounds.
    bool span(const LogQuery& filter, Span& result);

    // The whole records with these ids, whatever their type or time; an id
    // no longer stored is left out. `index` is the id's place in `ids`.
    using FetchRecordSink = std::function<void(int index, const LogRecord& record)>;
    bool fetchRecords(const qint64* ids, int count, const FetchRecordSink& sink);

    // ---- A listing as keys, texts fetched later (the viewer)

    // The number of records readKeys() would list (drop records of the
    // period included where the query asks for them).
    bool countListed(const LogQuery& query, qint64& result);
    bool readKeys(const LogQuery& query, const KeySink& sink);
    // The listed records' blocks (listingBlock()), in the listing's order.
    bool readBlocks(const LogQuery& query, const BlockSink& sink);

    // The answer counted per interval (in time order whatever the listing's
    // order), by the time index: bounds are sorted time texts
    // b0 < b1 < ... < bn; counts gets n + 2 entries, counts[i] for
    // bounds[i-1] <= datetime < bounds[i], counts[0] before b0 and
    // counts[n+1] from bn on. Summing counts before an interval gives the
    // position of its first record in the answer.
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts);

    // The blocks of the records with these ids, as `query` lists them; an
    // id no longer stored is left out.
    bool fetch(const LogQuery& query, const qint64* ids, int count, const FetchSink& sink);

    // A listing's keys one at a time, for a caller that merges the listings
    // of several files: startKeys(), then nextKey() until it returns false
    // (`atEnd`, or a failure). keyBlock() is the block of the key nextKey()
    // gave last, also after a pause. pauseKeys() ends the read transaction
    // at once, and the next nextKey() goes on after the last key given.
    bool startKeys(const LogQuery& query);
    bool nextKey(ListedKey& key, bool& atEnd);
    QString keyBlock();
    void pauseKeys();

    // The records whose message may hold `text`, ignoring case as the
    // viewer's find does (QString's case folding), through the text index:
    // the ids up to `indexedUpTo` in `ids` (ascending), and every record
    // after it. `answered` is false when the index cannot tell (none, or a
    // text it knows nothing about): then every record may.
    bool messageCandidates(const QString& text, std::vector<qint64>& ids, qint64& indexedUpTo, bool& answered);

    // Every block names this machine after its time stamp (a listing of
    // several machines).
    void setMachineName(const QString& name);

    // ---- Stopping

    // Called often while a statement runs or waits for a lock; once it
    // returns true the call in progress ends with Interrupted. Empty: never.
    void setStopCheck(const std::function<bool()>& stopRequested);
    void interrupt();
    bool isInterrupted() const;

    QString path() const;
    FailureKind failureKind() const;
    QString errorText() const;
    // The reason alone, describeFailure()'s sentence without the file's name.
    QString failureText() const;

private:
    friend class LogTail;  // goes on in the very file this reader listed
    const FileIdentity& openedFile() const;
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace SystemLog
