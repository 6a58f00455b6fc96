#include "FindCandidates.h"

#include <algorithm>

#include <vxSyslog/LogReader.h>

FindCandidates::FindCandidates(const QStringList& files, const QString& text, const std::function<bool()>& stop)
{
    for (const QString& file : files) {
        Machine machine;
        SystemLog::LogReader reader(file);
        reader.setStopCheck(stop);
        if (!reader.open() || !reader.messageCandidates(text, machine.ids, machine.indexedUpTo, machine.answered))
            machine.answered = false;
        m_narrows = m_narrows || machine.answered;
        m_machines.push_back(std::move(machine));
    }
}

bool FindCandidates::mayHold(const RecordKeys::Snapshot& keys, int record) const
{
    if (RecordKeys::isGapKind(keys.kind(record)))
        return true;
    const std::size_t place = std::size_t(keys.machine(record));
    if (place >= m_machines.size() || !m_machines[place].answered)
        return true;
    const Machine& machine = m_machines[place];
    const qint64 id = keys.id(record);
    return id > machine.indexedUpTo || std::binary_search(machine.ids.begin(), machine.ids.end(), id);
}
