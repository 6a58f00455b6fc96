#pragma once

#include <QString>
#include <QtGlobal>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// How much room a log database takes: the file, the free pages inside it
// (read from the file's SQLite header, so nothing is opened or locked), and
// the files beside it that belong to it (its rollback journal or WAL, and
// the side files of lines a program could not store), and its text index
// (TextIndex.h) with that index's journal.
struct DiskUsage
{
    qint64 fileBytes = 0;
    qint64 freeBytes = 0;   // pages SQLite keeps for reuse; a vacuum gives them back
    qint64 besideBytes = 0; // dbLog.db-journal, -wal, -shm, -unwritten-…
    qint64 indexBytes = 0;  // dbLog.db-index, -index-journal
};

// False with `error` set when the file cannot be read or is not an SQLite file.
VXSYSLOG_EXPORT bool readDiskUsage(const QString& path, DiskUsage& usage, QString& error);

} // namespace SystemLog
