#include <vxSyslog/AlarmContext.h>

#include <QDateTime>

#include <algorithm>

#include <vxSyslog/LogSource.h>
#include <vxSyslog/LogQuery.h>

namespace SystemLog {
namespace AlarmContext {

namespace {

const QString kStoredForm = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

bool isAlarm(const LogRecord& record)
{
    return record.storedType == LogRecord::StoredType::Int && record.type == kAlarmType;
}

QVector<int> precedingTypes()
{
    return {0, 1, 2};
}

QString minutesBefore(const QByteArray& datetime, int minutes)
{
    QDateTime at = QDateTime::fromString(QString::fromLatin1(datetime), kStoredForm);
    if (!at.isValid())
        return QString();
    at.setTimeSpec(Qt::UTC);
    return at.addSecs(-qint64(minutes) * 60).toString(kStoredForm);
}

bool readPreceding(LogSource& source, int machine, const LogRecord& alarm, int minutes,
                   std::vector<LogRecord>& records, bool& more)
{
    records.clear();
    more = false;
    const QString since = minutesBefore(alarm.datetime, std::max(0, minutes));
    if (since.isNull())
        return true;
    LogQuery query;
    query.types = precedingTypes();
    query.since = since;
    query.until = QString::fromLatin1(alarm.datetime);
    query.newestFirst = true; // the nearest first, so that a busy machine's list ends at the alarm
    std::vector<int> machines;
    std::vector<qint64> ids;
    const bool listed = source.readKeys(query, [&](const ListedKey& key) {
        if (key.machine != machine)
            return true;
        if (int(ids.size()) == kMostRecords) {
            more = true;
            return false;
        }
        machines.push_back(key.machine);
        ids.push_back(key.id);
        return true;
    });
    if (!listed)
        return false;
    std::vector<LogRecord> nearestFirst(ids.size());
    std::vector<bool> found(ids.size(), false);
    const bool read = source.fetchRecords(machines.data(), ids.data(), int(ids.size()), [&](int index, const LogRecord& record) {
        LogRecord& kept = nearestFirst[std::size_t(index)];
        kept = record;
        kept.datetime = QByteArray(record.datetime.constData(), record.datetime.size());
        kept.message = QByteArray(record.message.constData(), record.message.size());
        kept.host = QByteArray(record.host.constData(), record.host.size());
        kept.typeText = QByteArray(record.typeText.constData(), record.typeText.size());
        found[std::size_t(index)] = true;
    });
    if (!read)
        return false;
    for (std::size_t i = nearestFirst.size(); i-- > 0;)
        if (found[i])
            records.push_back(std::move(nearestFirst[i]));
    return true;
}

} // namespace AlarmContext
} // namespace SystemLog
