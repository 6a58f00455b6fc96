#include <vxSyslog/DiskUsage.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vxSyslog/TextIndex.h>

namespace SystemLog {

namespace {

// The fields of SQLite's 100-byte database header that tell the free pages.
constexpr int kHeaderSize = 100;
constexpr int kPageSizeOffset = 16;
constexpr int kFreelistCountOffset = 36;

quint32 bigEndian(const QByteArray& bytes, int offset, int length)
{
    quint32 value = 0;
    for (int i = 0; i < length; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    return value;
}

qint64 besideBytes(const QFileInfo& file)
{
    qint64 total = 0;
    const QString name = file.fileName();
    const QStringList patterns{name + QStringLiteral("-journal"), name + QStringLiteral("-wal"),
                               name + QStringLiteral("-shm"), name + QStringLiteral("-unwritten-*")};
    for (const QFileInfo& beside : file.dir().entryInfoList(patterns, QDir::Files | QDir::Hidden))
        total += beside.size();
    return total;
}

qint64 indexBytes(const QString& path)
{
    const QString index = TextIndex::pathFor(path);
    return QFileInfo(index).size() + QFileInfo(index + QStringLiteral("-journal")).size();
}

} // namespace

bool readDiskUsage(const QString& path, DiskUsage& usage, QString& error)
{
    usage = DiskUsage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    const QFileInfo info(path);
    usage.fileBytes = file.size();
    usage.besideBytes = besideBytes(info);
    usage.indexBytes = indexBytes(path);
    if (usage.fileBytes == 0)
        return true;  // SQLite takes an empty file for an empty database
    const QByteArray header = file.read(kHeaderSize);
    if (header.size() < kHeaderSize || !header.startsWith(QByteArrayLiteral("SQLite format 3\0"))) {
        error = QStringLiteral("%1 不是 SQLite 数据库文件").arg(QDir::toNativeSeparators(path));
        return false;
    }
    quint32 pageSize = bigEndian(header, kPageSizeOffset, 2);
    if (pageSize == 1)
        pageSize = 65536;
    usage.freeBytes = static_cast<qint64>(bigEndian(header, kFreelistCountOffset, 4)) * pageSize;
    return true;
}

} // namespace SystemLog
