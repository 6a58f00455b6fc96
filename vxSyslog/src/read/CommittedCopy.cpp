#include <vxSyslog/CommittedCopy.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#ifndef Q_OS_UNIX
#include <QLockFile>
#endif
#include <QStorageInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <vxSyslog/DatabaseFailure.h>

#include "store/FileIdentity.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace SystemLog {

namespace {

const QString kFolderPrefix = QStringLiteral("vxSyslog-copy-");
const QString kOwnerLock = QStringLiteral("owner.lock");
const char* const kSideSuffixes[] = {"-journal", "-wal"};
// Room left beside the copy: SQLite rolls back in place, but the file
// system needs a little for the folder and the lock.
constexpr qint64 kSpareBytes = 1 << 20;

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1);
}

qint64 bytesToCopy(const QString& path)
{
    qint64 bytes = QFileInfo(path).size();
    for (const char* suffix : kSideSuffixes)
        bytes += QFileInfo(path + QLatin1String(suffix)).size();
    return bytes;
}

// What a reader can do about a copy that cannot be made in the temporary folder.
QString noRoomText(const QString& path, const QString& why, qint64 needed)
{
    return QStringLiteral("无法为 %1 制作只读副本（此文件上次写入时被中断，只能从副本读取）：%2。"
                          "副本需要 %3 的空间，放在临时文件夹 %4 中；"
                          "可以用环境变量 TMPDIR 指定空间足够的另一个文件夹后重新打开（例如 TMPDIR=/var/tmp）")
        .arg(QFileInfo(path).fileName(), why, sizeText(needed), QDir::toNativeSeparators(QDir::tempPath()));
}

// "vxSyslog-copy-<pid>-XXXXXX" of a process that still runs (or may: one
// that is not ours to ask).
bool ownerMayRun(const QString& folderName)
{
#ifdef Q_OS_UNIX
    const QString pidText = folderName.mid(kFolderPrefix.size()).section(QLatin1Char('-'), 0, 0);
    bool isNumber = false;
    const qint64 pid = pidText.toLongLong(&isNumber);
    if (!isNumber || pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
#else
    (void)folderName;
    return true;
#endif
}

// In chunks of our own rather than QFile::copy(), whose error says only
// that a block could not be written, not why (a full disk, a size limit).
bool copyFile(const QString& from, const QString& to, QString& error)
{
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("无法读取：%1").arg(chineseSystemError(source.errorString()));
        return false;
    }
    // Unbuffered: a failed write keeps the system's reason.
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = chineseSystemError(target.errorString());
        return false;
    }
    QByteArray chunk;
    while (!source.atEnd()) {
        chunk = source.read(1 << 20);
        if (chunk.isEmpty() && source.error() != QFileDevice::NoError) {
            error = QStringLiteral("无法读取：%1").arg(chineseSystemError(source.errorString()));
            return false;
        }
        // A write cut short (a size limit, the last free block) is
        // repeated for the rest, which fails with the reason.
        for (qint64 done = 0; done < chunk.size();) {
            const qint64 written = target.write(chunk.constData() + done, chunk.size() - done);
            if (written <= 0) {
                error = chineseSystemError(target.errorString());
                return false;
            }
            done += written;
        }
    }
    if (!target.flush()) {
        error = chineseSystemError(target.errorString());
        return false;
    }
    return true;
}

} // namespace

// The lock that says a copy's process still runs: an flock() on the folder's
// lock file, which the system lets go when the process ends, also by a kill
// (no process ids to be reused, no stale lock to judge). Elsewhere QLockFile.
class CommittedCopy::OwnerLock
{
public:
    ~OwnerLock()
    {
#ifdef Q_OS_UNIX
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }

    // Takes the lock at `path`; false when another process holds it or it
    // cannot be made. With `create` a new lock file appears only locked:
    // made and locked under another name, then renamed.
    bool take(const QString& path, bool create)
    {
#ifdef Q_OS_UNIX
        const QByteArray name = QFile::encodeName(path);
        const QByteArray made = create ? name + ".new" : name;
        m_fd = ::open(made.constData(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600);
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            return false;
        return !create || ::rename(made.constData(), name.constData()) == 0;
#else
        (void)create;
        m_lock = std::make_unique<QLockFile>(path);
        m_lock->setStaleLockTime(0);
        return m_lock->tryLock(0);
#endif
    }

private:
#ifdef Q_OS_UNIX
    int m_fd = -1;
#else
    std::unique_ptr<QLockFile> m_lock;
#endif
};

QString CommittedCopy::noteText()
{
    return QStringLiteral("此文件上次写入时被中断：显示的是最后一次完整写入的内容（从副本读取，文件本身未改动）");
}

QString CommittedCopy::stateOf(const QString& path)
{
    QString state;
    for (const QString& file : {path, path + QLatin1String(kSideSuffixes[0]), path + QLatin1String(kSideSuffixes[1])}) {
        const FileIdentity identity = FileIdentity::of(file);
        const QFileInfo info(file);
        state += QStringLiteral("%1:%2:%3:%4:%5;")
                     .arg(identity.exists)
                     .arg(identity.device)
                     .arg(identity.node)
                     .arg(info.size())
                     .arg(info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0);
    }
    return state;
}

bool CommittedCopy::isCurrent(const QString& path) const
{
    return QFileInfo(path).absoluteFilePath() == QFileInfo(m_original).absoluteFilePath() && stateOf(path) == m_originalState;
}

int CommittedCopy::removeAbandoned()
{
    int removed = 0;
    const QDir temp(QDir::tempPath());
    for (const QFileInfo& folder : temp.entryInfoList({kFolderPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        // A lock that is free to take belongs to a process that is gone:
        // the copy is nobody's. Never by age: a viewer may show a file for
        // days. A folder without its lock yet is left while the process
        // its name gives runs (it is about to make it).
        const QString lockPath = QDir(folder.filePath()).filePath(kOwnerLock);
        if (!QFileInfo::exists(lockPath) && ownerMayRun(folder.fileName()))
            continue;
        OwnerLock owner;
        if (QFileInfo::exists(lockPath) && !owner.take(lockPath, false))
            continue;
        if (QDir(folder.filePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

std::shared_ptr<CommittedCopy> CommittedCopy::make(const QString& path, QString& error)
{
    removeAbandoned();
    const qint64 needed = bytesToCopy(path);
    const QStorageInfo room(QDir::tempPath());
    if (room.isValid() && room.bytesAvailable() >= 0 && room.bytesAvailable() < needed + kSpareBytes) {
        error = noRoomText(path, QStringLiteral("只剩 %1").arg(sizeText(room.bytesAvailable())), needed);
        return nullptr;
    }
    std::shared_ptr<CommittedCopy> copy(new CommittedCopy);
    copy->m_original = path;
    copy->m_originalState = stateOf(path);
    copy->m_dir = std::make_unique<QTemporaryDir>(
        QDir(QDir::tempPath()).filePath(kFolderPrefix + QString::number(QCoreApplication::applicationPid()) + QStringLiteral("-XXXXXX")));
    if (!copy->m_dir->isValid()) {
        error = noRoomText(path, QStringLiteral("无法创建文件夹：%1").arg(chineseSystemError(copy->m_dir->errorString())), needed);
        return nullptr;
    }
    copy->m_owner = std::make_unique<OwnerLock>();
    if (!copy->m_owner->take(copy->m_dir->filePath(kOwnerLock), true)) {
        error = noRoomText(path, QStringLiteral("无法在其中写入文件"), needed);
        return nullptr;
    }
    // The journal's name must follow the database's for SQLite to find it.
    copy->m_path = copy->m_dir->filePath(QStringLiteral("dbLog.db"));
    QString why;
    if (!copyFile(path, copy->m_path, why)) {
        error = noRoomText(path, why, needed);
        return nullptr;
    }
    for (const char* suffix : kSideSuffixes) {
        const QString side = path + QLatin1String(suffix);
        if (QFileInfo::exists(side) && !copyFile(side, copy->m_path + QLatin1String(suffix), why)) {
            error = noRoomText(path, why, needed);
            return nullptr;
        }
    }
    // The first read through a writable connection rolls the cut-off write back.
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(copy->m_path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    const QString detail = rc == SQLITE_OK ? QString() : QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        error = describeFailure(failureKindOfSqliteCode(rc), detail);
        return nullptr;
    }
    return copy;
}

// The folder goes while it is still locked, so that no other process
// takes it for abandoned half way.
CommittedCopy::~CommittedCopy()
{
#ifdef Q_OS_UNIX
    m_dir.reset();
#endif
    m_owner.reset();
    m_dir.reset();
}

} // namespace SystemLog
