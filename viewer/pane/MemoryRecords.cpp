#include "MemoryRecords.h"

#include <algorithm>

MemoryRecords::MemoryRecords(const SystemLog::RecordList& records)
    : m_records(records)
    , m_isNotice(false)
{
}

MemoryRecords::MemoryRecords(const QString& notice)
    : m_notice(notice)
    , m_isNotice(true)
{
}

int MemoryRecords::count() const
{
    return m_isNotice ? 1 : m_records.size();
}

int MemoryRecords::blockLength(int record) const
{
    if (m_isNotice)
        return m_notice.size();
    const auto& pair = m_records.at(record);
    return pair.first.size() + 2 + pair.second.size();
}

// Without building the whole block: a message can be huge.
QString MemoryRecords::blockSlice(int record, int from, int length)
{
    if (m_isNotice)
        return m_notice.mid(from, length);
    const auto& pair = m_records.at(record);
    const int headLength = pair.first.size() + 2;
    if (from >= headLength)
        return pair.second.mid(from - headLength, length);
    const QString head = pair.first + QStringLiteral(":\n");
    return head.mid(from, length) + pair.second.leftRef(std::max(0, length - (headLength - from)));
}

void MemoryRecords::blockInto(int record, QString& block)
{
    block.resize(0);
    if (m_isNotice) {
        block += m_notice;
        return;
    }
    const auto& pair = m_records.at(record);
    block += pair.first;
    block += QLatin1String(":\n");
    block += pair.second;
}
