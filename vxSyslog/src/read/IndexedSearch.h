#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <vector>

#include <vxSyslog/LogQuery.h>

#include "store/SqliteStatement.h"

namespace SystemLog {

class ReadConnection;

// A reader's searches through the text index beside its log (IndexLayout.h).
// For a query with a pattern, the index gives the rows that may match; the
// rows it does not cover yet (those after its last id) are read as before;
// and every row of either kind still goes through the pattern's matcher
// (ReadConnection::kGrepFunction) where the reader's own statements test
// it, so that an answer holds exactly the records a reading of every row
// gives, in the same order.
//
// Listings: the candidates that match (and, where a listing wants them,
// the drop records) are found once per search and kept in a temporary
// table of this connection, vx_found(id, type, datetime) with a
// (type, datetime) index like the log's; the view kRowsView joins them with
// the log's rows, with the columns of SystemInfo, so that a reader's
// statements run on it unchanged. A row removed from the log since is not
// in the view. Counts of whole records go through the index directly.
// When the index cannot help (no usable index, a pattern it answers
// nothing about, rows after an id beyond what it covers), the reader's own
// statements read SystemInfo as they always did.
// Bringing the index up to date: when it lacks more than kQuietTailRows
// rows, or there is none usable at this reader's first search, and the file
// beside the log can be written, the search first brings
// it up to date (IndexBuilder.h), telling so once when that is a long job;
// when it cannot, it says once that it reads those rows instead
// (TextIndex::setNoticeSink).
// Common words: where the index gives a quarter of the rows or more, reading
// them one by one through it costs more than reading them all in order; such
// a search reads every row.
// Exact counts: a count of every record (no type or time bounds) of a text
// the index answers exactly (TextTokens::answersExactly: one Latin word,
// one or two Chinese characters) takes the index's matches as they are and
// only looks each id up in an index of the log on id alone (the writer's
// table has one), to leave out rows removed since; the rows' own pages are
// not read. This trusts that a stored row's message is never rewritten in
// place, as nothing in this system does.
// Failures of the index (missing, damaged, locked, another format) never
// fail a search: it reads the log instead. A stop or interrupt does.
class IndexedSearch
{
public:
    static constexpr const char* kRowsView = "vx_found_rows";
    static constexpr qint64 kQuietTailRows = 20000;
    static constexpr qint64 kAnnouncedRows = 200000;

    explicit IndexedSearch(ReadConnection& connection);

    // The table a listing or read of `query` takes its rows from:
    // "SystemInfo", or kRowsView holding the candidates. `gapsWanted`: drop
    // records of the period must be there too, whatever the pattern. False
    // only on a failure that fails the call (a stop, the log unreadable).
    bool sourceFor(const LogQuery& query, bool gapsWanted, QByteArray& table);

    // The number of rows `whereSql` (unqualified columns of SystemInfo, with
    // `values` for its parameters, the pattern's test among them) selects,
    // counted through the index; `answered` false when the index cannot help.
    bool count(const LogQuery& query, const QString& whereSql, const std::vector<BoundValue>& values, qint64& result,
               bool& answered);

    // The rows up to `indexedUpTo` whose message may hold `text` (a text
    // looked for as it is, ignoring case), in id order; every row after
    // `indexedUpTo` may. `answered` false when the index cannot tell.
    bool candidates(const QString& text, std::vector<qint64>& ids, qint64& indexedUpTo, bool& answered);

    // The condition that marks a drop record (see isGapMessage).
    static QByteArray gapCondition();

    // Forgets what was found (the connection closes or opens again).
    void reset();

    // Searches of this process the index answered (for tests).
    static quint64 answeredCount();

private:
    struct Part
    {
        QByteArray table;   // qualified by the index's schema
        QByteArray column;  // the table's own name: its column for MATCH
        qint64 firstId;
        qint64 lastId;
        qint64 rows;
    };
    struct Plan
    {
        QByteArray expression;  // empty: the index is not used
        QVector<Part> parts;
        qint64 indexedUpTo = 0;
        qint64 newestId = 0;
    };
    // `readsRows` false: what the index gives is not read back row by row
    // (an exact count), so a common word is still answered through it.
    bool plan(const LogQuery& query, const QByteArray& expression, Plan& result, bool readsRows = true);
    static bool countsExactly(const LogQuery& query);
    bool bringUpToDate(qint64 behind);
    bool attach();
    void detach();
    bool inspect(Plan& plan, bool& usable);
    bool readIndexState(Plan& plan);
    bool tooCommon(const Plan& plan, bool& common);
    bool countExactly(const LogQuery& query, const Plan& plan, const QByteArray& index, qint64& result);
    // The name of an index of SystemInfo on id alone, empty when it has none.
    bool idIndex(QByteArray& name);
    bool materialize(const Plan& plan, const LogQuery& query, bool gapsWanted, qint64 after);
    bool run(const QByteArray& sql, const std::vector<BoundValue>& values = {}, qint64* number = nullptr);
    bool indexTrouble();

    ReadConnection& m_connection;
    bool m_attached = false;
    bool m_tablesMade = false;
    bool m_triedToMakeIndex = false;  // for a log that had none at a search
    bool m_idIndexKnown = false;
    QByteArray m_idIndex;
    // What vx_found holds: the candidates of this search up to this id.
    QByteArray m_foundKey;
    qint64 m_foundUpTo = 0;
};

} // namespace SystemLog
