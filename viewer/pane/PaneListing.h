#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include <vxSyslog/CommittedCopy.h>
#include <vxSyslog/LogQuery.h>

#include "LogSources.h"
#include "RecordKeys.h"

// What the result pane lists, for work on the listing as a whole beside the
// pane (a CSV file, a print, a record's detail): where its records are read
// (the machines fixed by the listing; a rolled-back copy of a file whose
// last write was cut off, kept alive by `copy` for as long as this is), the
// query, and the keys as they are now, in the pane's order.
struct PaneListing
{
    LogSources sources;
    SystemLog::LogQuery query;
    RecordKeys::Snapshot keys;
    std::shared_ptr<SystemLog::CommittedCopy> copy;
    QStringList machines; // by a key's machine

    bool namesMachines() const { return machines.size() > 1; }
    QString machineOf(int record) const { return machines.value(keys.machine(record)); }
    // The records and the drop records (gaps) among them.
    qint64 gapCount() const
    {
        qint64 gaps = 0;
        for (int record = 0; record < keys.count(); ++record)
            gaps += RecordKeys::isGapKind(keys.kind(record)) ? 1 : 0;
        return gaps;
    }
};
