#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

#include <vxSyslog/FlushResult.h>
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
// that no line can reach the writer being destroyed, then stores every line
// still queued.
//
// The database: "dbLog.db" in the working directory, unless a Session or
// init() names another file. instance() alone opens (and creates) the
// default file, so a program that logs elsewhere starts with a Session on its
// path, which never touches the default file.
//
// Ending: release() and the end of a Session store every line logged before
// them. So does the end of the process through exit() (from any thread) or a
// return from main, also while static objects are destroyed: the service
// ends itself then. Ending returns within the lock deadline (10 s) and about
// a second more, however many threads go on logging meanwhile: a lock that
// another program holds on the file is waited for up to 10 s, and what a
// flood queued faster than it can be written by then is not written on;
// what still cannot be stored is kept in a side file next to the database,
// which the next program that writes it stores (with a drop record where
// lines had to be given up). _exit(), quick_exit(), abort() and signals are
// crashes: what was still queued is lost, nothing committed is.
// After the end at exit: lines go to standard output, and instance() returns
// a service that writes nothing (flush() returns at once with every count 0,
// queries fail with "日志服务已结束"); it never opens a file again.
// fork(): the service belongs to the process that started it. A child never
// writes the database: its lines go to standard error, after one notice, and
// its instance() is such a service that writes nothing; it may log, return,
// exit() or exec. The parent's lines are not affected. A fork while another
// thread starts or ends the service is not covered.
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
    // With a path, the service logs into that database from now on (a
    // relative path is taken from the working directory now); an empty path
    // keeps the file the service has. Lines logged before a change of file
    // are stored in the file used until then.
    void init(const QString& databasePath = QString());

    // Waits until every line finished before the call, on any thread, is
    // stored, set aside or given up, or until `timeout` has passed, and
    // returns what became of the lines since the service started; `pending`
    // counts those not finished when it returned. Returns at once before
    // init() and after the service ended.
    FlushResult flush(std::chrono::milliseconds timeout);
    // flush() with a timeout of 90 seconds: longer than the writer keeps
    // trying one batch (a lock held by another program is waited out for
    // about 72 s before its lines are given up), so pending is 0 unless
    // several batches met such a lock in turn.
    FlushResult flush();

    RecordList queryByDay(QString day, int type);
    RecordList queryByRange(QString start, QString end, int type);

    // The same queries, with the outcome returned beside the rows.
    QueryResult queryDayResult(const QString& day, int type);
    QueryResult queryRangeResult(const QString& start, const QString& end, int type);

    // Whether the most recent query failed, and the database's reason.
    bool lastQueryFailed();
    QString lastQueryError();

    // Lines given up since the service started, for any reason; flush()
    // tells the reasons.
    std::uint64_t droppedCount() const;

protected:
    vxSysLog();
    virtual ~vxSysLog();

private:
    struct Dormant
    {
    };
    explicit vxSysLog(Dormant);
    static vxSysLog* dormantService();
    static void registerForkHandlers();
    static void becomeChild();

    std::unique_ptr<vxLogDB> m_logDB;  // the writer; private to the library
};

// Starts the log service for the lifetime of a scope, typically main's:
//     int main() { SystemLog::vxSysLog::Session log; ... }
//     int main() { SystemLog::vxSysLog::Session log("/var/log/machine/dbLog.db"); ... }
// The constructor creates the service on the database given (by default
// "dbLog.db" in the working directory) and calls init(); the destructor calls
// release(), which stores every line finished before it. Needs neither a
// QCoreApplication nor an event loop. One Session per program, on the thread
// that starts and ends it; lines may be finished on any thread while it lives.
class VXSYSLOG_EXPORT vxSysLog::Session
{
public:
    explicit Session(const QString& databasePath = QString());
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    vxSysLog* service() const { return m_service; }

private:
    vxSysLog* m_service;
};

} // namespace SystemLog
