#include <vxSyslog/LogSource.h>

#include "sources/FileSource.h"
#include "sources/LocationSecrets.h"
#include "sources/Locations.h"
#include "sources/PgSource.h"

namespace SystemLog {

LogSource::~LogSource() = default;

SourceTail::~SourceTail() = default;

bool LogSource::isDatabaseUrl(const QString& location)
{
    return Locations::isDatabaseUrl(location);
}

QString LogSource::shownLocation(const QString& location)
{
    return Locations::withoutPassword(location);
}

bool LogSource::refusesPassword(const QString& location, QString& error)
{
    if (!Locations::holdsPassword(location))
        return false;
    error = Locations::passwordRefusedText();
    return true;
}

std::unique_ptr<LogSource> LogSource::create(const QStringList& locations, const QStringList& hosts, QString& error)
{
    QString url;
    std::vector<Locations::File> files;
    if (!Locations::resolve(locations, hosts, url, files, error))
        return nullptr;
    if (!url.isEmpty())
        return std::make_unique<PgSource>(url, hosts);
    return std::make_unique<FileSource>(files);
}

bool LogSource::fail(FailureKind kind, const QString& reason)
{
    m_kind = kind;
    m_error = reason;
    return false;
}

bool LogSource::failWithProblem(FailureKind kind, const QString& problem)
{
    if (!m_problems.contains(problem))
        m_problems << problem;
    return fail(kind, m_problems.join(QLatin1Char('\n')));
}

} // namespace SystemLog
