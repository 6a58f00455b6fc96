#pragma once

#include <QByteArray>

#include <cerrno>
#include <unistd.h>

// Writes every byte to a file descriptor, going on after a signal and after a
// short write; false at the first failure, errno saying why.
inline bool writeAll(int fd, const QByteArray& bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
