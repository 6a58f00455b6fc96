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

} // namespace DayExport
} // namespace SystemLog
