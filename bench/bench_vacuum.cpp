// vxlog vacuum --time removing the older half of a large log (VX_BENCH_VACUUM_ROWS
// records, default 10,000,000, over two days; the bound is the second day's
// midnight): total time, the longest time one transaction held the write
// lock, the file's size before and after. The yardstick in the same run is
// the plain way: one DELETE in one transaction, then VACUUM, each holding the
// lock throughout. Both start from a copy of the same file, made the way the
// writer makes one (incremental auto-vacuum, the (type, datetime) index).
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <vxSyslog/LogVacuum.h>

#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "DayLogDatabase.h"

namespace {

const char* const kBound = "2024-05-02 00:00:00";

int rowCount()
{
    const char* rows = std::getenv("VX_BENCH_VACUUM_ROWS");
    return rows ? std::atoi(rows) : 10000000;
}

class TwoDayLog
{
public:
    TwoDayLog()
    {
        m_path = m_dir.filePath(QStringLiteral("original.db"));
        const std::string path = m_path.toStdString();
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA auto_vacuum = INCREMENTAL; CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT "
                         "UNIQUE, datetime DATETIME NOT NULL, type INT(32), message TEXT)",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
        writeDayLogDatabase(path, "2024-05-01", rowCount() / 2);
        writeDayLogDatabase(path, "2024-05-02", rowCount() - rowCount() / 2);
    }

    // A fresh copy to vacuum.
    QString copy(const QString& name) const
    {
        const QString target = m_dir.filePath(name);
        QFile::remove(target);
        QFile::copy(m_path, target);
        return target;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

const TwoDayLog& twoDayLog()
{
    static const TwoDayLog log;
    return log;
}

void setSizes(benchmark::State& state, qint64 before, qint64 after)
{
    state.counters["MiB_before"] = static_cast<double>(before) / (1 << 20);
    state.counters["MiB_after"] = static_cast<double>(after) / (1 << 20);
    state.counters["records"] = rowCount();
}

void BM_VxlogVacuumTime(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = twoDayLog().copy(QStringLiteral("vacuum.db"));
        state.ResumeTiming();
        SystemLog::LogVacuum vacuum(path);
        SystemLog::VacuumLimits limits;
        limits.olderThan = QString::fromLatin1(kBound);
        if (!vacuum.run(limits)) {
            state.SkipWithError(vacuum.errorText().toUtf8().constData());
            return;
        }
        const SystemLog::VacuumResult& result = vacuum.result();
        state.counters["removed"] = static_cast<double>(result.removed);
        state.counters["longest_lock_ms"] = static_cast<double>(result.longestLockMs);
        state.counters["transactions"] = result.transactions;
        setSizes(state, result.bytesBefore, result.bytesAfter);
    }
}

// One DELETE, one VACUUM: the lock is held for each as a whole.
void BM_OneDeleteThenVacuum(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = twoDayLog().copy(QStringLiteral("plain.db"));
        const qint64 before = QFileInfo(path).size();
        state.ResumeTiming();
        sqlite3* db = nullptr;
        sqlite3_open(path.toStdString().c_str(), &db);
        sqlite3_exec(db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
        QElapsedTimer held;
        held.start();
        const std::string remove = std::string("BEGIN IMMEDIATE; DELETE FROM SystemInfo WHERE datetime < '") + kBound + "'; COMMIT";
        sqlite3_exec(db, remove.c_str(), nullptr, nullptr, nullptr);
        const qint64 deleteMs = held.restart();
        sqlite3_exec(db, "VACUUM", nullptr, nullptr, nullptr);
        const qint64 vacuumMs = held.elapsed();
        sqlite3_close(db);
        state.counters["longest_lock_ms"] = static_cast<double>(qMax(deleteMs, vacuumMs));
        state.counters["delete_lock_ms"] = static_cast<double>(deleteMs);
        setSizes(state, before, QFileInfo(path).size());
    }
}

} // namespace

BENCHMARK(BM_VxlogVacuumTime)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneDeleteThenVacuum)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
