#include "report/PgReportSql.h"

namespace SystemLog {
namespace PgReportSql {

QByteArray copyOf(const QByteArray& field)
{
    return QByteArray(field.constData(), field.size());
}

QByteArray fromWhere(PgSource& source, const AlarmReport::Request& request, PgStatement& statement, bool withTypes)
{
    LogQuery filter;
    if (withTypes)
        filter.types = request.types;
    filter.since = request.since;
    filter.until = request.until;
    filter.grep = request.grep;
    filter.ignoreCase = request.ignoreCase;
    PgStatement where;
    where.sql = " FROM fleet_log";
    source.whereOf(filter, where);
    // The statement's parameters so far come first.
    QByteArray sql = where.sql;
    for (int i = int(where.parameters.size()); i >= 1; --i)
        sql.replace("$" + QByteArray::number(i), "$" + QByteArray::number(i + qint64(statement.parameters.size())));
    for (const QByteArray& value : where.parameters)
        statement.parameters.push_back(value);
    if (!request.grep.isEmpty()) {
        sql += sql.contains(" WHERE ") ? " AND " : " WHERE ";
        sql += "message " + QByteArray(request.ignoreCase ? "~*" : "~") + " " + statement.add(request.grep.toUtf8());
    }
    return sql;
}

QByteArray narrowed(const QByteArray& where, const QByteArray& condition)
{
    return where + (where.contains(" WHERE ") ? " AND " : " WHERE ") + condition;
}

QByteArray keyOf(const AlarmReport::Request& request)
{
    return request.mergeNumbers ? "regexp_replace(message, '[0-9]+', '0', 'g') COLLATE \"C\"" : "message COLLATE \"C\"";
}

QByteArray textColumns(const AlarmReport::Request& request)
{
    return keyOf(request) + " AS k, " + (request.mergeNumbers ? "message COLLATE \"C\"" : "NULL::text") + " AS example";
}

// For each connection of a report: the sorts and hash tables of texts (one
// group per text, and a text per record is common) in memory rather than
// spilled to disk, a few times this much at most while the report runs;
// no compiling of statements, which costs these short ones more than it
// gains them; and no parallel workers, since the report runs its
// statements side by side already (workers on top of them only contend).
PgStatement sessionSettings()
{
    PgStatement settings;
    settings.sql = "SELECT set_config('work_mem', '64MB', false), set_config('jit', 'off', false), "
                   "set_config('max_parallel_workers_per_gather', '0', false)";
    return settings;
}

} // namespace PgReportSql
} // namespace SystemLog
