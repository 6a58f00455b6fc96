#pragma once

// Sends the process's standard output (file descriptor 1) into a file for the
// lifetime of the object, so a test can read back exactly what was written.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace stdout_capture {
#ifdef _WIN32
constexpr int kStdoutFd = 1;
inline int dupFd(int fd) { return ::_dup(fd); }
inline int dupFdTo(int fd, int to) { return ::_dup2(fd, to); }
inline int openForWrite(const char* path) { return ::_open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0644); }
inline int closeFd(int fd) { return ::_close(fd); }
#else
constexpr int kStdoutFd = STDOUT_FILENO;
inline int dupFd(int fd) { return ::dup(fd); }
inline int dupFdTo(int fd, int to) { return ::dup2(fd, to); }
inline int openForWrite(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644); }
inline int closeFd(int fd) { return ::close(fd); }
#endif
} // namespace stdout_capture

class StdoutCapture
{
public:
    explicit StdoutCapture(const QString& path)
        : m_path(path)
    {
        std::fflush(stdout);
        using namespace stdout_capture;
        m_saved = dupFd(kStdoutFd);
        const int fd = openForWrite(QFile::encodeName(path).constData());
        dupFdTo(fd, kStdoutFd);
        closeFd(fd);
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Puts the real standard output back and returns what was written meanwhile.
    QByteArray finish()
    {
        restore();
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        stdout_capture::dupFdTo(m_saved, stdout_capture::kStdoutFd);
        stdout_capture::closeFd(m_saved);
        m_saved = -1;
    }

    QString m_path;
    int m_saved = -1;
};
