#include "search/IndexLayout.h"

#include <QCryptographicHash>

#include <sqlite3.h>

#include "store/SqliteStatement.h"

namespace SystemLog {

namespace IndexLayout {

QString pathFor(const QString& logPath)
{
    return logPath + QLatin1String(kSuffix);
}

QByteArray partTable(qint64 part)
{
    return "Words_" + QByteArray::number(part);
}

bool fingerprint(sqlite3* log, qint64 id, QByteArray& result)
{
    result.clear();
    SqliteStatement row(log, "SELECT datetime, type, message FROM SystemInfo WHERE id = ?1");
    if (!row.prepared())
        return false;
    row.bindNumber(1, id);
    const int rc = row.step();
    if (rc == SQLITE_DONE)
        return true;
    if (rc != SQLITE_ROW)
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (int column = 0; column < 3; ++column) {
        hash.addData(QByteArray::number(sqlite3_column_type(row.get(), column)));
        hash.addData(row.textAt(column));
        hash.addData("\x1f", 1);
    }
    result = hash.result().toHex();
    return true;
}

} // namespace IndexLayout

} // namespace SystemLog
