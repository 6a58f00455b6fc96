#pragma once

#include <QSqlDatabase>
#include <QString>

#include <list>

#include <vxSyslog/RecordList.h>

#include "MsgItem.h"

namespace SystemLog {

// The one connection to the log database: the SQLite file "dbLog.db" in the
// working directory with its table SystemInfo. The connection is a private
// QSqlDatabase, never registered by name.
//
// The class takes no lock: its owner (vxLogDB) serialises every call, because
// Qt's SQLite driver opens connections without SQLite's own mutex.
// All values are bound to prepared statements, never pasted into SQL text.
class QDBSqlite : public QSqlDatabase
{
public:
    QDBSqlite(const QString& databaseName, const QString& userName, const QString& password);
    virtual ~QDBSqlite() {}

    // Opens the connection if needed, creates SystemInfo and its (type, datetime)
    // index if missing. An existing table and its rows are left as they are.
    bool createTable();

    // Writes one row; true when the statement reported no error.
    bool insert(int type, QString message);

    // Writes all rows in one transaction with one prepared statement, in list
    // order; all or nothing. False (and nothing written) on any error.
    bool insertBatch(const std::list<tag_MsgItem>& items);

    // Rows of `type` stamped strictly between `start` and `end` (text
    // comparison), with the outcome; the outcome is also kept for
    // lastQueryFailed()/lastQueryError().
    QueryResult queryResult(const QString& start, const QString& end, int type);
    // The same rows without the outcome.
    RecordList query(QString start, QString end, int type);

    // Outcome of the most recent query(): failed or not, and the driver's reason.
    bool lastQueryFailed() const { return m_lastQueryFailed; }
    QString lastQueryError() const { return m_lastQueryError; }

    static const char* const kCreateTableSql;
    static const char* const kCreateIndexSql;
    static const char* const kInsertSql;
    static const char* const kQuerySql;

private:
    QueryResult runQuery(const QString& start, const QString& end, int type);
    void setQueryOutcome(bool failed, const QString& reason);

    bool m_lastQueryFailed = false;
    QString m_lastQueryError;
};

} // namespace SystemLog
