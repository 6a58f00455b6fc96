#include <vxSyslog/ListingExport.h>

#include <QFile>
#include <QSaveFile>

#include <memory>
#include <optional>
#include <vector>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/LogSource.h>
#include <vxSyslog/RecordFormat.h>

#include "format/Utf8.h"
#include "read/FileWriting.h"

namespace SystemLog {
namespace ListingExport {

namespace {

using DayExport::Status;

constexpr int kBatch = 512;
constexpr int kChunkBytes = 64 * 1024;

// A record of the batch, its texts copied out of the reader's row and made
// valid UTF-8.
LogRecord keptRecord(const LogRecord& read)
{
    LogRecord record = read;
    record.datetime = validUtf8(QByteArray(read.datetime.constData(), read.datetime.size()));
    record.message = validUtf8(QByteArray(read.message.constData(), read.message.size()));
    record.host = validUtf8(QByteArray(read.host.constData(), read.host.size()));
    record.typeText = QByteArray(read.typeText.constData(), read.typeText.size());
    return record;
}

Outcome fill(QFileDevice& file, LogSource& source, int count, const KeyAt& keyAt, bool namesMachines,
             const DayExport::Progress& progress)
{
    Outcome outcome;
    const RecordLabels labels{namesMachines, false};
    QByteArray chunk("\xEF\xBB\xBF");
    appendFormatHeader(RecordFormat::Csv, labels, chunk);
    std::vector<int> machines;
    std::vector<qint64> ids;
    std::vector<std::optional<LogRecord>> batch;
    for (int first = 0; first < count; first += kBatch) {
        const int size = std::min(kBatch, count - first);
        machines.resize(std::size_t(size));
        ids.resize(std::size_t(size));
        for (int i = 0; i < size; ++i) {
            const Key key = keyAt(first + i);
            machines[std::size_t(i)] = key.machine;
            ids[std::size_t(i)] = key.id;
        }
        batch.assign(std::size_t(size), std::nullopt);
        const bool read = source.fetchRecords(machines.data(), ids.data(), size, [&batch](int index, const LogRecord& record) {
            batch[std::size_t(index)] = keptRecord(record);
        });
        if (!read)
            return {Status::ReadFailed, source.errorText(), outcome.written};
        for (const std::optional<LogRecord>& record : batch) {
            if (!record)
                continue;
            appendRecord(RecordFormat::Csv, labels, *record, chunk);
            ++outcome.written;
        }
        if (chunk.size() >= kChunkBytes) {
            if (!FileWriting::writeAll(file, chunk))
                return {Status::WriteFailed, FileWriting::failureText(file), outcome.written};
            chunk.clear();
        }
        if (progress && !progress(outcome.written))
            return {Status::Cancelled, QString(), outcome.written};
    }
    if (!FileWriting::writeAll(file, chunk))
        return {Status::WriteFailed, FileWriting::failureText(file), outcome.written};
    return outcome;
}

} // namespace

// Written beside the target and renamed over it only when every byte made it
// (a special file, such as a link to a terminal, in place).
Outcome writeCsv(const QString& path, LogSource& source, int count, const KeyAt& keyAt, bool namesMachines,
                 const DayExport::Progress& progress)
{
    if (FileWriting::isSpecialFile(path)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return {Status::OpenFailed, FileWriting::failureText(file), 0};
        const Outcome filled = fill(file, source, count, keyAt, namesMachines, progress);
        file.close();
        if (filled.status == Status::Written && file.error() != QFileDevice::NoError)
            return {Status::WriteFailed, FileWriting::failureText(file), filled.written};
        return filled;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {Status::OpenFailed, FileWriting::failureText(file), 0};
    const Outcome filled = fill(file, source, count, keyAt, namesMachines, progress);
    if (filled.status != Status::Written) {
        file.cancelWriting();
        return filled;
    }
    if (!file.commit())
        return {Status::WriteFailed, FileWriting::failureText(file), filled.written};
    return filled;
}

QString outcomeText(const Outcome& outcome, const QString& path)
{
    switch (outcome.status) {
    case Status::Written:
        return QStringLiteral("已将 %1 条记录导出为 CSV 文件，路径如下：\n%2").arg(groupedCount(outcome.written), path);
    case Status::OpenFailed:
        return QStringLiteral("无法创建 CSV 文件，路径如下：\n%1\n原因：%2").arg(path, outcome.reason);
    case Status::Cancelled:
        return QStringLiteral("导出已取消，没有写入文件，路径如下：\n%1").arg(path);
    case Status::WriteFailed:
    case Status::ReadFailed:
        break;
    }
    return QStringLiteral("CSV 导出失败，没有写入文件，路径如下：\n%1\n原因：%2").arg(path, outcome.reason);
}

} // namespace ListingExport
} // namespace SystemLog
