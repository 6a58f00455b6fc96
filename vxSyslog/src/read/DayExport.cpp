#include <vxSyslog/DayExport.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextCodec>

#include <memory>

#include <vxSyslog/RecordBlock.h>
#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/LogSource.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/LogReader.h>

#include "read/FileWriting.h"

namespace SystemLog {
namespace DayExport {

QString filePath(const QString& folder, const QString& day)
{
    return folder + QDir::separator() + day + QStringLiteral("系统日志.txt");
}

namespace {

using FileWriting::writeAll;
using FileWriting::isSpecialFile;

QString reasonOf(const QFileDevice& file)
{
    return FileWriting::failureText(file);
}

// Encodes blocks in the locale's encoding (what a text stream writes, without
// a byte-order mark) and writes them in chunks.
class BlockWriter
{
public:
    explicit BlockWriter(QFileDevice& file)
        : m_file(file)
        , m_encoder(QTextCodec::codecForLocale()->makeEncoder(QTextCodec::IgnoreHeader))
    {
    }

    bool add(const QString& block)
    {
        m_chunk += m_encoder->fromUnicode(block);
        if (!block.endsWith(QLatin1Char('\n')))
            m_chunk += m_encoder->fromUnicode(QStringLiteral("\n"));
        ++m_blocks;
        if (m_chunk.size() < kChunk)
            return true;
        return flush();
    }

    bool flush()
    {
        const bool written = writeAll(m_file, m_chunk);
        m_chunk.clear();
        return written;
    }

    qint64 blocks() const { return m_blocks; }

private:
    static constexpr int kChunk = 64 * 1024;
    QFileDevice& m_file;
    const std::unique_ptr<QTextEncoder> m_encoder;
    QByteArray m_chunk;
    qint64 m_blocks = 0;
};

// Fills an open file with the export's blocks; returns Written or the failure.
using Filler = std::function<Outcome(QFileDevice& file)>;

Filler fillWithRecords(const RecordList& records)
{
    return [&records](QFileDevice& file) -> Outcome {
        BlockWriter writer(file);
        for (const auto& record : records)
            if (!writer.add(recordBlock(record)))
                return {Status::WriteFailed, reasonOf(file)};
        if (!writer.flush())
            return {Status::WriteFailed, reasonOf(file)};
        return {Status::Written, QString(), writer.blocks()};
    };
}

Filler fillFromBlocks(const BlockReader& readBlocks, const Progress& progress)
{
    return [&readBlocks, &progress](QFileDevice& file) -> Outcome {
        constexpr qint64 kRecordsBetweenReports = 4096;
        BlockWriter writer(file);
        Outcome stop{Status::Written, QString()};
        qint64 written = 0;
        QString reason;
        const bool read = readBlocks([&](const QString& block) {
            if (!writer.add(block)) {
                stop = {Status::WriteFailed, reasonOf(file)};
                return false;
            }
            if (++written % kRecordsBetweenReports == 0 && progress && !progress(written)) {
                stop = {Status::Cancelled, QString()};
                return false;
            }
            return true;
        }, reason);
        if (stop.status != Status::Written)
            return stop;
        if (!read)
            return {Status::ReadFailed, reason};
        if (!writer.flush())
            return {Status::WriteFailed, reasonOf(file)};
        return {Status::Written, QString(), writer.blocks()};
    };
}

Outcome writeInPlace(const QString& path, const Filler& fill)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return {Status::OpenFailed, reasonOf(file)};
    const Outcome filled = fill(file);
    if (filled.status != Status::Written)
        return filled;
    file.close();
    if (file.error() != QFileDevice::NoError)
        return {Status::WriteFailed, reasonOf(file)};
    return filled;
}

// Written beside the target and renamed over it only when every byte made it,
// so a failed export (a full disk) leaves an earlier file as it was and no
// partial or empty file behind.
Outcome writeFile(const QString& path, const Filler& fill)
{
    if (isSpecialFile(path))
        return writeInPlace(path, fill);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return {Status::OpenFailed, reasonOf(file)};
    const Outcome filled = fill(file);
    if (filled.status != Status::Written) {
        file.cancelWriting();
        return filled;
    }
    if (!file.commit())
        return {Status::WriteFailed, reasonOf(file)};
    return filled;
}

} // namespace

Outcome writeRecords(const QString& path, const RecordList& records)
{
    return writeFile(path, fillWithRecords(records));
}

Outcome writeQuery(const QString& path, LogReader& reader, const LogQuery& query, const Progress& progress)
{
    return writeBlocks(
        path,
        [&](const BlockSink& sink, QString& reason) {
            const bool read = reader.readBlocks(query, sink);
            reason = read ? QString() : reader.failureText();
            return read;
        },
        progress);
}

Outcome writeBlocks(const QString& path, const BlockReader& readBlocks, const Progress& progress)
{
    return writeFile(path, fillFromBlocks(readBlocks, progress));
}

LogQuery dayListing(const QString& day, const QVector<int>& types)
{
    LogQuery query;
    query.types = types;
    query.since = dayStart(day);
    query.until = dayEnd(day);
    query.withGaps = true;
    return query;
}

bool fixAndCount(LogSource& reader, LogQuery& query, Count& count)
{
    if (!reader.newestIds(query.upToIds))
        return false;
    LogQuery gaps = query;
    gaps.onlyGaps = true;
    return reader.countListed(query, count.blocks) && reader.countListed(gaps, count.gaps);
}

Outcome writeListing(const QString& path, LogSource& reader, const LogQuery& query, const Progress& progress)
{
    return writeBlocks(
        path,
        [&](const BlockSink& sink, QString& reason) {
            const bool read = reader.readBlocks(query, sink);
            reason = read ? QString() : reader.errorText();
            return read;
        },
        progress);
}

QString outcomeText(const Outcome& outcome, const QString& path, qint64 gaps)
{
    switch (outcome.status) {
    case Status::Written:
        return QStringLiteral("数据导出完成，路径如下：\n%1\n共导出 %2").arg(path, countText(outcome.blocks - gaps, gaps));
    case Status::OpenFailed:
        return QStringLiteral("无法创建导出文件，路径如下：\n%1\n原因：%2").arg(path, outcome.reason);
    case Status::Cancelled:
        return QStringLiteral("导出已取消，没有写入文件，路径如下：\n%1").arg(path);
    case Status::WriteFailed:
    case Status::ReadFailed:
        break;
    }
    return QStringLiteral("数据导出失败，路径如下：\n%1\n原因：%2").arg(path, outcome.reason);
}

QString noRecordsText(const QString& day)
{
    return QStringLiteral("%1没用记录可以导出").arg(day);
}

QString queryFailedText(const QString& day, const QString& reason)
{
    return QStringLiteral("%1的记录查询失败，无法导出：%2").arg(day, reason);
}

} // namespace DayExport
} // namespace SystemLog
