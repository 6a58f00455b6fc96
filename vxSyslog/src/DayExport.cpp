#include <vxSyslog/DayExport.h>

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <vxSyslog/RecordBlock.h>

namespace SystemLog {
namespace DayExport {

QString filePath(const QString& folder, const QString& day)
{
    return folder + QDir::separator() + day + QStringLiteral("系统日志.txt");
}

namespace {

// Flushes the stream and closes the file; false if any byte did not make it.
bool finishFile(QTextStream& stream, QFile& file)
{
    stream.flush();
    const bool streamOk = stream.status() == QTextStream::Ok;
    file.close();
    return streamOk && file.error() == QFileDevice::NoError;
}

} // namespace

Outcome writeRecords(const QString& path, const RecordList& records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return {Status::OpenFailed, file.errorString()};

    QTextStream stream(&file);
    for (const auto& record : records)
        stream << recordBlock(record);

    if (!finishFile(stream, file))
        return {Status::WriteFailed, file.errorString()};
    return {Status::Written, QString()};
}

QString outcomeText(const Outcome& outcome, const QString& path)
{
    switch (outcome.status) {
    case Status::Written:
        return QStringLiteral("数据导出完成，路径如下：\n%1").arg(path);
    case Status::OpenFailed:
        return QStringLiteral("无法创建导出文件，路径如下：\n%1\n原因：%2").arg(path, outcome.reason);
    case Status::WriteFailed:
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
