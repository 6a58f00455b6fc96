#include "BatchSpool.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "WriteAll.h"

namespace {

const char kSuffix[] = ".batch";

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2：%3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return synced;
}

} // namespace

BatchSpool::~BatchSpool()
{
    if (m_lock >= 0)
        ::close(m_lock);  // also releases the lock
}

bool BatchSpool::open(const QString& folder, QString& error)
{
    m_folder = QDir(folder).absolutePath();
    if (!QDir().mkpath(m_folder)) {
        error = QStringLiteral("无法创建暂存文件夹 %1").arg(m_folder);
        return false;
    }
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString lockPath = m_folder + QStringLiteral("/lock");
    m_lock = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock < 0) {
        error = systemError(QStringLiteral("无法打开"), lockPath);
        return false;
    }
    if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        error = QStringLiteral("暂存文件夹 %1 正被另一个 vxlog store 使用").arg(m_folder);
        return false;
    }
    for (const QString& name : QDir(m_folder).entryList({QStringLiteral("*") + QLatin1String(kSuffix)}, QDir::Files)) {
        bool isNumber = false;
        const quint64 number = name.chopped(int(sizeof kSuffix) - 1).toULongLong(&isNumber);
        if (isNumber)
            m_batches.push_back(number);
    }
    std::sort(m_batches.begin(), m_batches.end());
    return true;
}

QString BatchSpool::pathOf(quint64 number) const
{
    return QStringLiteral("%1/%2%3").arg(m_folder).arg(number, 12, 10, QLatin1Char('0')).arg(QLatin1String(kSuffix));
}

bool BatchSpool::append(const QByteArray& batch, QString& error)
{
    const quint64 number = m_batches.empty() ? 1 : m_batches.back() + 1;
    const QString temporary = m_folder + QStringLiteral("/new.tmp");
    const int fd = ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemError(QStringLiteral("无法写入暂存文件"), temporary);
        return false;
    }
    const bool written = writeAll(fd, batch) && ::fsync(fd) == 0;
    if (!written)
        error = systemError(QStringLiteral("无法写入暂存文件"), temporary);
    ::close(fd);
    if (!written)
        return false;
    const QString path = pathOf(number);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0
        || !syncFolder(m_folder)) {
        error = systemError(QStringLiteral("无法写入暂存文件"), path);
        return false;
    }
    m_batches.push_back(number);
    return true;
}

bool BatchSpool::oldest(QByteArray& batch, QString& error) const
{
    QFile file(pathOf(m_batches.front()));
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("无法读取暂存文件 %1：%2").arg(file.fileName(), file.errorString());
        return false;
    }
    batch = file.readAll();
    return true;
}

bool BatchSpool::oldestIsGone() const
{
    struct stat status {};
    return ::lstat(QFile::encodeName(pathOf(m_batches.front())).constData(), &status) != 0 && errno == ENOENT;
}

void BatchSpool::removeOldest()
{
    QFile::remove(pathOf(m_batches.front()));
    m_batches.pop_front();
}
