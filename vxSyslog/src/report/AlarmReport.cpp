#include <vxSyslog/AlarmReport.h>

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include <vxSyslog/LogSource.h>
#include <vxSyslog/RecordTypes.h>

#include <QMap>

#include "report/PgReport.h"
#include "report/ReportTally.h"
#include "sources/PgSource.h"

namespace SystemLog {

namespace {

int digitsAt(const char* text, int at, int count)
{
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar
// (Howard Hinnant's days_from_civil).
qint64 daysFromCivil(qint64 year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = unsigned(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + qint64(dayOfEra) - 719468;
}

void civilFromDays(qint64 days, int& year, int& month, int& day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = unsigned(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(qint64(yearOfEra) + era * 400 + (month <= 2));
}

} // namespace

// The stored clock as it reads, without a time zone: periods and chattering
// times are differences of what the stamps say.
qint64 AlarmReport::secondsOf(const QByteArray& stamp)
{
    if (stamp.size() != 19)
        return -1;
    const char* s = stamp.constData();
    if (s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return -1;
    const int year = digitsAt(s, 0, 4), month = digitsAt(s, 5, 2), day = digitsAt(s, 8, 2);
    const int hour = digitsAt(s, 11, 2), minute = digitsAt(s, 14, 2), second = digitsAt(s, 17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59
        || second < 0 || second > 60)
        return -1;
    return daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60 + second;
}

QString AlarmReport::stampOf(qint64 seconds)
{
    int year = 0, month = 0, day = 0;
    civilFromDays(seconds / 86400, year, month, day);
    const qint64 inDay = seconds % 86400;
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", year, month, day, int(inDay / 3600), int(inDay / 60 % 60),
                             int(inDay % 60));
}

QString AlarmReport::periodText(qint64 period)
{
    return stampOf(period * kPeriodSeconds);
}

QByteArray AlarmReport::shapeOf(const QByteArray& text)
{
    QByteArray shape;
    shape.reserve(text.size());
    bool inDigits = false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit)
            shape += c;
        else if (!inDigits)
            shape += '0';
        inDigits = digit;
    }
    return shape;
}

QString AlarmReport::patternOf(const QByteArray& key, bool mergeNumbers)
{
    // Case as it is, the whole message (its final line end allowed by $).
    QString pattern = QStringLiteral("(?-i)^");
    const QString text = QString::fromUtf8(key);
    if (!mergeNumbers)
        return pattern + QRegularExpression::escape(text) + QLatin1Char('$');
    const QStringList pieces = text.split(QLatin1Char('0'));
    for (int i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            pattern += QStringLiteral("[0-9]+");
        pattern += QRegularExpression::escape(pieces[i]);
    }
    return pattern + QLatin1Char('$');
}

QStringList alarmReportOutOfReach()
{
    return {QStringLiteral("长期报警（持续 24 小时以上）：日志不记录报警的确认和恢复，无法统计"),
            QStringLiteral("报警优先级分布（约 80 % 低 / 15 % 中 / 5 % 高）：日志不记录优先级，无法统计"),
            QStringLiteral("确认时间、被抑制的报警：日志不记录报警状态，无法统计")};
}

namespace {

// The records of the types a report does not read, counted through the
// time index on a reader of their own while the report's pass reads the
// others. Not started for a report that reads every type.
class OtherTypeCounts
{
public:
    OtherTypeCounts(const LogSource& source, const LogQuery& query, const QVector<int>& types)
    {
        if (types.isEmpty())
            return;
        QString error;
        m_source = LogSource::create(source.files(), {}, error);
        if (!m_source)
            return;
        m_source->setStopCheck([this] { return m_cancelled.load(); });
        m_thread = std::thread([this, query, types] {
            LogQuery each = query;
            m_ok = m_source->open();
            for (int i = 0; m_ok && i < types.size(); ++i) {
                each.types = {types[i]};
                qint64 count = 0;
                m_ok = m_source->count(each, count);
                m_counts.insert(types[i], count);
            }
        });
    }

    ~OtherTypeCounts()
    {
        m_cancelled.store(true);
        join();
    }

    // The counts once done; false when they could not be had this way.
    bool take(QMap<int, qint64>& counts)
    {
        join();
        if (!m_source || !m_ok)
            return false;
        counts = m_counts;
        return true;
    }

private:
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    std::unique_ptr<LogSource> m_source;
    std::atomic<bool> m_cancelled{false};
    std::thread m_thread;
    bool m_ok = false;
    QMap<int, qint64> m_counts;
};

QVector<int> typesNotRead(const AlarmReport::Request& request)
{
    QVector<int> types;
    if (request.types.isEmpty() || request.periodsOnly)
        return types;
    for (int type = 0; type < kRecordTypeCount; ++type) {
        if (!request.types.contains(type))
            types << type;
    }
    return types;
}

// Of files: each read once, in time order through the time index.
bool countRecords(LogSource& source, AlarmReport& report, ReportTexts& texts, QString& error)
{
    const AlarmReport::Request& request = report.request;
    LogQuery query;
    query.types = request.types;
    query.since = request.since;
    query.until = request.until;
    query.grep = request.grep;
    query.ignoreCase = request.ignoreCase;
    const QVector<int> otherTypes = typesNotRead(request);
    OtherTypeCounts others(source, query, otherTypes);
    ReportTally tally(request);
    if (!source.read(query, [&tally](const LogRecord& record) {
            tally.add(record);
            return true;
        })) {
        error = source.errorText();
        return false;
    }
    tally.fill(report, texts);
    if (request.periodsOnly)
        return true;
    // Every type of the period: those read from the pass, the others as
    // counted beside it (or now, when that reader could not count them).
    QMap<int, qint64> perType;
    for (int type = 0; type < kRecordTypeCount; ++type)
        perType.insert(type, 0);
    for (int type : request.types)
        perType.insert(type, 0);
    for (const AlarmReport::Cell& cell : report.cells) {
        if (request.types.isEmpty() || request.types.contains(cell.type))
            perType[cell.type] += cell.count;
    }
    QMap<int, qint64> counted;
    if (!others.take(counted)) {
        for (int type : otherTypes) {
            query.types = {type};
            if (!source.count(query, counted[type])) {
                error = source.errorText();
                return false;
            }
        }
    }
    for (auto it = counted.cbegin(); it != counted.cend(); ++it)
        perType[it.key()] = it.value();
    report.perType.clear();
    for (auto it = perType.cbegin(); it != perType.cend(); ++it) {
        if (it.key() >= 0)
            report.perType.push_back({it.key(), it.value()});
    }
    return true;
}

} // namespace

bool computeAlarmReport(LogSource& source, const AlarmReport::Request& request, AlarmReport& report, QString& error)
{
    report = AlarmReport();
    report.request = request;
    ReportTexts texts;
    if (auto* database = dynamic_cast<PgSource*>(&source)) {
        if (!countInDatabase(*database, report, texts, error))
            return false;
    } else if (!countRecords(source, report, texts, error)) {
        return false;
    }
    deriveFigures(report, texts);
    return true;
}

} // namespace SystemLog
