#pragma once

#include <QByteArray>

#include <vector>

#include <vxSyslog/AlarmReport.h>

#include "sources/PgSource.h"

// The pieces the report's statements on the fleet's table share.
namespace SystemLog {
namespace PgReportSql {

using Row = std::vector<QByteArray>;
using Nulls = std::vector<bool>;

// A field of a streamed row kept past the call that handed it over.
QByteArray copyOf(const QByteArray& field);

// " FROM fleet_log WHERE …" for the request, the pattern included; its
// parameters follow those `statement` has so far.
QByteArray fromWhere(PgSource& source, const AlarmReport::Request& request, PgStatement& statement, bool withTypes);

// `where` (fromWhere's) narrowed by `condition`.
QByteArray narrowed(const QByteArray& where, const QByteArray& condition);

// What a text is counted by: the text, or its shape when numbers are
// merged; texts compare by their bytes, as the files' reports compare them.
QByteArray keyOf(const AlarmReport::Request& request);

// keyOf as k, and the stored text as example when numbers are merged (else
// the key is the text and example NULL).
QByteArray textColumns(const AlarmReport::Request& request);

// The settings every connection of a report starts with.
PgStatement sessionSettings();

} // namespace PgReportSql
} // namespace SystemLog
