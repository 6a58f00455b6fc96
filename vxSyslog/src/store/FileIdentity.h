#pragma once

#include <QString>
#include <QtGlobal>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// What tells the file now at a path from another that has replaced it
// (deleted and created again, or renamed over it).
// Exported for the reading library, which follows files and greps too.
struct VXSYSLOG_EXPORT FileIdentity
{
    bool exists = false;
    quint64 device = 0;
    quint64 node = 0;  // the inode; on systems without one, the birth time

    static FileIdentity of(const QString& path);

    bool isSameFileAs(const FileIdentity& other) const
    {
        return exists && other.exists && device == other.device && node == other.node;
    }
};

} // namespace SystemLog
