#include "store/FileIdentity.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace SystemLog {

FileIdentity FileIdentity::of(const QString& path)
{
    FileIdentity identity;
#ifdef Q_OS_UNIX
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return identity;
    identity.exists = true;
    identity.device = static_cast<quint64>(status.st_dev);
    identity.node = static_cast<quint64>(status.st_ino);
#else
    const QFileInfo info(path);
    if (!info.exists())
        return identity;
    identity.exists = true;
    identity.node = static_cast<quint64>(info.birthTime().toMSecsSinceEpoch());
#endif
    return identity;
}

} // namespace SystemLog
