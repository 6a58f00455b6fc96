#include <vxSyslog/vxSysLog.h>

#include <vxSyslog/vxLogging.h>

#include "vxLogDB.h"

namespace SystemLog {

vxSysLog* vxSysLog::instance()
{
    return vx_singleton_sys<vxSysLog>::instance();
}

void vxSysLog::release()
{
    vx_singleton_sys<vxSysLog>::release();
}

vxSysLog::Session::Session()
    : m_service(vxSysLog::instance())
{
    m_service->init();
}

vxSysLog::Session::~Session()
{
    vxSysLog::release();
}

vxSysLog::vxSysLog()
    : QObject(nullptr)
    , m_logDB(std::make_unique<vxLogDB>())
{
}

vxSysLog::~vxSysLog()
{
    // Lines logged from now on go to standard output. setSink waits for any
    // line that is still being handed to the writer, so none can reach it once
    // it is destroyed below.
    LogLine::setSink(writeToStdout);
    m_logDB->stopProcess();
}

void vxSysLog::init()
{
    vxLogDB* writer = m_logDB.get();
    LogLine::setSink([writer](int type, const char* text, int length) { writer->pushMsg(type, text, length); });
    m_logDB->start();
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
