#pragma once

// Sends the process's standard output (file descriptor 1) into a file for the
// lifetime of the object, so a test can read back exactly what was written.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

class StdoutCapture
{
public:
    explicit StdoutCapture(const QString& path)
        : m_path(path)
    {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
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
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QString m_path;
    int m_saved = -1;
};
