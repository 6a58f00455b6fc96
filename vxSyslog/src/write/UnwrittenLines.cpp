#include "write/UnwrittenLines.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace SystemLog {

namespace {

const char kHeader[] = "vxSyslog unwritten lines 1\n";
const char kClaimMark[] = ".taking-";

QByteArray encode(const std::list<tag_MsgItem>& rows)
{
    QByteArray out(kHeader);
    for (const tag_MsgItem& row : rows) {
        const QByteArray text = row.message.toUtf8();
        out += QByteArray::number(qint64(row.loggedAt)) + ' ' + QByteArray::number(row.type) + ' '
            + QByteArray::number(text.size()) + '\n' + text + '\n';
    }
    out += "end " + QByteArray::number(qulonglong(rows.size())) + '\n';
    return out;
}

// Reads the next whole line (without its line feed) from `at`.
bool nextLine(const QByteArray& in, int& at, QByteArray& line)
{
    const int end = in.indexOf('\n', at);
    if (end < 0)
        return false;
    line = in.mid(at, end - at);
    at = end + 1;
    return true;
}

bool decode(const QByteArray& in, std::list<tag_MsgItem>& rows)
{
    if (!in.startsWith(kHeader))
        return false;
    int at = int(std::strlen(kHeader));
    QByteArray line;
    while (nextLine(in, at, line)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2 && fields[0] == "end")
            return at == in.size() && fields[1].toULongLong() == rows.size();
        if (fields.size() != 3)
            return false;
        bool ok[3] = {};
        const qint64 loggedAt = fields[0].toLongLong(&ok[0]);
        const int type = fields[1].toInt(&ok[1]);
        const int length = fields[2].toInt(&ok[2]);
        if (!ok[0] || !ok[1] || !ok[2] || length < 0 || at + length >= in.size() || in.at(at + length) != '\n')
            return false;
        rows.push_back(tag_MsgItem{QString::fromUtf8(in.constData() + at, length), type, std::time_t(loggedAt)});
        at += length + 1;
    }
    return false;
}

// "<pid>-<msecs>-<n>": three runs of digits.
bool isSideFileSuffix(const QString& suffix)
{
    const QStringList parts = suffix.split(QLatin1Char('-'));
    if (parts.size() != 3)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty())
            return false;
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
    }
    return true;
}

// Writes and syncs a whole file with the C library alone: this runs while
// the process exits, when Qt's global objects may already be gone.
bool writeWhole(const std::string& path, const QByteArray& bytes, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size())
        && std::fflush(file) == 0;
#ifdef Q_OS_UNIX
    ok = ok && ::fsync(::fileno(file)) == 0;
#endif
    if (!ok)
        error = std::strerror(errno);
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

void syncFolderOf(const std::string& path)
{
#ifdef Q_OS_UNIX
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, std::max<std::size_t>(slash, 1));
    const int fd = ::open(folder.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    (void)path;
#endif
}

} // namespace

UnwrittenLines::UnwrittenLines(const QString& databasePath)
    : m_databasePath(databasePath)
    , m_nativePath(QFile::encodeName(databasePath).toStdString())
{
}

bool UnwrittenLines::save(const std::list<tag_MsgItem>& rows)
{
    static std::atomic<int> s_sequence{0};
    const auto msecs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    const std::string suffix = "-unwritten-" + std::to_string(QCoreApplication::applicationPid()) + '-'
        + std::to_string(msecs) + '-' + std::to_string(s_sequence.fetch_add(1));
    const std::string name = m_nativePath + suffix;
    const std::string part = name + ".part";
    std::string error;
    if (!writeWhole(part, encode(rows), error) || std::rename(part.c_str(), name.c_str()) != 0) {
        if (error.empty())
            error = std::strerror(errno);
        std::remove(part.c_str());
        m_error = QString::fromUtf8(error.c_str());
        return false;
    }
    syncFolderOf(name);
    m_savedPath = m_databasePath + QString::fromLatin1(suffix.c_str());
    return true;
}

bool UnwrittenLines::claimNext(std::list<tag_MsgItem>& rows)
{
    const QFileInfo database(m_databasePath);
    // Never made absolute here: a relative path stays relative to the
    // working directory (vxLogDB resolves what can be resolved).
    QDir folder = database.dir();
    const QString prefix = database.fileName() + QStringLiteral("-unwritten-");
    QStringList waiting;
    for (const QString& name : folder.entryList(QDir::Files, QDir::Unsorted))
        if (name.startsWith(prefix) && isSideFileSuffix(name.mid(prefix.size())))
            waiting << name;
    std::sort(waiting.begin(), waiting.end());
    for (const QString& name : waiting) {
        const QString claimed = folder.filePath(name + QLatin1String(kClaimMark)
                                                + QString::number(QCoreApplication::applicationPid()));
        // Another writer may have claimed it first; then the rename fails.
        if (!folder.rename(name, claimed))
            continue;
        QFile file(claimed);
        std::list<tag_MsgItem> read;
        if (file.open(QIODevice::ReadOnly) && decode(file.readAll(), read)) {
            rows = std::move(read);
            m_claimedName = folder.filePath(name);
            m_claimedPath = claimed;
            return true;
        }
        file.close();
        QFile::rename(claimed, folder.filePath(name) + QStringLiteral(".unreadable"));
    }
    return false;
}

void UnwrittenLines::finishClaim(bool stored)
{
    if (m_claimedPath.isEmpty())
        return;
    if (stored)
        QFile::remove(m_claimedPath);
    else
        QFile::rename(m_claimedPath, m_claimedName);
    m_claimedPath.clear();
    m_claimedName.clear();
}

} // namespace SystemLog
