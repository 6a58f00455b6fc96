#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

#include <vxSyslog/ListingSource.h>

#include "sources/Locations.h"

namespace SystemLog {

// One log file or several as one listing (ListingSource states the order
// and the failure rule). Each file has a LogReader of its own; a
// merged listing takes one key at a time from each (LogReader's key
// cursor) and always hands on the earliest, so nothing beyond one key per
// file is held; every slice all cursors pause, so no file's writer waits
// for this reader longer than one slice. One file is read by its reader
// as it is, its blocks naming no machine.
class FileListing : public ListingSource
{
public:
    explicit FileListing(const std::vector<Locations::File>& files);
    ~FileListing() override;

    void setBusyTimeout(int milliseconds) override;
    bool open() override;
    QStringList machines() const override;
    bool namesMachines() const override { return m_parts.size() > 1; }
    QStringList files() const override;
    bool newestIds(QVector<qint64>& ids) override;
    bool countListed(const LogQuery& query, qint64& result) override;
    bool readKeys(const LogQuery& query, const KeySink& sink) override;
    bool readBlocks(const LogQuery& query, const BlockSink& sink) override;
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts) override;
    bool fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
               const FetchSink& sink) override;
    bool fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink) override;
    void interrupt() override;
    FailureKind failureKind() const override { return m_kind; }
    QString errorText() const override { return m_error; }
    QStringList problems() const override { return m_problems; }

private:
    struct Part;

    // Runs `call` on every readable part with the query of its machine; a
    // part that fails is named and left out from then on. False when any
    // failed.
    bool eachPart(const LogQuery& query, const std::function<bool(Part&, const LogQuery&)>& call);
    bool partFailed(Part& part);
    // The keys of every part merged, each with the reader it came from.
    bool mergeKeys(const LogQuery& query,
                   const std::function<bool(const ListedKey&, LogReader&)>& sink);

    std::vector<std::unique_ptr<Part>> m_parts;
    std::atomic<bool> m_interrupted{false};
    FailureKind m_kind = FailureKind::Other;
    QString m_error;
    QStringList m_problems;
};

} // namespace SystemLog
