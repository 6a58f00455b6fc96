#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <string>

// Fills a new log database at `path` with `rows` records spread evenly over
// the day `day` ("yyyy-MM-dd"): the writer's table and time index, the five
// types in turn, a typical machine line of about 45 bytes. Written with
// SQLite's C API in one transaction, so that making it costs seconds.
inline void writeDayLogDatabase(const std::string& path, const char* day, int rows)
{
    static const char* const kCreateTable =
        "CREATE TABLE IF NOT EXISTS SystemInfo(\t\t\t\t\t\tid INTEGER  PRIMARY KEY AUTOINCREMENT UNIQUE "
        "\t\t\t\t\t\t, datetime DATETIME NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime'))  "
        "\t\t\t\t\t\t, type INT(32) \t\t\t\t\t\t, message TEXT);"
        "CREATE INDEX IF NOT EXISTS SystemInfo_type_datetime ON SystemInfo(type, datetime);";
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, kCreateTable, nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)", -1, &insert, nullptr);
    char stamp[32];
    char message[96];
    for (int i = 0; i < rows; ++i) {
        const int second = static_cast<int>(static_cast<long long>(i) * 86400 / rows);
        std::snprintf(stamp, sizeof stamp, "%s %02d:%02d:%02d", day, second / 3600, second / 60 % 60, second % 60);
        const int length = std::snprintf(message, sizeof message, "motor %d speed %d rpm, load 0.%02d \"ok\"\n",
                                         i % 7, 1400 + i % 100, i % 100);
        sqlite3_bind_text(insert, 1, stamp, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, i % 5);
        sqlite3_bind_text(insert, 3, message, length, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}
