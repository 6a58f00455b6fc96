#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "RecordKeys.h"

// The listed records a find must read: those whose message the text index of
// their log says may hold the text, the ones it does not cover yet, and
// every drop record (whose shown text is not its message). Only for a text
// that cannot touch a record's first line (PaneSearch::mayTouchHeader):
// every other record then holds no occurrence at all. A log without a usable
// index leaves every one of its records to be read.
class FindCandidates
{
public:
    // The logs of the listing's machines (by place), read with the stop check.
    FindCandidates(const QStringList& files, const QString& text, const std::function<bool()>& stop);

    // Whether the index helped at all.
    bool narrows() const { return m_narrows; }
    bool mayHold(const RecordKeys::Snapshot& keys, int record) const;

private:
    struct Machine
    {
        bool answered = false;
        qint64 indexedUpTo = 0;
        std::vector<qint64> ids;
    };
    std::vector<Machine> m_machines;
    bool m_narrows = false;
};
