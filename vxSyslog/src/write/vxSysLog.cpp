#include <vxSyslog/vxSysLog.h>

#include <vxSyslog/vxLogging.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#ifdef Q_OS_UNIX
#include <pthread.h>
#include <unistd.h>
#endif

#include "front/OutputFork.h"
#include "front/StdoutLines.h"
#include "write/vxLogDB.h"

namespace SystemLog {

namespace {

// The database of the service that instance() creates next: the default
// unless a Session names another, so that logging elsewhere never creates
// "dbLog.db" in the working directory. Never destroyed, like the service.
std::mutex& nextPathMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

QString& nextPath()
{
    static QString* const path = new QString;
    return *path;
}

void setNextPath(const QString& path)
{
    std::lock_guard<std::mutex> lock(nextPathMutex());
    nextPath() = path;
}

std::unique_ptr<vxLogDB> makeWriter()
{
    std::lock_guard<std::mutex> lock(nextPathMutex());
    if (nextPath().isEmpty())
        return std::make_unique<vxLogDB>();
    return std::make_unique<vxLogDB>(nextPath());
}

// Ends the service while the process exits (exit() from any thread, or a
// return from main), so that its queued lines are stored and no transaction
// is cut off. Registered once the first service has opened its database:
// exit handlers run in reverse order of registration, so everything Qt set up
// for that connection is still there when this one runs. A Session destroyed
// later, with the static objects, then finds no service left.
// Why this process has no service that writes (or may ever have one again):
// it is exiting and its service has ended, or it is the child of a fork()
// and the service belongs to the parent.
enum class Dormancy { None, Exited, Forked };
std::atomic<Dormancy> g_dormancy{Dormancy::None};

void endServiceAtExit()
{
    Dormancy none = Dormancy::None;
    g_dormancy.compare_exchange_strong(none, Dormancy::Exited);
    vxSysLog::release();
}

void registerEndAtExit()
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(endServiceAtExit); });
}

// A forked child's lines: standard error, after one notice. The parent's
// writer thread does not exist in the child, and its queue and connection
// may have been in use by it at the fork.
void writeChildLine(int /*type*/, const char* text, int length)
{
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
#ifdef Q_OS_UNIX
        const std::string pid = std::to_string(long(::getpid()));
#else
        const std::string pid;
#endif
        std::fprintf(stderr, "日志服务属于父进程：子进程 %s 的日志行不写入日志数据库，改为输出到标准错误\n", pid.c_str());
    }
    if (length > 0)
        std::fwrite(text, 1, static_cast<size_t>(length), stderr);
}

// The service that writes, while there is one; for the fork handlers.
std::atomic<vxSysLog*> g_liveService{nullptr};

} // namespace

vxSysLog* vxSysLog::instance()
{
    if (g_dormancy.load() != Dormancy::None)
        return dormantService();
    return vx_singleton_sys<vxSysLog>::instance();
}

vxSysLog* vxSysLog::dormantService()
{
    // Never destroyed: it may be asked for while the process exits.
    static vxSysLog* const dormant = new vxSysLog(Dormant{});
    return dormant;
}

void vxSysLog::registerForkHandlers()
{
#ifdef Q_OS_UNIX
    static std::once_flag registered;
    std::call_once(registered, [] {
        pthread_atfork(holdOutputForFork, releaseOutputAfterFork, [] { vxSysLog::becomeChild(); });
    });
#endif
}

void vxSysLog::becomeChild()
{
    g_dormancy.store(Dormancy::Forked);
    if (vxSysLog* inherited = g_liveService.load()) {
        // Never joined nor destroyed here: its thread is the parent's. Kept
        // reachable, so that a leak checker does not count it.
        static vxLogDB* parentsWriter = nullptr;
        parentsWriter = inherited->m_logDB.release();
        (void)parentsWriter;
    }
    replaceOutputInChild(writeChildLine);
}

void vxSysLog::release()
{
    vx_singleton_sys<vxSysLog>::release();
}

vxSysLog::Session::Session(const QString& databasePath)
{
    setNextPath(databasePath);
    m_service = vxSysLog::instance();
    setNextPath(QString());
    m_service->init(databasePath);
}

vxSysLog::Session::~Session()
{
    vxSysLog::release();
}

vxSysLog::vxSysLog()
    : QObject(nullptr)
    , m_logDB(makeWriter())
{
    registerEndAtExit();
    registerForkHandlers();
    g_liveService.store(this);
}

vxSysLog::vxSysLog(Dormant)
    : QObject(nullptr)
{
}

vxSysLog::~vxSysLog()
{
    vxSysLog* self = this;
    g_liveService.compare_exchange_strong(self, nullptr);
    if (!m_logDB)
        return;  // a dormant service, or the parent's in a forked child
    // Lines logged from now on go to standard output, each whole and once
    // also while the process exits (StdoutLines.h). setSink waits for any
    // line that is still being handed to the writer, so none can reach it once
    // it is destroyed below.
    beginStdoutLines();
    LogLine::setSink(writeStdoutLine);
    m_logDB->stopProcess();
}

void vxSysLog::init(const QString& databasePath)
{
    vxLogDB* writer = m_logDB.get();
    if (!writer)
        return;
    if (!databasePath.isEmpty() && !writer->usesDatabase(databasePath)) {
        // The lines queued so far belong to the file they were logged for.
        writer->stopProcess();
        writer->wait();
        writer->setDatabasePath(databasePath);
    }
    LogLine::setSink([writer](int type, const char* text, int length) { writer->pushMsg(type, text, length); });
    m_logDB->start();
}

FlushResult vxSysLog::flush()
{
    return m_logDB ? m_logDB->flush() : FlushResult();
}

FlushResult vxSysLog::flush(std::chrono::milliseconds timeout)
{
    return m_logDB ? m_logDB->flush(timeout) : FlushResult();
}

namespace {

QueryResult noServiceQuery()
{
    QueryResult result;
    result.failed = true;
    result.error = QStringLiteral("日志服务已结束");
    return result;
}

} // namespace

RecordList vxSysLog::queryByDay(QString day, int type)
{
    return m_logDB ? m_logDB->queryByDay(day, type) : RecordList();
}

RecordList vxSysLog::queryByRange(QString start, QString end, int type)
{
    return m_logDB ? m_logDB->queryByRange(start, end, type) : RecordList();
}

QueryResult vxSysLog::queryDayResult(const QString& day, int type)
{
    return m_logDB ? m_logDB->queryDayResult(day, type) : noServiceQuery();
}

QueryResult vxSysLog::queryRangeResult(const QString& start, const QString& end, int type)
{
    return m_logDB ? m_logDB->queryRangeResult(start, end, type) : noServiceQuery();
}

bool vxSysLog::lastQueryFailed()
{
    return m_logDB ? m_logDB->lastQueryFailed() : true;
}

QString vxSysLog::lastQueryError()
{
    return m_logDB ? m_logDB->lastQueryError() : noServiceQuery().error;
}

std::uint64_t vxSysLog::droppedCount() const
{
    return m_logDB ? m_logDB->droppedCount() : 0;
}

} // namespace SystemLog
