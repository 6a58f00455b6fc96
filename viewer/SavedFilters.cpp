#include "SavedFilters.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>

#include <vxSyslog/RecordTypes.h>

namespace {

const QString kName = QStringLiteral("name");
const QString kTypes = QStringLiteral("types");
const QString kFilter = QStringLiteral("filter");
const QString kRegex = QStringLiteral("regex");

QString typesText(const QVector<int>& types)
{
    QStringList codes;
    for (int type : types)
        codes << QString::number(type);
    return codes.join(QLatin1Char(','));
}

// Codes of the five types only, each once, in code order; anything else
// in a hand-edited file is dropped.
QVector<int> typesOf(const QString& text)
{
    QVector<int> types;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int type = part.trimmed().toInt(&ok);
        if (ok && type >= 0 && type < SystemLog::kRecordTypeCount && !types.contains(type))
            types << type;
    }
    std::sort(types.begin(), types.end());
    return types;
}

} // namespace

QString SavedFilters::groupName()
{
    return QStringLiteral("savedFilters");
}

SavedFilters::SavedFilters(const QString& settingsFile)
    : m_file(settingsFile)
{
}

QList<SavedFilter> SavedFilters::all() const
{
    QSettings settings(m_file, QSettings::IniFormat);
    QList<SavedFilter> filters;
    const int size = settings.beginReadArray(groupName());
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        SavedFilter filter{settings.value(kName).toString(), typesOf(settings.value(kTypes).toString()),
                           settings.value(kFilter).toString(), settings.value(kRegex, false).toBool()};
        const bool named = !filter.name.trimmed().isEmpty();
        const bool seen = std::any_of(filters.begin(), filters.end(), [&](const SavedFilter& f) { return f.name == filter.name; });
        if (named && !seen)
            filters << filter;
    }
    settings.endArray();
    return filters;
}

bool SavedFilters::contains(const QString& name) const
{
    const QList<SavedFilter> filters = all();
    return std::any_of(filters.begin(), filters.end(), [&](const SavedFilter& f) { return f.name == name; });
}

void SavedFilters::save(const SavedFilter& filter)
{
    QList<SavedFilter> filters = all();
    auto same = std::find_if(filters.begin(), filters.end(), [&](const SavedFilter& f) { return f.name == filter.name; });
    if (same != filters.end())
        *same = filter;
    else
        filters << filter;
    write(filters);
}

void SavedFilters::remove(const QString& name)
{
    QList<SavedFilter> filters = all();
    filters.erase(std::remove_if(filters.begin(), filters.end(), [&](const SavedFilter& f) { return f.name == name; }),
                  filters.end());
    write(filters);
}

// The group is written whole each time, so that a removed entry leaves no
// numbered keys behind.
void SavedFilters::write(const QList<SavedFilter>& filters) const
{
    QSettings settings(m_file, QSettings::IniFormat);
    settings.remove(groupName());
    settings.beginWriteArray(groupName(), filters.size());
    for (int i = 0; i < filters.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(kName, filters.at(i).name);
        settings.setValue(kTypes, typesText(filters.at(i).types));
        settings.setValue(kFilter, filters.at(i).filter);
        if (filters.at(i).regex)
            settings.setValue(kRegex, true);
    }
    settings.endArray();
    settings.sync();
}
