#pragma once

#include <QString>

#include <vxSyslog/RecordList.h>

#include "PaneRecords.h"

// Records the pane was handed whole (a RecordList), or one notice text.
class MemoryRecords : public PaneRecords
{
public:
    explicit MemoryRecords(const SystemLog::RecordList& records);
    explicit MemoryRecords(const QString& notice);

    int count() const override;
    int blockLength(int record) const override;
    QString blockSlice(int record, int from, int length) override;
    void blockInto(int record, QString& block) override;

private:
    SystemLog::RecordList m_records;
    QString m_notice;
    bool m_isNotice;
};
