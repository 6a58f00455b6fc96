#include "store/VacuumTurn.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif

namespace SystemLog {

namespace {

// Whether `pidText` names a process that no longer runs.
bool ownerIsGone(const std::string& pidText)
{
#ifdef Q_OS_UNIX
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(pidText.c_str(), &end, 10);
    if (errno != 0 || end == pidText.c_str() || pid <= 0)
        return false;  // half written, or not ours to judge: taken as alive
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
#else
    (void)pidText;
    return false;
#endif
}

} // namespace

VacuumTurn::VacuumTurn(const QString& databasePath)
    : m_path(pathFor(databasePath))
{
}

VacuumTurn::~VacuumTurn()
{
    release();
}

std::string VacuumTurn::pathFor(const QString& databasePath)
{
    return QFile::encodeName(databasePath).toStdString() + "-vacuum-turn";
}

void VacuumTurn::request()
{
    if (m_requested)
        return;
    // Written aside and renamed, so that a writer never reads half a number.
    const std::string part = m_path + '.' + std::to_string(QCoreApplication::applicationPid());
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (!file)
        return;
    const std::string pid = std::to_string(QCoreApplication::applicationPid()) + '\n';
    const bool written = std::fwrite(pid.data(), 1, pid.size(), file) == pid.size();
    if (std::fclose(file) == 0 && written && std::rename(part.c_str(), m_path.c_str()) == 0)
        m_requested = true;
    else
        std::remove(part.c_str());
}

void VacuumTurn::release()
{
    if (!m_requested)
        return;
    std::remove(m_path.c_str());
    m_requested = false;
}

bool VacuumTurn::requested(const std::string& turnPath)
{
    std::FILE* file = std::fopen(turnPath.c_str(), "rb");
    if (!file)
        return false;
    char text[32] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    if (ownerIsGone(std::string(text, length))) {
        std::remove(turnPath.c_str());
        return false;
    }
    return true;
}

} // namespace SystemLog
