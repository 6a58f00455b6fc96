#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

namespace SystemLog {

// The text index's file and tables. The index lives in a file of its own
// beside the log, "<log>-index" (dbLog.db-index), so that keeping it never
// takes the log's write lock, a reader may bring it up to date without
// writing the log, and a log copied without it is simply indexed anew.
//
//   IndexInfo(key, value)        'format': kFormat; 'lastRow': the
//                                fingerprint of the newest row indexed
//   IndexParts(part, firstId, lastId, rows)
//                                one row per part table: the ids it holds
//   Words_<part>                 FTS5, contentless, detail=none, tokenizer
//                                vxlog_words: the words of about
//                                kPartRows records each, by row id
//
// Rows are indexed in id order: every row with an id up to the newest part's
// lastId is indexed, the ones after it are not yet. The fingerprint of that
// row (its time stamp, type and message) ties the index to its log: a log
// replaced by another, or whose ids started again, does not hold that row
// any more, and its index is built anew. Parts whose rows have all been
// removed from the log (vacuum) are dropped whole; the rest of what was
// removed stays in the index until its part goes, and is never shown,
// since every candidate is read back from the log.
namespace IndexLayout {

constexpr int kFormat = 1;
constexpr qint64 kPartRows = 1000000;
constexpr const char* kSuffix = "-index";

// The index beside the log at `logPath`.
QString pathFor(const QString& logPath);

// The FTS5 table of a part.
QByteArray partTable(qint64 part);

// The fingerprint of a row of the log, as 'lastRow' holds it, empty when
// the row is not there; false (SQLite's error on `log`) when it cannot be read.
bool fingerprint(sqlite3* log, qint64 id, QByteArray& result);

} // namespace IndexLayout

} // namespace SystemLog
