#pragma once

#include <QtGlobal>

namespace SystemLog {

// The size of the next batch of a vacuum step (rows, ids or pages), grown
// while a transaction holds the write lock for well under the budget and
// shrunk when one takes longer, so that no transaction holds it much longer
// than the budget on a fast disk or a slow one.
class BatchSizer
{
public:
    BatchSizer(qint64 first, qint64 largest, qint64 budgetMs)
        : m_size(first)
        , m_largest(largest)
        , m_budgetMs(budgetMs)
    {
    }

    qint64 size() const { return m_size; }

    void took(qint64 ms)
    {
        if (ms * 2 < m_budgetMs)
            m_size = qMin(m_size * 2, m_largest);
        else if (ms > m_budgetMs)
            m_size = qMax<qint64>(1, m_size / 2);
    }

private:
    qint64 m_size;
    qint64 m_largest;
    qint64 m_budgetMs;
};

} // namespace SystemLog
