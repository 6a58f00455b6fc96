// How the result pane copes with a large query result, against the pane it
// replaced (a QTextEdit filled with the joined record blocks in one
// setPlainText, as the viewer used to do), in the same run:
// - the benchmark's time: from the query's return to the first screen painted;
// - gap_ms: the longest the event loop was stuck afterwards, observed for
//   BENCH_OBSERVE_MS (default 2000) while PageDown is pressed every 100 ms;
// - rss_MB: the process's resident memory beyond the RecordList, after that.
// The pane is shown at 776 x 500, as in the window, on the offscreen platform.
//
// And a query through the real path, on a generated log database of 2,000,000
// records in one day or 10,000,000 in a month (BM_QueryThroughWorker), beside
// today's synchronous query in the same run (BM_QueryOnGuiThread: the log
// service's query on the GUI thread, then showRecords):
// - first_screen_ms: from the query's start to its first records painted;
// - gap_listing_ms: the longest the event loop was stuck until the whole
//   answer was listed (for the synchronous query: the query itself);
// - gap_paging_ms: the longest while the scroll bar is moved from the top to
//   the bottom in 200 steps with a PageDown at each, then End and Home;
// - find_s, gap_find_ms: a find through the whole answer for a text that is
//   not there (the worker reads every record), and the longest gap meanwhile;
// - peak_MB, bytes_per_record: the process's peak resident memory beyond what
//   it held before the query.
// The databases are made in BENCH_DB_DIR (kept for the next run) or in a
// temporary folder.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include <vxSyslog/vxSysLog.h>

#include "ResultPane.h"

using SystemLog::RecordList;

namespace {

// As the service stores them: a time stamp, a one-line message and its line feed.
RecordList sampleRecords(int count)
{
    RecordList records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append({QStringLiteral("2024-05-01 %1:%2:%3")
                            .arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                            .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                            .arg(i % 60, 2, 10, QLatin1Char('0')),
                        QStringLiteral("系统状态：CPU 占用 %1%，内存占用 %2%\n").arg(i % 100).arg(i % 70)});
    return records;
}

RecordList oneMegabyteRecord()
{
    return {{QStringLiteral("2024-05-01 10:00:00"), QString(1 << 20, QLatin1Char('x')) + QLatin1Char('\n')}};
}

RecordList dataset(int which)
{
    return which == 0 ? oneMegabyteRecord() : sampleRecords(which);
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The longest the event loop took to come round while `busy` holds, looked
// at every tickMs; `step` runs from a timer every stepMs meanwhile.
double longestGapWhile(const std::function<bool()>& busy, const std::function<void()>& step = {}, int stepMs = 20,
                       int tickMs = 2)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(tickMs); // beside the worker, a spinning 0 ms timer would take a core from it
    QTimer stepper;
    if (step) {
        QObject::connect(&stepper, &QTimer::timeout, step);
        stepper.start(stepMs);
    }
    while (busy())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return double(std::max(longest, clock.elapsed() - last));
}

// The longest stretch the event loop did not come round, in ms, while the
// operator pages down through `pane` every 100 ms.
double longestGap(QWidget* pane)
{
    const int observeMs = qEnvironmentVariableIsSet("BENCH_OBSERVE_MS") ? qEnvironmentVariableIntValue("BENCH_OBSERVE_MS") : 2000;
    QElapsedTimer clock;
    clock.start();
    const auto pageDown = [pane] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(pane, &press);
    };
    return longestGapWhile([&clock, observeMs] { return clock.elapsed() < observeMs; }, pageDown, 100, 0);
}

QString joinedBlocks(const RecordList& records)
{
    QString text;
    for (int i = 0; i < records.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        text += records.at(i).first + QStringLiteral(":\n") + records.at(i).second;
    }
    return text;
}

template <typename Pane, typename Fill>
void measure(benchmark::State& state, Fill fill)
{
    const RecordList records = dataset(int(state.range(0)));
    Pane pane;
    pane.resize(776, 500);
    pane.show();
    QCoreApplication::processEvents();
    const double before = residentMegabytes();
    for (auto _ : state) {
        fill(pane, records);
        pane.viewport()->repaint();
    }
    state.counters["gap_ms"] = longestGap(&pane);
    state.counters["rss_MB"] = residentMegabytes() - before;
}

void BM_ResultPane(benchmark::State& state)
{
    measure<ResultPane>(state, [](ResultPane& pane, const RecordList& records) { pane.showRecords(records); });
}

// The pane as it was: font, clear, one plain-text pass over the joined blocks.
void BM_OldTextEditPane(benchmark::State& state)
{
    measure<QTextEdit>(state, [](QTextEdit& pane, const RecordList& records) {
        QFont font;
        font.setPixelSize(18);
        pane.setFont(font);
        pane.clear();
        pane.document()->setPlainText(joinedBlocks(records));
    });
}

// ---- queries through the real path ----

// The folder of the generated databases, each as <records>/dbLog.db, since
// the log service opens ./dbLog.db.
QString databaseFolder()
{
    static QTemporaryDir temporary;
    const QString chosen = qEnvironmentVariable("BENCH_DB_DIR");
    return chosen.isEmpty() ? temporary.path() : chosen;
}

// <databaseFolder()>/<name>/dbLog.db, made once: the writer's table and
// time index, filled by `insert` (an INSERT … SELECT over c(i) counting from 0).
QString makeDatabase(const QString& name, const QString& insert)
{
    const QString folder = databaseFolder() + QLatin1Char('/') + name;
    const QString path = folder + QStringLiteral("/dbLog.db");
    if (QFile::exists(path))
        return path;
    QDir().mkpath(folder);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(path + QStringLiteral(".part"));
        db.open();
        QSqlQuery q(db);
        for (const QString& sql : {
                 QStringLiteral("PRAGMA journal_mode=OFF"), QStringLiteral("PRAGMA synchronous=OFF"),
                 QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, datetime DATETIME "
                                "NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime')), type INT(32), message TEXT)"),
                 insert, QStringLiteral("CREATE INDEX SystemInfo_type_datetime ON SystemInfo(type, datetime)")})
            if (!q.exec(sql))
                qFatal("cannot make the benchmark database: %s", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
    QFile::rename(path + QStringLiteral(".part"), path);
    return path;
}

// Status records as the writer stores them, spread evenly over one day (2M)
// or over May 2024 (10M).
QString makeDatabase(int records)
{
    const qint64 seconds = records > 2000000 ? 31 * 86400 : 86400;
    return makeDatabase(QString::number(records),
                        QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < %1) "
                                       "INSERT INTO SystemInfo(datetime, type, message) "
                                       "SELECT strftime('%Y-%m-%d %H:%M:%S', '2024-05-01', '+' || (i * %2 / %3) || ' seconds'), 2, "
                                       "'系统状态：CPU 占用 ' || (i % 100) || '%，内存占用 ' || (i % 70) || '%' || char(10) FROM c")
                            .arg(records - 1)
                            .arg(seconds)
                            .arg(records));
}

// Peak resident memory (VmHWM), and resetting it.
double peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The scroll bar from top to bottom in 200 steps with a PageDown at each,
// then End and Home.
double pagingGap(ResultPane& pane)
{
    int step = 0;
    return longestGapWhile([&] { return step <= 202; }, [&] {
        QScrollBar* bar = pane.verticalScrollBar();
        if (step <= 200) {
            bar->setValue(int(qint64(bar->maximum()) * step / 200));
            QKeyEvent page(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(&pane, &page);
        } else {
            QKeyEvent key(QEvent::KeyPress, step == 201 ? Qt::Key_End : Qt::Key_Home, Qt::NoModifier);
            QApplication::sendEvent(&pane, &key);
        }
        pane.viewport()->repaint();
        ++step;
    });
}

void startQuery(ResultPane& pane, const QString& database, int records)
{
    if (records > 2000000)
        pane.showRangeQuery(database, 2, QDateTime(QDate(2024, 5, 1), QTime(0, 0)), QDateTime(QDate(2024, 6, 1), QTime(0, 0)));
    else
        pane.showDayQuery(database, 2, QDate(2024, 5, 1));
}

void reportMemory(benchmark::State& state, double before, int records)
{
    const double peak = peakMegabytes() - before;
    state.counters["peak_MB"] = peak;
    state.counters["bytes_per_record"] = peak * 1024 * 1024 / std::max(1, records);
}

void BM_QueryThroughWorker(benchmark::State& state)
{
    const int records = int(state.range(0));
    const QString database = makeDatabase(records);
    ResultPane pane;
    pane.resize(776, 500);
    pane.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        resetPeak();
        const double before = peakMegabytes();
        QElapsedTimer clock;
        clock.start();
        startQuery(pane, database, records);
        double firstScreen = 0;
        const double listingGap = longestGapWhile([&] {
            if (firstScreen == 0 && pane.recordCount() > 0) {
                pane.viewport()->repaint();
                firstScreen = double(clock.nsecsElapsed()) / 1e6;
            }
            return pane.isBusy();
        });
        state.counters["listing_s"] = double(clock.elapsed()) / 1000;
        state.SetIterationTime(firstScreen / 1000);
        state.counters["first_screen_ms"] = firstScreen;
        state.counters["gap_listing_ms"] = listingGap;
        state.counters["listed"] = pane.recordCount();
        state.counters["gap_paging_ms"] = pagingGap(pane);
        clock.restart();
        pane.find(QStringLiteral("没有这段文字"));
        state.counters["gap_find_ms"] = longestGapWhile([&] { return pane.isBusy(); });
        state.counters["find_s"] = double(clock.elapsed()) / 1000;
        reportMemory(state, before, records);
        pane.showRecords({});
    }
}

void BM_QueryOnGuiThread(benchmark::State& state)
{
    const int records = int(state.range(0));
    const QString database = makeDatabase(records);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QFileInfo(database).path());
    ResultPane pane;
    pane.resize(776, 500);
    pane.show();
    QCoreApplication::processEvents();
    SystemLog::vxSysLog* service = SystemLog::vxSysLog::instance();
    for (auto _ : state) {
        resetPeak();
        const double before = peakMegabytes();
        QElapsedTimer clock;
        clock.start();
        bool queried = false;
        const double listingGap = longestGapWhile([&] {
            if (queried)
                return false;
            queried = true;
            const RecordList answer = records > 2000000
                                          ? service->queryByRange(QStringLiteral("2024-05-01 00:00:00"),
                                                                  QStringLiteral("2024-06-01 00:00:00"), 2)
                                          : service->queryByDay(QStringLiteral("2024-05-01"), 2);
            pane.showRecords(answer);
            pane.viewport()->repaint();
            return true;
        });
        const double firstScreen = double(clock.nsecsElapsed()) / 1e6;
        state.SetIterationTime(firstScreen / 1000);
        state.counters["first_screen_ms"] = firstScreen;
        state.counters["gap_listing_ms"] = listingGap;
        state.counters["listed"] = pane.recordCount();
        state.counters["gap_paging_ms"] = pagingGap(pane);
        clock.restart();
        bool searched = false; // records in memory are searched at once, on this thread
        state.counters["gap_find_ms"] = longestGapWhile([&] {
            if (searched)
                return false;
            searched = true;
            pane.find(QStringLiteral("没有这段文字"));
            return true;
        });
        state.counters["find_s"] = double(clock.elapsed()) / 1000;
        reportMemory(state, before, records);
        pane.showRecords({});
    }
    SystemLog::vxSysLog::release();
    QDir::setCurrent(previous);
}

// ---- several types, a filter, a live view ----

// 2,000,000 records of one day, the five types in turn, messages of about 30
// characters, one in 50 naming "主轴"; the writer's table and time index.
QString makeMixedDatabase()
{
    return makeDatabase(QStringLiteral("mixed"),
                        QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 1999999) "
                                       "INSERT INTO SystemInfo(datetime, type, message) "
                                       "SELECT strftime('%Y-%m-%d %H:%M:%S', '2024-05-01', '+' || (i * 86400 / 2000000) || ' seconds'), "
                                       "i % 5, CASE WHEN i % 50 = 0 THEN '主轴温度 ' || (i % 90) || ' °C' ELSE "
                                       "'系统状态：CPU 占用 ' || (i % 100) || '%，内存占用 ' || (i % 70) || '%' END FROM c"));
}

// Arg: 0 one type (the listing as it was, the baseline), 1 every type,
// 2 every type filtered by "主轴" (one record in 50), 3 one type filtered by
// "CPU 占用 9" (one in 9).
void BM_ListingOfADay(benchmark::State& state)
{
    const int which = int(state.range(0));
    const QString database = makeMixedDatabase();
    ResultPane pane;
    pane.resize(776, 500);
    pane.show();
    QCoreApplication::processEvents();
    SystemLog::LogQuery query;
    if (which == 0 || which == 3)
        query.types = {2};
    if (which >= 2) {
        query.grep = which == 2 ? QStringLiteral("主轴") : QStringLiteral("CPU 占用 9");
        query.ignoreCase = which == 2;
    }
    query.withGaps = true;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        pane.showDayQuery(database, query, QDate(2024, 5, 1));
        double firstScreen = 0;
        const double gap = longestGapWhile([&] {
            if (firstScreen == 0 && pane.recordCount() > 0) {
                pane.viewport()->repaint();
                firstScreen = double(clock.nsecsElapsed()) / 1e6;
            }
            return pane.isBusy();
        });
        state.SetIterationTime(firstScreen / 1000);
        state.counters["first_screen_ms"] = firstScreen;
        state.counters["gap_listing_ms"] = gap;
        state.counters["listing_s"] = double(clock.elapsed()) / 1000;
        state.counters["listed"] = pane.recordCount();
        pane.showRecords({});
    }
}

// Inserts `perSecond` records a second into `path` from a thread of its own,
// ten to a transaction, and notes when each was committed.
class PacedWriter
{
public:
    PacedWriter(const QString& path, int perSecond, int seconds)
        : m_thread([this, path, perSecond, seconds] { run(path, perSecond, seconds); })
    {
    }
    ~PacedWriter() { m_thread.join(); }

    bool done() const { return m_done.load(); }
    // Milliseconds of the clock() below at which record n (from 0) was committed.
    qint64 committedAt(int n)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return n < int(m_commits.size()) ? m_commits[std::size_t(n)] : -1;
    }
    static qint64 clock() { return QDateTime::currentMSecsSinceEpoch(); }

private:
    void run(const QString& path, int perSecond, int seconds)
    {
        sqlite3* db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        const QByteArray day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
        const qint64 start = clock();
        for (int n = 0; n < perSecond * seconds; n += 10) {
            while (clock() - start < qint64(n) * 1000 / perSecond)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            QByteArray sql = "BEGIN;";
            for (int i = n; i < n + 10; ++i)
                sql += "INSERT INTO SystemInfo(datetime, type, message) VALUES('" + day + " 12:00:00', 3, '报警 "
                       + QByteArray::number(i) + "');";
            sql += "COMMIT;";
            sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_commits.insert(m_commits.end(), 10, clock());
        }
        sqlite3_close(db);
        m_done.store(true);
    }

    std::mutex m_mutex;
    std::vector<qint64> m_commits;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// A live listing of today while another thread logs 1,000 alarms a second
// for 10 s: the longest event-loop gap and the delay from a record's commit
// to its place in the pane. Arg 0: the same pane listing a past day (not
// live) meanwhile, the baseline.
void BM_LiveView(benchmark::State& state)
{
    const bool live = state.range(0) == 1;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("dbLog.db"));
    {
        sqlite3* db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        // One alarm at midnight of each day listed, so that the pane lists a record, not a notice.
        const QByteArray seed = "INSERT INTO SystemInfo(datetime, type, message) VALUES('"
                                + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8()
                                + " 00:00:00', 3, 'first'), ('2024-05-01 00:00:00', 3, 'first');";
        sqlite3_exec(db, "CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, datetime DATETIME, type INT(32), "
                         "message TEXT); CREATE INDEX SystemInfo_type_datetime ON SystemInfo(type, datetime);",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(db, seed.constData(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    ResultPane pane;
    pane.resize(776, 500);
    pane.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        pane.showDayQuery(path, 3, live ? QDate::currentDate() : QDate(2024, 5, 1));
        longestGapWhile([&] { return pane.isBusy(); });
        PacedWriter writer(path, 1000, 10);
        qint64 longestDelay = 0;
        qint64 delays = 0;
        int seen = 0;
        const double gap = longestGapWhile([&] {
            const int listed = pane.isLive() ? pane.recordCount() - 1 : 0; // past the first
            for (; seen < listed; ++seen) {
                const qint64 delay = PacedWriter::clock() - writer.committedAt(seen);
                longestDelay = std::max(longestDelay, delay);
                delays += delay;
            }
            return !writer.done() || (live && seen < 10000);
        });
        state.SetIterationTime(gap / 1000);
        state.counters["gap_ms"] = gap;
        state.counters["shown"] = seen;
        state.counters["delay_max_ms"] = double(longestDelay);
        state.counters["delay_mean_ms"] = seen ? double(delays) / seen : 0;
        pane.showRecords({});
    }
}

BENCHMARK(BM_ListingOfADay)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveView)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK(BM_QueryThroughWorker)->Arg(2000000)->Arg(10000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryOnGuiThread)->Arg(2000000)->Arg(10000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Arg: record count, or 0 for one record with a 1 MB message without a blank.
BENCHMARK(BM_ResultPane)->Arg(200000)->Arg(1000000)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OldTextEditPane)->Arg(200000)->Arg(1000000)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
