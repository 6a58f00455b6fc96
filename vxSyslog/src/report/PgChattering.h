#pragma once

#include <QByteArray>

#include <vector>

#include <vxSyslog/AlarmReport.h>

namespace SystemLog {

class PgSource;

// A machine's chattering text on the fleet's table: its bursts, and its
// count and example over the whole period.
struct ChatterRow
{
    QByteArray host;
    QByteArray key;
    QByteArray example;
    qint64 count = 0;
    qint64 bursts = 0;
};

// Times of one machine in which its bursts can lie: whole 10-minute
// periods, neighbours joined.
struct Span
{
    QByteArray host;
    QByteArray since;
    QByteArray until;
    qint64 lastPeriod;
};
// The spans of the report's cells, each machine's in time order, and how
// many records they hold (`records`).
std::vector<Span> burstSpans(const AlarmReport& report, qint64& records);

// The chattering texts of the report's request, counted by the server on
// the source's connection, given the report's cells (records per machine
// and period), from which it reads only the periods that can hold a burst
// while they are few. False: the source's errorText() says why.
bool countChattering(PgSource& source, const AlarmReport& report, std::vector<ChatterRow>& rows);

} // namespace SystemLog
