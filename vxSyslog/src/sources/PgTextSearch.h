#pragma once

#include <QByteArray>

#include <functional>

namespace SystemLog {

class PgConnection;
struct LogQuery;
struct PgStatement;

// Searches of the central table through its index of character pairs
// (docs/fleet_log.sql, "Text search": a GIN index on
// fleet_log_bigrams(message)). A pattern asks the server only for the rows
// that hold the pairs its matches must hold, so that PostgreSQL passes over
// the rest through the index; the matcher still decides every row it sends.
// A database set up without the index is read as before.
namespace PgTextSearch {

// Whether the table has the index (looked at once per connection).
bool hasIndex(PgConnection& connection, const std::function<bool()>& stopRequested);

// The condition for the query's pattern, with the drop records' pairs as
// alternatives when `gapsWanted`; empty when the index can narrow nothing down.
QByteArray condition(const LogQuery& query, bool gapsWanted, PgStatement& statement);

} // namespace PgTextSearch

} // namespace SystemLog
