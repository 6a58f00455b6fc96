#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

#include <vxSyslog/RecordSource.h>

namespace SystemLog {

// One log database file or several, merged into one timeline (RecordSource
// states the order and the failure rule). Each file has a LogReader of its
// own; a merged read steps one cursor per file and always hands on the
// earliest head, so no record is held beyond one per file.
class FileSource : public RecordSource
{
public:
    struct File
    {
        QByteArray host;
        QString path;
    };

    explicit FileSource(const std::vector<File>& files);
    ~FileSource() override;

    bool open() override;
    bool read(const LogQuery& filter, const LogReader::RecordSink& sink) override;
    bool count(const LogQuery& filter, qint64& result) override;
    bool countPerDayAndType(const LogQuery& filter, const LogReader::DayTypeSink& sink) override;
    bool span(const LogQuery& filter, LogReader::Span& result) override;
    void setStopCheck(const std::function<bool()>& stopRequested) override;
    bool namesHosts() const override { return m_files.size() > 1; }
    QStringList files() const override;
    std::unique_ptr<SourceTail> tail(const LogQuery& filter, SourceTail::NoticeSink notices) override;

private:
    struct Part;
    class Tails;

    // `upToIds`, when given, bounds each file's ids (by its place in the list).
    bool mergeRead(const LogQuery& filter, const LogReader::RecordSink& sink,
                   const std::vector<qint64>& upToIds = std::vector<qint64>());
    bool lastWindowStart(const LogQuery& filter, std::vector<LogQuery>& filters);
    // Runs `call` on every readable part; a part that fails is named and
    // dropped. False when any failed.
    bool eachPart(const std::function<bool(Part&)>& call);

    std::vector<File> m_files;
    std::vector<std::unique_ptr<Part>> m_parts;
    std::function<bool()> m_stopCheck;
};

} // namespace SystemLog
