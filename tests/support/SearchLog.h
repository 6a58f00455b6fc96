#pragma once

// A log for search tests: messages of every kind a search must find alike
// through the text index and by reading every row (Latin words and numbers,
// Chinese of one, two and more characters, mixed, letters whose case folds
// outside ASCII, bytes that are not UTF-8), repeated with a running number,
// written with SQLite's C API as another program would.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <sqlite3.h>

#include "store/QDBSqlite.h"

namespace SearchLog {

inline QVector<QByteArray> messages()
{
    return {
        "Spindle overload, motor 3 stopped",
        "coolant level low (12 %)",
        "Coolant pump OK",
        "COOLANT filter changed",
        "vibration sensor 振动异常",
        "主轴过载报警 4001",
        "刀库卡刀",
        "卡",
        "急停按下",
        "伺服驱动器故障 ALM-2107",
        "温度 78.5 °C，超过上限",
        "X轴超程 axis-X",
        "T12刀具寿命到期",
        "supercalifragilisticexpialidocious part",
        "supercalifragile lamp",  // the long word's first twelve letters, then others
        "载报 过载",              // both pairs of 过载报, apart
        "weight 5 \xe2\x84\xaag",              // the Kelvin sign folds to k
        "\xc5\xbftatus ready",                  // the long s folds to s
        "Gr\xc3\xb6\xc3\x9f" "e GR\xc3\x96\xc3\x9f" "E",  // Größe GRÖßE
        "\xce\xa3\xce\x8a\xce\xa3\xce\xa5\xce\xa6\xce\x9f\xce\xa3",  // ΣΊΣΥΦΟΣ
        "\xc4\xb0stanbul depot",                // İstanbul
        "\xef\xbc\xa1\xef\xbc\xa2\xef\xbc\xa3\xef\xbc\x91\xef\xbc\x92",  // ＡＢＣ１２
        "\xf0\x9f\x98\x80 smile",               // 😀
        "\xff\xe6\xb8\xa9\xe5\xba\xa6\xfe broken",  // 温度 between bytes that are not UTF-8
        "",
        "日志过多：已丢弃 12 条记录（2024-05-01 08:00:00 至 08:00:05）",
        "parameter P7 changed from 1200 to 1400",
        "操作员 张伟 登录",
        "报警号(4001) xx{2} code",
    };
}

// `rows` records; row i has messages()[i % n] and, for every other round,
// " #<i>" after it, types 0 to 4 in turn, a second apart from 2024-05-01.
// One message in ten stays NULL. The table is the writer's, or another
// program's without the writer's index on id alone. False on any SQLite
// failure.
enum class Table { Writers, WithoutIdIndex };

inline bool write(const QString& path, int rows, int firstId = 1, Table table = Table::Writers)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    const QByteArray schema =
        table == Table::Writers
            ? QByteArray(SystemLog::QDBSqlite::kCreateTableSql) + ';' + SystemLog::QDBSqlite::kCreateIndexSql + ';'
            : QByteArray("CREATE TABLE IF NOT EXISTS SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime DATETIME, "
                         "type INT, message TEXT);"
                         "CREATE INDEX IF NOT EXISTS SystemInfo_type_time ON SystemInfo(type, datetime);");
    bool ok = sqlite3_exec(db, (schema + "BEGIN").constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO SystemInfo(id, datetime, type, message) VALUES(?, ?, ?, ?)", -1, &insert, nullptr)
                   == SQLITE_OK;
    const QVector<QByteArray> texts = messages();
    for (int i = 0; ok && i < rows; ++i) {
        const int second = i % 86400;
        const QByteArray stamp = QStringLiteral("2024-05-%1 %2:%3:%4")
                                     .arg(1 + i / 86400, 2, 10, QLatin1Char('0'))
                                     .arg(second / 3600, 2, 10, QLatin1Char('0'))
                                     .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(second % 60, 2, 10, QLatin1Char('0'))
                                     .toUtf8();
        QByteArray message = texts[i % texts.size()];
        if ((i / texts.size()) % 2 == 1)
            message += " #" + QByteArray::number(i);
        sqlite3_bind_int64(insert, 1, firstId + i);
        sqlite3_bind_text(insert, 2, stamp.constData(), stamp.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 3, message.startsWith("日志过多") ? 4 : i % 5);
        if (i % 10 == 9)
            sqlite3_bind_null(insert, 4);
        else
            sqlite3_bind_text(insert, 4, message.constData(), message.size(), SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The rule of vxlog and the viewer: case matters once the pattern holds an
// upper-case letter.
inline bool ignoresCase(const QString& pattern)
{
    return pattern == pattern.toLower();
}

} // namespace SearchLog
