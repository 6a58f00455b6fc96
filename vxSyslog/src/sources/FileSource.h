#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <vxSyslog/LogSource.h>

#include "sources/Locations.h"

namespace SystemLog {

// One log file or several merged into one timeline (LogSource states the
// order and the failure rule). Each file has a LogReader of its own. A
// merged read takes one record (or one key, the reader's key cursor) at a
// time from each file and always hands on the earliest, so nothing beyond
// one per file is held; a merged listing lets every file's read transaction
// go each slice, so no file's writer waits for this reader longer than one
// slice. One file is read by its reader as it is: records and blocks that
// name no machine.
class FileSource : public LogSource
{
public:
    explicit FileSource(const std::vector<Locations::File>& files);
    ~FileSource() override;

    void setBusyTimeout(int milliseconds) override;
    void setRollsBackCutOffWrites(bool rollsBack) override;
    void setStopCheck(const std::function<bool()>& stopRequested) override;
    bool open() override;
    QStringList machines() const override;
    bool namesMachines() const override { return m_parts.size() > 1; }
    QStringList files() const override;

    bool read(const LogQuery& query, const RecordSink& sink) override;
    bool count(const LogQuery& query, qint64& result) override;
    bool countPerDayAndType(const LogQuery& query, const DayTypeSink& sink) override;
    bool span(const LogQuery& query, Span& result) override;
    std::unique_ptr<SourceTail> tail(const LogQuery& query, SourceTail::NoticeSink notices) override;

    bool newestIds(QVector<qint64>& ids) override;
    bool countListed(const LogQuery& query, qint64& result) override;
    bool readKeys(const LogQuery& query, const KeySink& sink) override;
    bool readBlocks(const LogQuery& query, const BlockSink& sink) override;
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts) override;
    bool fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
               const FetchSink& sink) override;
    bool fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink) override;

    void interrupt() override;

private:
    struct Part;
    class Tail;

    // A part that failed is left out from then on and named among the
    // problems; a source of one file reports its reader's reason alone.
    bool partFailed(Part& part);
    // Runs `call` on every readable part with the query of its machine.
    // False when any failed.
    bool eachPart(const LogQuery& query, const std::function<bool(Part&, const LogQuery&)>& call);
    bool mergeRead(const LogQuery& query, const RecordSink& sink);
    bool lastWindowStart(const LogQuery& query, std::vector<LogQuery>& own);
    // The keys of every part merged, each with the reader it came from.
    bool mergeKeys(const LogQuery& query, const std::function<bool(const ListedKey&, LogReader&)>& sink);

    std::vector<std::unique_ptr<Part>> m_parts;
    std::function<bool()> m_stopCheck;
    std::atomic<bool> m_interrupted{false};
};

} // namespace SystemLog
