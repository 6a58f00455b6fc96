#include "sources/PgTextSearch.h"

#include <QStringList>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/LogQuery.h>

#include "search/PatternQuery.h"
#include "sources/PgConnection.h"

namespace SystemLog {

namespace PgTextSearch {

bool hasIndex(PgConnection& connection, const std::function<bool()>& stopRequested)
{
    bool found = false;
    const QByteArray sql = "SELECT 1 FROM pg_indexes WHERE tablename = 'fleet_log'"
                           " AND indexdef LIKE '%fleet_log_bigrams(message)%' LIMIT 1";
    const bool asked = connection.stream(sql, {}, [&found](const std::vector<QByteArray>&, const std::vector<bool>&) {
        found = true;
        return true;
    }, stopRequested);
    return asked && found;
}

QByteArray condition(const LogQuery& query, bool gapsWanted, PgStatement& statement)
{
    QVector<QStringList> alternatives = PatternQuery::pairsForPattern(query.grep, query.ignoreCase, query.fixedStrings);
    if (alternatives.isEmpty())
        return QByteArray();
    if (gapsWanted) {
        for (int i = 0; i < kGapMessagePrefixCount; ++i)
            alternatives += PatternQuery::pairsForPattern(QString::fromUtf8(gapMessagePrefix(i)), false, true);
    }
    QByteArray sql;
    for (const QStringList& pairs : alternatives) {
        QList<QByteArray> items;
        for (const QString& pair : pairs)
            items << pair.toUtf8();
        sql += (sql.isEmpty() ? "(" : " OR ") + QByteArray("fleet_log_bigrams(message) @> ") + statement.add(pgTextArray(items))
               + "::text[]";
    }
    return sql + ')';
}

} // namespace PgTextSearch

} // namespace SystemLog
