#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace SystemLog {

// The locations a reader of several machines is given (LogSource.h):
// file paths, "NAME=PATH", or one postgresql:// URL, alone.
namespace Locations {

struct File
{
    QString name;
    QString path;
};

bool isDatabaseUrl(const QString& location);

// Whether the locations name the central database; false with `error` when
// a URL is not alone.
bool namesDatabase(const QStringList& locations, QString& error);

// The files, with their machine names, of those named in `hosts` (all when
// it is empty); false with `error` for a NAME given twice, a location
// without a path, or hosts that name none of them.
bool filesOf(const QStringList& locations, const QStringList& hosts, std::vector<File>& files, QString& error);

// What the locations name: the central database (`url`, an address libpq
// takes and that holds no password) or files (`files`, as filesOf()); false
// with `error` for a usage error. A location that holds a password
// (LocationSecrets.h) is refused first, whatever it names.
bool resolve(const QStringList& locations, const QStringList& hosts, QString& url, std::vector<File>& files,
             QString& error);

} // namespace Locations
} // namespace SystemLog
