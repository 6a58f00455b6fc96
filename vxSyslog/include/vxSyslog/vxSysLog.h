#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

#include <vxSyslog/RecordList.h>
#include <vxSyslog/vx_singleton_sys.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

class vxLogDB;

// The process-wide log service: owns the writer (and through it the store;
// held through a pointer so that the writer's class stays private to the
// library), routes finished log lines into the writer's queue, and answers
// queries on the caller's thread. Reached only through instance(); deleted by
// release(), which first puts standard output back as the log destination so
// that no line can reach the writer being destroyed, then writes every line
// still queued.
//
// instance() and release() are the library's own functions, not the singleton
// template's inline ones: a program and a shared vxSyslog library must share
// one service, not hold one each.
//
// Queries run on the caller's thread, from any thread. Each result carries its
// own outcome; lastQueryFailed()/lastQueryError() describe whichever query
// of any thread ended last and suit a program that queries from one thread.
class VXSYSLOG_EXPORT vxSysLog : public QObject, public vx_singleton_sys<vxSysLog>
{
    Q_OBJECT
    friend class vx_singleton_sys<vxSysLog>;

public:
    class Session;

    static vxSysLog* instance();
    static void release();

    // Binds the logger output to the writer's queue, then starts the writer.
    void init();

    RecordList queryByDay(QString day, int type);
    RecordList queryByRange(QString start, QString end, int type);

    // The same queries, with the outcome returned beside the rows.
    QueryResult queryDayResult(const QString& day, int type);
    QueryResult queryRangeResult(const QString& start, const QString& end, int type);

    // Whether the most recent query failed, and the database's reason.
    bool lastQueryFailed();
    QString lastQueryError();

    // Lines the writer had to give up on (see vxLogDB).
    std::uint64_t droppedCount() const;

protected:
    vxSysLog();
    virtual ~vxSysLog();

private:
    std::unique_ptr<vxLogDB> m_logDB;  // the writer; private to the library
};

// Starts the log service for the lifetime of a scope, typically main's:
//     int main() { SystemLog::vxSysLog::Session log; ... }
// The constructor calls instance() and init(); the destructor calls release(),
// which stores every line finished before it. Needs neither a QCoreApplication
// nor an event loop. One Session per program, on the thread that starts and
// ends it; lines may be finished on any thread while it lives.
class VXSYSLOG_EXPORT vxSysLog::Session
{
public:
    Session();
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    vxSysLog* service() const { return m_service; }

private:
    vxSysLog* m_service;
};

} // namespace SystemLog
