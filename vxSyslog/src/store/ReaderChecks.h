#pragma once

#include <QString>
#include <QStringList>

#include <vxSyslog/DatabaseFailure.h>

namespace SystemLog {

// What the module's readers (LogReader, LogReader) decide alike about
// a file they are given.

// The kind of a failed SQLite call from its extended result code and, where
// the code says nothing more (a table or column missing), its message.
FailureKind failureKindOfSqliteError(int code, const QString& message);

// Whether PRAGMA table_info(SystemInfo) named (in lower case) every column a
// reader needs. The writer asks for more: exactly these four, in order.
inline bool holdsLogColumns(const QStringList& lowerCaseColumns)
{
    for (const char* needed : {"id", "datetime", "type", "message"}) {
        if (!lowerCaseColumns.contains(QLatin1String(needed)))
            return false;
    }
    return true;
}

} // namespace SystemLog
