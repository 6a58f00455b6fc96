#pragma once

// Test-side access to a log database file, through a connection of the test's
// own (named, so it never touches the product's private one).

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QUuid>
#include <QVariant>
#include <QVector>

// A file from elsewhere whose SystemInfo is a view over an endless
// recursive query: read as a log, every count and listing would never end.
constexpr const char* kEndlessView =
    "CREATE VIEW SystemInfo AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
    "SELECT i AS id, '2024-05-01 10:00:00' AS datetime, 3 AS type, 'endless' AS message FROM n";

struct StoredRow
{
    qint64 id;
    QString datetime;
    int type;
    QString message;
};

class TestDatabase
{
public:
    explicit TestDatabase(const QString& path)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~TestDatabase()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    bool exec(const QString& sql) const
    {
        QSqlQuery q(db());
        return q.exec(sql);
    }

    // The log table as the writer makes it, with its (type, datetime) index
    // when `indexed`.
    bool createLogTable(bool indexed = false) const
    {
        return exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime DATETIME, "
                                   "type INT, message TEXT)"))
               && (!indexed || exec(QStringLiteral("CREATE INDEX SystemInfo_type_time ON SystemInfo(type, datetime)")));
    }

    // A row with an explicit time stamp, as the writer would have stored it then.
    bool insertRow(const QString& datetime, int type, const QString& message) const
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)"));
        q.addBindValue(datetime);
        q.addBindValue(type);
        q.addBindValue(message);
        return q.exec();
    }

    QVector<StoredRow> rows() const
    {
        QVector<StoredRow> result;
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("SELECT id, datetime, type, message FROM SystemInfo ORDER BY id")))
            return result;
        while (q.next())
            result.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toString()});
        return result;
    }

    QString scalar(const QString& sql) const
    {
        QSqlQuery q(db());
        if (!q.exec(sql) || !q.next())
            return QString();
        return q.value(0).toString();
    }

private:
    QString m_name;
};
