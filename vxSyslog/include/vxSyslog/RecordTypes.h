#pragma once

#include <QString>
#include <QStringList>

#include <vxSyslog/vxSyslogExport.h>

// The five record types every log record carries, as the int code stored in
// the `type` column and the fixed Chinese caption an operator reads. The
// viewer's lists, the command-line tool and its output formats all take the
// captions from here so that they never drift apart.
namespace SystemLog {

constexpr int kRecordTypeCount = 5;

// The caption of a code 0..4 ("参数修改记录" ... "其他信息"); an empty text for
// any other code, which no program of this system writes.
VXSYSLOG_EXPORT QString recordTypeCaption(int type);

// All five captions, the caption of code n at index n.
VXSYSLOG_EXPORT QStringList recordTypeCaptions();

// The code whose caption is exactly `caption`, or -1.
VXSYSLOG_EXPORT int recordTypeOfCaption(const QString& caption);

// The ASCII name of a code 0..4 ("param", "user", "status", "alarm", "info"),
// for command lines and for systems that take no Chinese (a syslog MSGID);
// an empty text for any other code.
VXSYSLOG_EXPORT QString recordTypeAsciiName(int type);

// The code whose ASCII name is `name` in any case, or -1.
VXSYSLOG_EXPORT int recordTypeOfAsciiName(const QString& name);

} // namespace SystemLog
