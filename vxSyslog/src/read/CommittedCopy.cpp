#include <vxSyslog/CommittedCopy.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <vxSyslog/DatabaseFailure.h>

namespace SystemLog {

namespace {

bool copyFile(const QString& from, const QString& to, QString& error)
{
    QFile source(from);
    if (!source.copy(to)) {
        error = QStringLiteral("无法复制 %1：%2").arg(QFileInfo(from).fileName(), chineseSystemError(source.errorString()));
        return false;
    }
    return true;
}

} // namespace

QString CommittedCopy::noteText()
{
    return QStringLiteral("此文件上次写入时被中断：显示的是最后一次完整写入的内容（从副本读取，文件本身未改动）");
}

std::shared_ptr<CommittedCopy> CommittedCopy::make(const QString& path, QString& error)
{
    std::shared_ptr<CommittedCopy> copy(new CommittedCopy);
    copy->m_original = path;
    copy->m_dir = std::make_unique<QTemporaryDir>();
    if (!copy->m_dir->isValid()) {
        error = QStringLiteral("无法创建临时文件夹：%1").arg(chineseSystemError(copy->m_dir->errorString()));
        return nullptr;
    }
    // The journal's name must follow the database's for SQLite to find it.
    copy->m_path = copy->m_dir->filePath(QStringLiteral("dbLog.db"));
    if (!copyFile(path, copy->m_path, error))
        return nullptr;
    for (const char* suffix : {"-journal", "-wal"}) {
        const QString side = path + QLatin1String(suffix);
        if (QFileInfo::exists(side) && !copyFile(side, copy->m_path + QLatin1String(suffix), error))
            return nullptr;
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

CommittedCopy::~CommittedCopy() = default;

} // namespace SystemLog
