#pragma once

#include <QString>

#include <vxSyslog/AlarmReport.h>

#include "report/ReportTally.h"

namespace SystemLog {

class PgSource;

// A report's counts from the fleet's central table, every one counted by
// the server (GROUP BY and window functions), so that what crosses the
// network is the counts, never the records: records per 10-minute period,
// machine and type; per type; the most frequent texts; the chattering ones
// per machine. The pattern is PostgreSQL's regular expression there (~, or
// ~* without case): it agrees with vxlog's for plain texts and the usual
// constructs (. * + ? | [ ] ( ) \d \s \w {n,m}).
bool countInDatabase(PgSource& source, AlarmReport& report, ReportTexts& texts, QString& error);

} // namespace SystemLog
