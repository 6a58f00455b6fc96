#include "write/UnwrittenLines.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace SystemLog {

namespace {

const char kClaimMark[] = ".taking-";
const char kUnreadableMark[] = ".unreadable";

bool allDigits(const std::string& text, std::size_t from, std::size_t to)
{
    if (from >= to)
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// "<pid>-<msecs>-<n>": three runs of digits.
bool isSideFileSuffix(const std::string& suffix)
{
    const std::size_t first = suffix.find('-');
    const std::size_t second = first == std::string::npos ? first : suffix.find('-', first + 1);
    return second != std::string::npos && allDigits(suffix, 0, first) && allDigits(suffix, first + 1, second)
        && allDigits(suffix, second + 1, suffix.size());
}

// A process that claimed a file and is gone: its claim is void.
bool processIsGone(const std::string& pidText)
{
#ifdef Q_OS_UNIX
    if (pidText.empty() || pidText.size() > 9 || !allDigits(pidText, 0, pidText.size()))
        return false;
    const long pid = std::stol(pidText);
    if (pid <= 0 || pid == QCoreApplication::applicationPid())
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
#else
    (void)pidText;
    return false;
#endif
}

// Writes and syncs a whole file with the C library alone: this runs while
// the process exits, when Qt's global objects may already be gone.
bool writeWhole(const std::string& path, const std::list<tag_MsgItem>& rows, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = SideFileReader::write(file, rows) && std::fflush(file) == 0;
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
{
    setDatabasePath(databasePath);
}

UnwrittenLines::~UnwrittenLines()
{
    giveBack();
}

void UnwrittenLines::setDatabasePath(const QString& databasePath)
{
    giveBack();
    m_databasePath = databasePath;
    m_nativePath = QFile::encodeName(databasePath).toStdString();
}

bool UnwrittenLines::save(const std::list<tag_MsgItem>& rows)
{
    static std::atomic<int> s_sequence{0};
    const auto msecs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    const std::string suffix = "-unwritten-" + std::to_string(QCoreApplication::applicationPid()) + '-' + std::to_string(msecs) + '-'
        + std::to_string(s_sequence.fetch_add(1));
    const std::string name = m_nativePath + suffix;
    const std::string part = name + ".part";
    std::string error;
    if (!writeWhole(part, rows, error) || std::rename(part.c_str(), name.c_str()) != 0) {
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

bool UnwrittenLines::claimNext()
{
    giveBack();
    namespace fs = std::filesystem;
    const fs::path database(m_nativePath);
    // Never made absolute here: a relative path stays relative to the
    // working directory (vxLogDB resolves what can be resolved).
    const fs::path folder = database.has_parent_path() ? database.parent_path() : fs::path(".");
    const std::string prefix = database.filename().string() + "-unwritten-";
    std::vector<std::pair<std::string, std::string>> found;  // own name, name as found
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = name.substr(prefix.size());
        const std::size_t mark = rest.find(kClaimMark);
        if (mark == std::string::npos) {
            if (isSideFileSuffix(rest))
                found.emplace_back(name, name);
        } else if (isSideFileSuffix(rest.substr(0, mark)) && processIsGone(rest.substr(mark + std::strlen(kClaimMark)))) {
            found.emplace_back(name.substr(0, prefix.size() + mark), name);
        }
    }
    std::sort(found.begin(), found.end());
    const std::string claimMark = kClaimMark + std::to_string(QCoreApplication::applicationPid());
    for (const auto& [own, asFound] : found) {
        const std::string claimedPath = (folder / (own + claimMark)).string();
        // Another writer may have claimed it first; then the rename fails.
        if (std::rename((folder / asFound).string().c_str(), claimedPath.c_str()) != 0)
            continue;
        m_claimedName = own;
        m_claimedPath = claimedPath;
        m_waitingPath = (folder / own).string();
        if (m_reader.open(m_claimedPath) && m_reader.validate())
            return true;
        setAsideUnreadable();
    }
    return false;
}

bool UnwrittenLines::skip(std::uint64_t rows)
{
    std::list<tag_MsgItem> passed;
    while (claimed() && m_reader.rowsRead() < rows) {
        passed.clear();
        const std::uint64_t left = rows - m_reader.rowsRead();
        if (!readBatch(passed, std::size_t(std::min<std::uint64_t>(left, 1000)), std::size_t(-1)))
            break;
    }
    // At the end of the file the next readBatch says so.
    return claimed();
}

bool UnwrittenLines::readBatch(std::list<tag_MsgItem>& rows, std::size_t maxRows, std::size_t maxBytes)
{
    std::size_t bytes = 0;
    while (claimed() && rows.size() < maxRows && bytes < maxBytes) {
        tag_MsgItem row;
        switch (m_reader.next(row)) {
        case SideFileReader::Step::Row:
            bytes += std::size_t(row.message.size()) * sizeof(QChar);
            rows.push_back(std::move(row));
            break;
        case SideFileReader::Step::End:
            return !rows.empty();
        case SideFileReader::Step::Bad:
            // The file changed after it was checked: what was stored stays
            // stored (and recorded), the rest is left for a person.
            rows.clear();
            setAsideUnreadable();
            return false;
        }
    }
    return !rows.empty();
}

void UnwrittenLines::finishClaim()
{
    if (!claimed())
        return;
    m_reader.close();
    std::remove(m_claimedPath.c_str());
    m_claimedPath.clear();
    m_waitingPath.clear();
}

void UnwrittenLines::giveBack()
{
    if (m_claimedPath.empty())
        return;
    m_reader.close();
    std::rename(m_claimedPath.c_str(), m_waitingPath.c_str());
    m_claimedPath.clear();
    m_waitingPath.clear();
}

void UnwrittenLines::setAsideUnreadable()
{
    m_reader.close();
    std::rename(m_claimedPath.c_str(), (m_waitingPath + kUnreadableMark).c_str());
    m_claimedPath.clear();
    m_waitingPath.clear();
}

} // namespace SystemLog
