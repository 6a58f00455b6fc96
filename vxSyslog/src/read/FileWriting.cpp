#include "read/FileWriting.h"

#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>

namespace SystemLog {
namespace FileWriting {

QString failureText(const QFileDevice& file)
{
    const QString system = file.errorString();
    const struct {
        int code;
        const char* sentence;
    } known[] = {
        {ENOSPC, "磁盘已满"},
        {EDQUOT, "磁盘配额已满"},
        {EFBIG, "文件超过系统允许的大小"},
        {EROFS, "磁盘只读"},
        {EACCES, "没有写入权限"},
        {EPERM, "没有写入权限"},
        {EIO, "磁盘读写出错"},
    };
    for (const auto& fault : known)
        if (system == qt_error_string(fault.code))
            return QStringLiteral("%1（%2）").arg(QString::fromUtf8(fault.sentence), system);
    return system;
}

bool writeAll(QFileDevice& file, const QByteArray& bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

bool isSpecialFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile() && !info.isDir();
}

} // namespace FileWriting
} // namespace SystemLog
