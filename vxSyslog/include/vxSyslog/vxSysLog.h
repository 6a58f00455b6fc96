#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

#include "RecordList.h"
#include "vx_singleton_sys.h"

namespace SystemLog {

class vxLogDB;

// The process-wide log service: owns the writer (and through it the store;
// held through a pointer so that the writer's class stays private to the
// library),
// routes finished log lines into the writer's queue, and answers the viewer's
// queries on the caller's thread. Reached only through instance(); deleted by
// release(), which first puts standard output back as the log destination so
// that no line can reach the writer being destroyed.
class vxSysLog : public QObject, public vx_singleton_sys<vxSysLog>
{
    Q_OBJECT
    friend class vx_singleton_sys<vxSysLog>;

public:
    // Binds the logger output to the writer's queue, then starts the writer.
    void init();

    RecordList queryByDay(QString day, int type);
    RecordList queryByRange(QString start, QString end, int type);

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

} // namespace SystemLog
