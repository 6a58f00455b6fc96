#pragma once

#include <QByteArray>
#include <QString>

#include <deque>

// The batches `vxlog store` has confirmed to rsyslog but could not store
// yet (the database away, a privilege or table missing, its disk full),
// one file per batch in a folder of their own, in the order they came.
// Durability: a batch is written to a new file, synced, renamed into place
// and the folder synced before append() returns, so that a confirmed batch
// survives a crash or a power cut. A batch is removed only after it is
// stored; one stored again after a crash changes nothing (the table's key).
// Order: oldest() is always the batch that came first.
// One process at a time: open() takes an exclusive lock on the folder's
// "lock" file and fails while another process holds it.
class BatchSpool
{
public:
    BatchSpool() = default;
    ~BatchSpool();
    BatchSpool(const BatchSpool&) = delete;
    BatchSpool& operator=(const BatchSpool&) = delete;

    // Makes the folder (mode 0700) when it is missing; false with `error`.
    bool open(const QString& folder, QString& error);

    bool isEmpty() const { return m_batches.empty(); }
    int size() const { return int(m_batches.size()); }
    QString folder() const { return m_folder; }

    bool append(const QByteArray& batch, QString& error);
    bool oldest(QByteArray& batch, QString& error) const;
    // The oldest batch's file is no longer there (removed by someone else):
    // nothing of it can be stored, and it must not hold up the batches after it.
    bool oldestIsGone() const;
    QString oldestPath() const { return pathOf(m_batches.front()); }
    void removeOldest();

private:
    QString pathOf(quint64 number) const;

    QString m_folder;
    int m_lock = -1;
    std::deque<quint64> m_batches;
};
