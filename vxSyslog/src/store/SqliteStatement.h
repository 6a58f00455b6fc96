#pragma once

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <vector>

namespace SystemLog {

// A value bound to one '?' of a reader's statement.
struct BoundValue
{
    bool isText;
    QByteArray text;
    qint64 number;
};

// One prepared statement on a reader's connection (LogReader,
// LogReader), finalized when it goes out of scope so that no read lock outlives the call that took it.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3* db, const QByteArray& sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql.constData(), sql.size(), &m_stmt, nullptr);
    }
    SqliteStatement(sqlite3* db, const QString& sql)
        : SqliteStatement(db, sql.toUtf8())
    {
    }
    SqliteStatement(sqlite3* db, const char* sql)
        : SqliteStatement(db, QByteArray(sql))
    {
    }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool prepared() const { return m_rc == SQLITE_OK && m_stmt; }
    sqlite3_stmt* get() const { return m_stmt; }

    void bind(const std::vector<BoundValue>& values)
    {
        int index = 1;
        for (const BoundValue& v : values) {
            if (v.isText)
                sqlite3_bind_text(m_stmt, index++, v.text.constData(), v.text.size(), SQLITE_TRANSIENT);
            else
                sqlite3_bind_int64(m_stmt, index++, v.number);
        }
    }

    // One value for the numbered parameter ?index.
    void bindText(int index, const QByteArray& text)
    {
        sqlite3_bind_text(m_stmt, index, text.constData(), text.size(), SQLITE_TRANSIENT);
    }
    void bindNumber(int index, qint64 number) { sqlite3_bind_int64(m_stmt, index, number); }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }

    QByteArray textAt(int column) const
    {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QByteArray::fromRawData(text ? text : "", sqlite3_column_bytes(m_stmt, column));
    }
    qint64 int64At(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool isNullAt(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_ERROR;
};

} // namespace SystemLog
