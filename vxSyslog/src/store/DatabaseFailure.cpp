#include <vxSyslog/DatabaseFailure.h>

#include "store/ReaderChecks.h"

#include <QCoreApplication>
#include <QSqlError>

#include <algorithm>
#include <cerrno>

namespace SystemLog {

namespace {

// SQLite's primary result codes (sqlite3.h); the low byte of an extended code
// is its primary code.
enum SqlitePrimaryCode {
    kSqliteBusy = 5,
    kSqliteLocked = 6,
    kSqliteReadOnly = 8,
    kSqliteInterrupt = 9,
    kSqliteIoErr = 10,
    kSqliteCorrupt = 11,
    kSqliteFull = 13,
    kSqliteCantOpen = 14,
    kSqliteNotADb = 26,
};

// Extended codes of a read-only connection that meets a write cut off in the
// middle: a hot rollback journal, or a WAL file that needs recovery.
enum SqliteExtendedCode {
    kSqliteReadOnlyRecovery = kSqliteReadOnly | (1 << 8),
    kSqliteReadOnlyRollback = kSqliteReadOnly | (3 << 8),
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
    if (code == kSqliteReadOnlyRecovery || code == kSqliteReadOnlyRollback)
        return FailureKind::InterruptedWrite;
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
    case kSqliteInterrupt:
        return FailureKind::Interrupted;
    case kSqliteIoErr:
    default:
        return FailureKind::Other;
    }
}

FailureKind failureKindOfSqliteError(int code, const QString& message)
{
    const FailureKind kind = failureKindOfSqliteCode(code);
    return kind != FailureKind::Other ? kind : failureKindOfText(message);
}

FailureKind failureKindOf(const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber);
    return failureKindOfSqliteError(isNumber ? code : 0, error.text());
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
    case FailureKind::InterruptedWrite:
        return QStringLiteral("数据库上次写入时被中断，需要先恢复，而这里不写入或无法写入该文件；"
                              "请以可以写入该文件的用户对它运行一次 vxlog stats --db 该文件（会自动恢复），之后即可读取");
    case FailureKind::Interrupted:
        return QStringLiteral("操作已中断");
    case FailureKind::InvalidPattern:
        return QStringLiteral("筛选条件不是有效的正则表达式");
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

namespace {

struct SystemErrorText
{
    int code;
    const char* chinese;
};

// What the operator of this system meets when a file or an output fails.
const SystemErrorText kSystemErrorTexts[] = {
    {ENOENT, "文件或文件夹不存在"},
    {EACCES, "没有访问权限"},
    {EPERM, "不允许此操作"},
    {ENOSPC, "磁盘已满"},
    {EDQUOT, "磁盘配额已用完"},
    {EFBIG, "文件超过系统允许的大小"},
    {EROFS, "文件系统只读"},
    {ENOTDIR, "路径中有一部分不是文件夹"},
    {EISDIR, "这是一个文件夹"},
    {EEXIST, "文件已存在"},
    {ENAMETOOLONG, "文件名过长"},
    {ELOOP, "符号链接层数过多"},
    {EMFILE, "打开的文件过多"},
    {ENFILE, "系统中打开的文件过多"},
    {EIO, "磁盘读写出错"},
    {EPIPE, "输出的读取端已关闭"},
    {EBADF, "输出已关闭"},
    {EBUSY, "设备或资源正忙"},
    {ENXIO, "设备不存在"},
    {ENOMEM, "内存不足"},
    {EINTR, "被信号中断"},
    {EAGAIN, "资源暂时不可用"},
    {EINVAL, "参数无效"},
};

} // namespace

QString chineseSystemError(const QString& systemText)
{
    const QString original = systemText.trimmed();
    // Texts the system gives are English; anything else is already translated.
    const bool english = std::all_of(original.begin(), original.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (original.isEmpty() || !english)
        return original;
    const QByteArray ascii = original.toLatin1();
    QString chinese = QCoreApplication::translate("QIODevice", ascii.constData());
    if (chinese == original) {
        chinese.clear();
        for (const SystemErrorText& known : kSystemErrorTexts) {
            if (original == qt_error_string(known.code)) {
                chinese = QString::fromUtf8(known.chinese);
                break;
            }
        }
    }
    return chinese.isEmpty() ? original : QStringLiteral("%1（%2）").arg(chinese, original);
}

QString chineseSystemError(int errorCode)
{
    return chineseSystemError(qt_error_string(errorCode));
}

} // namespace SystemLog
