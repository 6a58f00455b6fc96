#pragma once

#include <QString>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Why the log service gave logged lines up. Every drop record the service
// stores (a record of type 4, "其他信息") names one reason, and flush()
// counts the lines given up per reason.
enum class DropReason {
    QueueFull,   // lines came faster than the log could store them
    DiskFull,    // the disk, or the database's size limit, was full
    Locked,      // another program held the file's lock past every wait
    IoError,     // the disk failed a read or a write
    Unwritable,  // the file or its folder cannot be opened for writing
    Refused,     // the file is not a log database, so it is never written
    Other,       // any other failure of the database
};

constexpr int kDropReasonCount = 7;

// The reason in Chinese, as the drop records and the service's notice on
// standard error say it, for example "磁盘已满或数据库已达到大小上限".
VXSYSLOG_EXPORT QString dropReasonText(DropReason reason);

} // namespace SystemLog
