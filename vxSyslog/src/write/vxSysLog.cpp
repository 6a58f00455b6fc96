#include <vxSyslog/vxSysLog.h>

#include <vxSyslog/vxLogging.h>

#include <cstdlib>
#include <mutex>

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
void endServiceAtExit()
{
    vxSysLog::release();
}

void registerEndAtExit()
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(endServiceAtExit); });
}

} // namespace

vxSysLog* vxSysLog::instance()
{
    return vx_singleton_sys<vxSysLog>::instance();
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
}

vxSysLog::~vxSysLog()
{
    // Lines logged from now on go to standard output. setSink waits for any
    // line that is still being handed to the writer, so none can reach it once
    // it is destroyed below.
    LogLine::setSink(writeToStdout);
    m_logDB->stopProcess();
}

void vxSysLog::init(const QString& databasePath)
{
    vxLogDB* writer = m_logDB.get();
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
    return m_logDB->flush();
}

RecordList vxSysLog::queryByDay(QString day, int type)
{
    return m_logDB->queryByDay(day, type);
}

RecordList vxSysLog::queryByRange(QString start, QString end, int type)
{
    return m_logDB->queryByRange(start, end, type);
}

QueryResult vxSysLog::queryDayResult(const QString& day, int type)
{
    return m_logDB->queryDayResult(day, type);
}

QueryResult vxSysLog::queryRangeResult(const QString& start, const QString& end, int type)
{
    return m_logDB->queryRangeResult(start, end, type);
}

bool vxSysLog::lastQueryFailed()
{
    return m_logDB->lastQueryFailed();
}

QString vxSysLog::lastQueryError()
{
    return m_logDB->lastQueryError();
}

std::uint64_t vxSysLog::droppedCount() const
{
    return m_logDB->droppedCount();
}

} // namespace SystemLog
