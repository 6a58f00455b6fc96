#include "sources/Locations.h"

#include <QFileInfo>
#include <QSet>

#include "sources/LocationSecrets.h"
#include "sources/PgSource.h"

namespace SystemLog {
namespace Locations {

namespace {

// "NAME=PATH" names the file's machine; a path that merely holds '=' in a
// folder name ("a=b/dbLog.db") is a path.
File fileOf(const QString& location)
{
    const int equals = location.indexOf(QLatin1Char('='));
    if (equals > 0 && !location.left(equals).contains(QLatin1Char('/')))
        return {location.left(equals), location.mid(equals + 1)};
    QString name = QFileInfo(location).fileName();
    if (name.endsWith(QLatin1String(".db")))
        name.chop(3);
    return {name, location};
}

} // namespace

bool isDatabaseUrl(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

bool namesDatabase(const QStringList& locations, QString& error)
{
    int urls = 0;
    for (const QString& location : locations)
        urls += isDatabaseUrl(location) ? 1 : 0;
    if (urls > 0 && locations.size() > 1) {
        error = QStringLiteral("PostgreSQL 数据库的地址只能单独给出，不能与其他数据库或文件同用");
        return false;
    }
    return urls > 0;
}

bool filesOf(const QStringList& locations, const QStringList& hosts, std::vector<File>& files, QString& error)
{
    QSet<QString> names;
    for (const QString& location : locations) {
        const File file = fileOf(location);
        if (file.path.isEmpty()) {
            error = QStringLiteral("“%1”中缺少文件路径").arg(location);
            return false;
        }
        if (names.contains(file.name)) {
            error = QStringLiteral("机器名称“%1”出现了两次（用 名称=路径 给文件另起名称）").arg(file.name);
            return false;
        }
        names.insert(file.name);
        if (hosts.isEmpty() || hosts.contains(file.name))
            files.push_back(file);
    }
    if (files.empty()) {
        error = QStringLiteral("--host 所列的机器没有一个在所给的文件中");
        return false;
    }
    return true;
}

bool resolve(const QStringList& locations, const QStringList& hosts, QString& url, std::vector<File>& files,
             QString& error)
{
    error.clear();
    for (const QString& location : locations) {
        if (holdsPassword(location)) {
            error = passwordRefusedText();
            return false;
        }
    }
    if (namesDatabase(locations, error)) {
        url = locations.first();
        return PgSource::acceptsUrl(url, error);
    }
    return error.isEmpty() && filesOf(locations, hosts, files, error);
}

} // namespace Locations
} // namespace SystemLog
