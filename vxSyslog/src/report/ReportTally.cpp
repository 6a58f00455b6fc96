#include "report/ReportTally.h"

#include <QDateTime>

#include <algorithm>

namespace SystemLog {

namespace {

using Text = AlarmReport::Text;

bool textBefore(const Text& a, const Text& b, bool byBursts)
{
    const qint64 first = byBursts ? a.bursts : a.count;
    const qint64 second = byBursts ? b.bursts : b.count;
    if (first != second)
        return first > second;
    if (byBursts && a.count != b.count)
        return a.count > b.count;
    return a.key < b.key;
}

} // namespace

void sortTexts(QVector<Text>& texts, bool byBursts)
{
    std::sort(texts.begin(), texts.end(), [byBursts](const Text& a, const Text& b) { return textBefore(a, b, byBursts); });
}

ReportTally::ReportTally(const AlarmReport::Request& request)
    : m_mergeNumbers(request.mergeNumbers)
    , m_withTexts(!request.periodsOnly)
{
}

int ReportTally::machineOf(const QByteArray& host)
{
    const auto found = m_machineIndex.constFind(host);
    if (found != m_machineIndex.constEnd())
        return found.value();
    const int index = m_machineNames.size();
    const QByteArray name(host.constData(), host.size());
    m_machineIndex.insert(name, index);
    m_machineNames << name;
    m_texts.emplace_back();
    return index;
}

// A window of three completes when the occurrence two before lies within
// the chattering time; a burst starts where one completes while neither
// of the two before completed one (AlarmReport.h).
void ReportTally::occur(Occurrences& text, qint64 seconds)
{
    ++text.count;
    if (seconds < 0)
        return;
    const bool hit = text.beforeLast >= 0 && seconds - text.beforeLast <= AlarmReport::kChatterSeconds;
    if (hit && !text.lastHit && !text.beforeLastHit)
        ++text.bursts;
    text.beforeLast = text.last;
    text.last = seconds;
    text.beforeLastHit = text.lastHit;
    text.lastHit = hit;
}

void ReportTally::add(const LogRecord& record)
{
    const int machine = machineOf(record.host);
    const qint64 seconds = AlarmReport::secondsOf(record.datetime);
    const qint64 period = seconds < 0 ? -1 : seconds / AlarmReport::kPeriodSeconds;
    const int type = record.storedType == LogRecord::StoredType::Int ? record.type : -1;
    const std::tuple<qint64, int, int> cell{period, machine, type};
    if (!m_lastCount || cell != m_lastCell) {
        m_lastCell = cell;
        m_lastCount = &m_cells[cell];
    }
    ++*m_lastCount;
    if (!m_withTexts)
        return;

    const QByteArray key = m_mergeNumbers ? AlarmReport::shapeOf(record.message)
                                          : QByteArray::fromRawData(record.message.constData(), record.message.size());
    QHash<QByteArray, Occurrences>& texts = m_texts[size_t(machine)];
    auto found = texts.find(key);
    if (found == texts.end()) {
        found = texts.insert(QByteArray(key.constData(), key.size()), Occurrences());
        found->example = QByteArray(record.message.constData(), record.message.size());
    } else if (m_mergeNumbers && record.message < found->example) {
        found->example = QByteArray(record.message.constData(), record.message.size());
    }
    occur(*found, seconds);
}

void ReportTally::fill(AlarmReport& report, ReportTexts& texts) const
{
    // Machines by name, so that the order does not depend on which logged first.
    QVector<int> order(m_machineNames.size());
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [this](int a, int b) { return m_machineNames[a] < m_machineNames[b]; });
    QVector<int> place(order.size());
    report.machines.clear();
    for (int i = 0; i < order.size(); ++i) {
        place[order[i]] = i;
        report.machines << QString::fromUtf8(m_machineNames[order[i]]);
    }
    report.cells.clear();
    for (const auto& cell : m_cells)
        report.cells.push_back({std::get<0>(cell.first), place[std::get<1>(cell.first)], std::get<2>(cell.first), cell.second});
    std::sort(report.cells.begin(), report.cells.end(), [](const AlarmReport::Cell& a, const AlarmReport::Cell& b) {
        return std::tie(a.period, a.machine, a.type) < std::tie(b.period, b.machine, b.type);
    });

    QHash<QByteArray, Text> all;
    QHash<QByteArray, Text> chattering;
    texts.chatteringPerMachine.fill(0, order.size());
    for (size_t machine = 0; machine < m_texts.size(); ++machine) {
        for (auto it = m_texts[machine].cbegin(); it != m_texts[machine].cend(); ++it) {
            Text& text = all[it.key()];
            if (text.key.isEmpty() || it->example < text.example)
                text.example = it->example;
            text.key = it.key();
            text.count += it->count;
            if (it->bursts == 0)
                continue;
            ++texts.chatteringPerMachine[place[int(machine)]];
            Text& chatters = chattering[it.key()];
            if (chatters.key.isEmpty() || it->example < chatters.example)
                chatters.example = it->example;
            chatters.key = it.key();
            chatters.count += it->count;
            chatters.bursts += it->bursts;
        }
    }
    texts.distinct = all.size();
    texts.top = all.values().toVector();
    sortTexts(texts.top, false);
    texts.chattering = chattering.values().toVector();
    texts.chatteringTexts = texts.chattering.size();
    sortTexts(texts.chattering, true);
}

namespace {

struct Series
{
    qint64 first = 0;  // the first period
    QVector<qint64> counts;
};

// Consecutive periods over the threshold, as floods.
QVector<AlarmReport::Flood> floodsOf(const Series& series)
{
    QVector<AlarmReport::Flood> floods;
    for (int i = 0; i < series.counts.size(); ++i) {
        if (series.counts[i] <= AlarmReport::kFloodAlarms)
            continue;
        if (floods.isEmpty() || i == 0 || series.counts[i - 1] <= AlarmReport::kFloodAlarms) {
            floods.push_back({AlarmReport::periodText(series.first + i), QString(), 0, 0});
        }
        AlarmReport::Flood& flood = floods.last();
        flood.count += series.counts[i];
        ++flood.periods;
        flood.end = AlarmReport::periodText(series.first + i + 1);
    }
    return floods;
}

void addRange(qint64 seconds, qint64& first, qint64& last)
{
    if (seconds < 0)
        return;
    first = first < 0 ? seconds : qMin(first, seconds);
    last = qMax(last, seconds);
}

} // namespace

void deriveFigures(AlarmReport& report, ReportTexts texts)
{
    const AlarmReport::Request& request = report.request;
    const QString now = request.now.isEmpty() ? QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                              : request.now;
    QString until = request.until.isEmpty() || request.until > now ? now : request.until;
    qint64 startSeconds = AlarmReport::secondsOf(request.since.toUtf8());
    qint64 endSeconds = AlarmReport::secondsOf(until.toUtf8());
    // Records stamped outside the period asked for (a clock ahead of this
    // one) widen it rather than fall outside every period.
    qint64 firstCell = -1, lastCell = -1;
    for (const AlarmReport::Cell& cell : report.cells)
        addRange(cell.period, firstCell, lastCell);
    if (startSeconds < 0)
        startSeconds = firstCell >= 0 ? firstCell * AlarmReport::kPeriodSeconds : endSeconds;
    if (endSeconds < 0)
        endSeconds = startSeconds;
    if (lastCell >= 0 && lastCell * AlarmReport::kPeriodSeconds > endSeconds)
        endSeconds = lastCell * AlarmReport::kPeriodSeconds + AlarmReport::kPeriodSeconds - 1;
    if (firstCell >= 0 && firstCell * AlarmReport::kPeriodSeconds < startSeconds - startSeconds % AlarmReport::kPeriodSeconds)
        startSeconds = firstCell * AlarmReport::kPeriodSeconds;
    if (endSeconds < startSeconds)
        endSeconds = startSeconds;
    report.start = AlarmReport::stampOf(startSeconds);
    report.end = AlarmReport::stampOf(endSeconds);

    Series all;
    all.first = startSeconds / AlarmReport::kPeriodSeconds;
    report.periods = endSeconds / AlarmReport::kPeriodSeconds - all.first + 1;
    all.counts.fill(0, int(report.periods));
    QVector<Series> machines(report.machines.size(), all);
    report.perHour.fill(0, 24);
    report.total = 0;
    // Days by their number since 1970 (one cell after another: a report may
    // hold a year of machines' periods), named once each at the end.
    const qint64 firstDay = startSeconds / 86400;
    QVector<qint64> days(int(endSeconds / 86400 - firstDay + 1), 0);
    QVector<qint64> machineTotals(report.machines.size(), 0);
    for (const AlarmReport::Cell& cell : report.cells) {
        report.total += cell.count;
        if (cell.machine >= 0 && cell.machine < machines.size())
            machineTotals[cell.machine] += cell.count;
        if (cell.period < 0)
            continue;
        const int index = int(cell.period - all.first);
        all.counts[index] += cell.count;
        if (cell.machine >= 0 && cell.machine < machines.size())
            machines[cell.machine].counts[index] += cell.count;
        const qint64 seconds = cell.period * AlarmReport::kPeriodSeconds;
        report.perHour[int(seconds % 86400 / 3600)] += cell.count;
        days[int(seconds / 86400 - firstDay)] += cell.count;
    }
    report.perDay.clear();
    for (int day = 0; day < days.size(); ++day)
        report.perDay.push_back({AlarmReport::stampOf((firstDay + day) * 86400).left(10), days[day]});

    auto figures = [&report](const Series& series, qint64& maxPeriod, qint64& over, double& average, int* maxAt) {
        maxPeriod = 0;
        over = 0;
        qint64 sum = 0;
        for (int i = 0; i < series.counts.size(); ++i) {
            const qint64 count = series.counts[i];
            sum += count;
            if (count > maxPeriod) {
                maxPeriod = count;
                if (maxAt)
                    *maxAt = i;
            }
            if (count > AlarmReport::kFloodAlarms)
                ++over;
        }
        average = report.periods > 0 ? double(sum) / double(report.periods) : 0;
    };
    int maxAt = -1;
    figures(all, report.maxPeriod, report.periodsOver, report.perPeriod, &maxAt);
    report.maxPeriodStart = maxAt >= 0 ? AlarmReport::periodText(all.first + maxAt) : QString();
    report.perDayAverage = report.perPeriod * 86400.0 / AlarmReport::kPeriodSeconds;
    report.floods = floodsOf(all);

    report.perMachine.clear();
    if (report.machines.size() > 1) {
        for (int i = 0; i < machines.size(); ++i) {
            AlarmReport::Machine machine;
            machine.name = report.machines[i];
            figures(machines[i], machine.maxPeriod, machine.periodsOver, machine.perPeriod, nullptr);
            machine.total = machineTotals[i];
            machine.floods = floodsOf(machines[i]).size();
            machine.chatteringTexts = texts.chatteringPerMachine.value(i);
            report.perMachine << machine;
        }
    }

    qint64 topSum = 0;
    for (int i = 0; i < texts.top.size() && i < AlarmReport::kTopShareTexts; ++i)
        topSum += texts.top[i].count;
    report.topShare = report.total > 0 ? double(topSum) / double(report.total) : 0;
    const int listed = qMax(0, request.top);
    for (QVector<AlarmReport::Text>* list : {&texts.top, &texts.chattering}) {
        if (list->size() > listed)
            list->resize(listed);
        for (AlarmReport::Text& text : *list)
            text.share = report.total > 0 ? double(text.count) / double(report.total) : 0;
    }
    report.top = texts.top;
    report.distinctTexts = texts.distinct;
    report.chattering = texts.chattering;
    report.chatteringTexts = texts.chatteringTexts;
}

} // namespace SystemLog
