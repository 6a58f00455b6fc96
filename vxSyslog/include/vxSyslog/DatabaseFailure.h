#pragma once

#include <QString>

#include <vxSyslog/vxSyslogExport.h>

class QSqlError;

namespace SystemLog {

// Why an operation on a log database failed, sorted into the cases an operator
// can act on. Every reader and writer of dbLog.db (the viewer, the command-line
// tool, the writer thread) reports failures through describeFailure(), so the
// same fault reads the same everywhere: a Chinese sentence first, then the
// database's own text for the technician.
enum class FailureKind {
    NotADatabase,     // the file is not an SQLite database at all
    NotALogDatabase,  // an SQLite database, but without a usable SystemInfo table
    Missing,          // the file does not exist (readers never create it)
    Locked,           // another program holds a lock past the busy timeout
    CannotOpen,       // the file or its folder cannot be opened
    DiskFull,         // the disk or the database's size limit is full
    ReadOnly,         // the file or the connection is read-only
    Corrupt,          // the file is damaged
    InterruptedWrite, // a write was cut off (hot journal) and this reader may not roll it back
    Interrupted,      // the caller's stop check ended the operation
    InvalidPattern,   // the grep pattern is not a valid regular expression
    Other,
};

// The kind of an SQLite result code, primary or extended (SQLITE_BUSY,
// SQLITE_NOTADB, SQLITE_FULL, ...). 0 and unknown codes are Other.
VXSYSLOG_EXPORT FailureKind failureKindOfSqliteCode(int code);

// The kind of a Qt SQL error from the QSQLITE driver, read from its native
// error code and, where the driver leaves that empty, from its text.
VXSYSLOG_EXPORT FailureKind failureKindOf(const QSqlError& error);

// One Chinese sentence for the kind, without a full stop, for example
// "文件不是数据库".
VXSYSLOG_EXPORT QString failureKindText(FailureKind kind);

// "<Chinese sentence>（数据库信息：<detail>）", or the sentence alone when
// detail is empty.
VXSYSLOG_EXPORT QString describeFailure(FailureKind kind, const QString& detail);
VXSYSLOG_EXPORT QString describeFailure(const QSqlError& error);

// A system error text (strerror's, or a Qt file's errorString()) inside a
// Chinese message: the Chinese text followed by the original, for example
// "设备中已没有剩余空间（No space left on device）". Qt's own translation is
// used where an installed catalogue has one, the module's otherwise; a text
// neither knows comes back as it is.
VXSYSLOG_EXPORT QString chineseSystemError(const QString& systemText);
VXSYSLOG_EXPORT QString chineseSystemError(int errorCode);

} // namespace SystemLog
