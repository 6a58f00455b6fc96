#include <vxSyslog/DatabaseFailure.h>

#include <QSqlError>

namespace SystemLog {

namespace {

// SQLite's primary result codes (sqlite3.h); the low byte of an extended code
// is its primary code.
enum SqlitePrimaryCode {
    kSqliteBusy = 5,
    kSqliteLocked = 6,
    kSqliteReadOnly = 8,
    kSqliteIoErr = 10,
    kSqliteCorrupt = 11,
    kSqliteFull = 13,
    kSqliteCantOpen = 14,
    kSqliteNotADb = 26,
};

// Qt's driver fills nativeErrorCode() for statement errors but not for every
// failed open, so the text is the fallback.
FailureKind failureKindOfText(const QString& text)
{
    const QString lower = text.toLower();
    if (lower.contains(QLatin1String("file is not a database")))
        return FailureKind::NotADatabase;
    if (lower.contains(QLatin1String("database is locked")) || lower.contains(QLatin1String("database table is locked")))
        return FailureKind::Locked;
    if (lower.contains(QLatin1String("database or disk is full")))
        return FailureKind::DiskFull;
    if (lower.contains(QLatin1String("unable to open database file")))
        return FailureKind::CannotOpen;
    if (lower.contains(QLatin1String("readonly database")))
        return FailureKind::ReadOnly;
    if (lower.contains(QLatin1String("malformed")))
        return FailureKind::Corrupt;
    if (lower.contains(QLatin1String("no such table")) || lower.contains(QLatin1String("no such column")))
        return FailureKind::NotALogDatabase;
    return FailureKind::Other;
}

} // namespace

FailureKind failureKindOfSqliteCode(int code)
{
    switch (code & 0xff) {
    case kSqliteBusy:
    case kSqliteLocked:
        return FailureKind::Locked;
    case kSqliteReadOnly:
        return FailureKind::ReadOnly;
    case kSqliteCorrupt:
        return FailureKind::Corrupt;
    case kSqliteFull:
        return FailureKind::DiskFull;
    case kSqliteCantOpen:
        return FailureKind::CannotOpen;
    case kSqliteNotADb:
        return FailureKind::NotADatabase;
    case kSqliteIoErr:
    default:
        return FailureKind::Other;
    }
}

FailureKind failureKindOf(const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber);
    if (isNumber && code != 0) {
        const FailureKind kind = failureKindOfSqliteCode(code);
        if (kind != FailureKind::Other)
            return kind;
    }
    return failureKindOfText(error.text());
}

QString failureKindText(FailureKind kind)
{
    switch (kind) {
    case FailureKind::NotADatabase:
        return QStringLiteral("文件不是数据库");
    case FailureKind::NotALogDatabase:
        return QStringLiteral("文件不是日志数据库（没有可用的 SystemInfo 表）");
    case FailureKind::Missing:
        return QStringLiteral("数据库文件不存在");
    case FailureKind::Locked:
        return QStringLiteral("数据库被其他程序锁定，请稍后再试");
    case FailureKind::CannotOpen:
        return QStringLiteral("无法打开数据库文件");
    case FailureKind::DiskFull:
        return QStringLiteral("磁盘已满或数据库已达到大小上限");
    case FailureKind::ReadOnly:
        return QStringLiteral("数据库文件只读，无法写入");
    case FailureKind::Corrupt:
        return QStringLiteral("数据库文件已损坏");
    case FailureKind::Other:
        break;
    }
    return QStringLiteral("数据库操作失败");
}

QString describeFailure(FailureKind kind, const QString& detail)
{
    const QString sentence = failureKindText(kind);
    const QString trimmed = detail.trimmed();
    if (trimmed.isEmpty())
        return sentence;
    return sentence + QStringLiteral("（数据库信息：%1）").arg(trimmed);
}

QString describeFailure(const QSqlError& error)
{
    return describeFailure(failureKindOf(error), error.text());
}

} // namespace SystemLog
