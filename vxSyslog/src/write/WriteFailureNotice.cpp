#include "write/WriteFailureNotice.h"


#include <cstdio>
#include <mutex>

namespace SystemLog {
namespace WriteFailureNotice {

namespace {

// UTF-8, like every message of this system's programs; the locale's codec is
// a global object of Qt's that may be gone while the process exits.
void print(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

QString nativeSeparators(const QString& path)
{
#ifdef _WIN32
    return QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
#else
    return path;
#endif
}

} // namespace

void linesGivenUp(const QString& path, DropReason reason, const QString& why)
{
    // Never destroyed: lines may be given up during the process's exit.
    static std::mutex* const mutex = new std::mutex;
    static QString* const lastPath = new QString;
    static int lastReason = -1;
    {
        std::lock_guard<std::mutex> lock(*mutex);
        if (*lastPath == path && lastReason == static_cast<int>(reason))
            return;
        *lastPath = path;
        lastReason = static_cast<int>(reason);
    }
    print(QStringLiteral("无法写入日志数据库 %1：%2；日志行被丢弃").arg(nativeSeparators(path), why));
}

void linesSetAside(const QString& path, const QString& why, std::uint64_t lines, const QString& sideFile)
{
    print(QStringLiteral("日志数据库 %1 暂时无法写入（%2）：%3 条日志行已保存在 %4，下一个写入这个数据库的程序会把它们写入")
              .arg(nativeSeparators(path), why)
              .arg(lines)
              .arg(nativeSeparators(sideFile)));
}

void linesLost(const QString& path, const QString& why, std::uint64_t lines)
{
    print(QStringLiteral("日志数据库 %1 无法写入（%2），也无法在旁边保存计数：%3 条日志行已丢失，没有留下其他记录")
              .arg(nativeSeparators(path), why)
              .arg(lines));
}

void fileMoved(const QString& path, bool deleted)
{
    print(deleted ? QStringLiteral("日志文件 %1 被删除：之后的日志行写入在原路径重新建立的文件").arg(nativeSeparators(path))
                  : QStringLiteral("日志文件 %1 被替换：之后的日志行写入现在位于该路径的文件").arg(nativeSeparators(path)));
}

} // namespace WriteFailureNotice
} // namespace SystemLog
