#pragma once

#include <QString>
#include <QtGlobal>

#include <vxSyslog/vxSyslogExport.h>

// A record as a listing of the viewer shows it, copies it and exports it.
// One type listed: "time:\nmessage" (recordBlock). Several: the type after
// the time, "2026-12-09 06:00:00 [报警记录]:\n主轴温度过高"; several machines:
// the machine after the time. A drop record (a gap) says what is missing in
// place of its stored text.
namespace SystemLog {

// The record type code the log service stores its drop records under.
constexpr int kGapRecordType = 4;

// Whether a message of type kGapRecordType is a drop record, as the log
// service writes them ("日志过多：已丢弃 N 条…", "日志写入失败（原因）：已丢弃 …").
VXSYSLOG_EXPORT bool isGapMessage(const QString& message);
VXSYSLOG_EXPORT bool isGapMessage(const char* utf8, int length);
// The two texts a drop record begins with, for a SQL condition.
VXSYSLOG_EXPORT const char* gapMessagePrefix(int index);
constexpr int kGapMessagePrefixCount = 2;

// "此期间有 1,234 条日志未能写入：原因（from 至 to）" for a drop record's text.
VXSYSLOG_EXPORT QString gapText(const QString& message);

// A count with digit grouping, "1,234,567", as every count is shown.
VXSYSLOG_EXPORT QString groupedCount(qint64 count);

// Records and drop records (gaps) of a listing, counted apart: a drop record
// shown among alarms is no alarm. "57 条", "57 条 · 2 处空缺".
VXSYSLOG_EXPORT QString countText(qint64 records, qint64 gaps);

// The block of one listed record; `typeName` is used when `namesType`, and
// a `machine` that is not empty follows the time stamp
// ("2026-12-09 06:00:00 plc-7 [报警记录]:\n…").
VXSYSLOG_EXPORT QString listingBlock(const QString& datetime, bool namesType, const QString& typeName,
                                     const QString& message, bool gap, const QString& machine = QString());

} // namespace SystemLog
