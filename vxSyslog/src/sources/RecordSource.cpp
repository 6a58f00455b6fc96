#include <vxSyslog/RecordSource.h>

#include <QFileInfo>
#include <QSet>

#include "sources/FileSource.h"
#include "sources/PgSource.h"

namespace SystemLog {

namespace {

// "NAME=PATH" names the file's machine; a path that merely holds '=' in a
// folder name ("a=b/dbLog.db") is a path.
FileSource::File fileOf(const QString& location)
{
    const int equals = location.indexOf(QLatin1Char('='));
    if (equals > 0 && !location.left(equals).contains(QLatin1Char('/')))
        return {location.left(equals).toUtf8(), location.mid(equals + 1)};
    QString name = QFileInfo(location).fileName();
    if (name.endsWith(QLatin1String(".db")))
        name.chop(3);
    return {name.toUtf8(), location};
}

} // namespace

RecordSource::~RecordSource() = default;

SourceTail::~SourceTail() = default;

bool RecordSource::isDatabaseUrl(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

std::unique_ptr<RecordSource> RecordSource::create(const QStringList& locations, const QStringList& hosts, QString& error)
{
    int urls = 0;
    for (const QString& location : locations)
        urls += isDatabaseUrl(location) ? 1 : 0;
    if (urls > 0) {
        if (locations.size() > 1) {
            error = QStringLiteral("PostgreSQL 数据库的地址只能单独给出，不能与其他数据库或文件同用");
            return nullptr;
        }
        if (!PgSource::acceptsUrl(locations.first(), error))
            return nullptr;
        return std::make_unique<PgSource>(locations.first(), hosts);
    }
    std::vector<FileSource::File> files;
    QSet<QByteArray> names;
    for (const QString& location : locations) {
        const FileSource::File file = fileOf(location);
        if (file.path.isEmpty()) {
            error = QStringLiteral("“%1”中缺少文件路径").arg(location);
            return nullptr;
        }
        if (names.contains(file.host)) {
            error = QStringLiteral("机器名称“%1”出现了两次（用 名称=路径 给文件另起名称）").arg(QString::fromUtf8(file.host));
            return nullptr;
        }
        names.insert(file.host);
        if (hosts.isEmpty() || hosts.contains(QString::fromUtf8(file.host)))
            files.push_back(file);
    }
    if (files.empty()) {
        error = QStringLiteral("--host 所列的机器没有一个在所给的文件中");
        return nullptr;
    }
    return std::make_unique<FileSource>(files);
}

} // namespace SystemLog
