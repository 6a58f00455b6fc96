#include <vxSyslog/AlarmReport.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/RecordTypes.h>

// The report's three forms. Every text an operator reads is Chinese; the
// figures and their order are the same in all three.
namespace SystemLog {

namespace {

// A message on one line: its final line end dropped, others shown as ⏎.
QString oneLine(const QByteArray& message)
{
    QString text = QString::fromUtf8(message);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    text.replace(QLatin1String("\r\n"), QStringLiteral("⏎"));
    text.replace(QLatin1Char('\n'), QStringLiteral("⏎"));
    return text;
}

QString typeName(int type)
{
    const QString caption = recordTypeCaption(type);
    return caption.isEmpty() ? (type < 0 ? QStringLiteral("类型 ?") : QStringLiteral("类型 %1").arg(type)) : caption;
}

QString typesCaption(const QVector<int>& types)
{
    if (types.isEmpty())
        return QStringLiteral("全部类型");
    QStringList names;
    for (int type : types)
        names << typeName(type);
    return names.join(QStringLiteral("、"));
}

QString percent(double share)
{
    return QStringLiteral("%1 %").arg(QLocale::c().toString(share * 100, 'f', share * 100 < 10 ? 2 : 1));
}

QString decimal(double value)
{
    return QLocale::c().toString(value, 'f', value < 10 ? 2 : 1);
}

using Kpi = AlarmKpi;

} // namespace

QVector<AlarmKpi> alarmReportKpis(const AlarmReport& r)
{
    using R = AlarmReference;
    QVector<Kpi> kpis;
    kpis << Kpi{QStringLiteral("每十分钟平均报警数"), decimal(r.perPeriod), QStringLiteral("约 1 可接受，最多 2"),
                r.perPeriod > R::kPerPeriodManageable, QString()};
    kpis << Kpi{QStringLiteral("每天平均报警数"), decimal(r.perDayAverage), QStringLiteral("约 150 可接受，最多 300"),
                r.perDayAverage > R::kPerDayManageable, QString()};
    kpis << Kpi{QStringLiteral("一个十分钟时段内最多报警数"), groupedCount(r.maxPeriod), QStringLiteral("不超过 10"),
                r.maxPeriod > R::kMaxPeriod,
                r.maxPeriodStart.isEmpty() ? QString() : QStringLiteral("%1 起").arg(r.maxPeriodStart.left(16))};
    kpis << Kpi{QStringLiteral("超过 10 条的十分钟时段占比（报警泛滥时间占比）"), percent(r.periodsOverShare()),
                QStringLiteral("低于 1 %"), r.periodsOverShare() >= R::kPeriodsOverShare,
                QStringLiteral("%1 / %2 个时段").arg(groupedCount(r.periodsOver), groupedCount(r.periods))};
    kpis << Kpi{QStringLiteral("最常见 10 种报警占全部报警的比例"), percent(r.topShare), QStringLiteral("约 1 % 至 5 %"),
                r.topShare > R::kTopShare, QString()};
    kpis << Kpi{QStringLiteral("抖动报警（60 秒内出现 3 次以上的文本）"), QStringLiteral("%1 种").arg(groupedCount(r.chatteringTexts)),
                QStringLiteral("无"), r.chatteringTexts > 0, QString()};
    return kpis;
}

QString alarmKpiMark(bool outside)
{
    return outside ? QStringLiteral("超出参考值") : QStringLiteral("正常");
}

QString alarmReportTypeName(int type)
{
    return typeName(type);
}

namespace {

QString mark(bool outside)
{
    return alarmKpiMark(outside);
}

QVector<AlarmKpi> kpisOf(const AlarmReport& r)
{
    return alarmReportKpis(r);
}

QString title(const AlarmReport& r)
{
    return QStringLiteral("报警统计：%1 · %2 至 %3").arg(typesCaption(r.request.types), r.start, r.end);
}

QStringList conditions(const AlarmReport& r, const QString& source)
{
    QStringList lines;
    lines << QStringLiteral("来源：%1").arg(source);
    lines << QStringLiteral("共 %1 条，%2 个十分钟时段").arg(groupedCount(r.total), groupedCount(r.periods));
    if (!r.request.grep.isEmpty())
        lines << QStringLiteral("筛选：%1").arg(r.request.grep);
    if (r.request.mergeNumbers)
        lines << QStringLiteral("合并数字：只有数字不同的文本算作同一报警（显示其中一条）");
    return lines;
}

// ---- Text

int displayWidth(const QString& text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    return width;
}

// Columns padded to their widest cell; `numeric` columns to the right.
QString table(const QStringList& header, const QVector<QStringList>& rows, const QVector<bool>& numeric)
{
    QVector<int> widths;
    for (const QString& cell : header)
        widths << displayWidth(cell);
    for (const QStringList& row : rows)
        for (int i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = qMax(widths[i], displayWidth(row[i]));
    QString text;
    auto line = [&](const QStringList& cells) {
        QString out = QStringLiteral("  ");
        for (int i = 0; i < cells.size(); ++i) {
            const QString fill(qMax(0, widths[i] - displayWidth(cells[i])), QLatin1Char(' '));
            const bool right = numeric.value(i) ;
            out += (right ? fill + cells[i] : cells[i] + (i + 1 < cells.size() ? fill : QString()));
            if (i + 1 < cells.size())
                out += QStringLiteral("  ");
        }
        text += out + QLatin1Char('\n');
    };
    line(header);
    for (const QStringList& row : rows)
        line(row);
    return text;
}

QString section(const QString& heading, const QString& body)
{
    return QLatin1Char('\n') + heading + QLatin1Char('\n') + body;
}

} // namespace

QByteArray alarmReportText(const AlarmReport& r, const QString& source)
{
    QString text = title(r) + QLatin1Char('\n') + conditions(r, source).join(QLatin1Char('\n')) + QLatin1Char('\n');

    QVector<QStringList> rows;
    for (const AlarmReport::TypeTotal& type : r.perType)
        rows << QStringList{typeName(type.type), groupedCount(type.count)};
    text += section(QStringLiteral("各类型记录数"), table({QStringLiteral("类型"), QStringLiteral("条数")}, rows, {false, true}));

    rows.clear();
    for (const Kpi& kpi : kpisOf(r))
        rows << QStringList{kpi.name, kpi.value, kpi.reference, mark(kpi.outside) + (kpi.note.isEmpty() ? QString() : QStringLiteral("（%1）").arg(kpi.note))};
    text += section(QStringLiteral("报警指标"),
                    table({QStringLiteral("指标"), QStringLiteral("数值"), QStringLiteral("参考值"), QStringLiteral("评价")}, rows,
                          {false, true, false, false}));

    rows.clear();
    for (const AlarmReport::DayCount& day : r.perDay)
        rows << QStringList{day.day, groupedCount(day.count)};
    text += section(QStringLiteral("每天报警数"), table({QStringLiteral("日期"), QStringLiteral("条数")}, rows, {false, true}));

    rows.clear();
    for (int hour = 0; hour < r.perHour.size(); ++hour)
        rows << QStringList{QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0')), groupedCount(r.perHour[hour])};
    text += section(QStringLiteral("一天中每小时的报警数（各天合计）"),
                    table({QStringLiteral("小时"), QStringLiteral("条数")}, rows, {false, true}));

    rows.clear();
    for (const AlarmReport::Flood& flood : r.floods)
        rows << QStringList{flood.start, flood.end, groupedCount(flood.count)};
    text += section(QStringLiteral("报警泛滥（连续的十分钟时段，每段超过 10 条）：%1 次").arg(r.floods.size()),
                    r.floods.isEmpty() ? QStringLiteral("  无\n")
                                       : table({QStringLiteral("开始"), QStringLiteral("结束"), QStringLiteral("条数")}, rows,
                                               {false, false, true}));

    rows.clear();
    for (int i = 0; i < r.top.size(); ++i)
        rows << QStringList{QString::number(i + 1), groupedCount(r.top[i].count), percent(r.top[i].share), oneLine(r.top[i].example)};
    text += section(QStringLiteral("最常见的报警（前 %1，共 %2 种文本）").arg(r.request.top).arg(groupedCount(r.distinctTexts)),
                    r.top.isEmpty() ? QStringLiteral("  无\n")
                                    : table({QStringLiteral("排名"), QStringLiteral("条数"), QStringLiteral("占比"), QStringLiteral("报警文本")},
                                            rows, {true, true, true, false}));

    rows.clear();
    for (const AlarmReport::Text& chatter : r.chattering)
        rows << QStringList{groupedCount(chatter.bursts), groupedCount(chatter.count), oneLine(chatter.example)};
    text += section(QStringLiteral("抖动报警（同一文本 60 秒内出现 3 次以上；抖动次数为这样的连续爆发数）：%1 种")
                        .arg(groupedCount(r.chatteringTexts)),
                    r.chattering.isEmpty() ? QStringLiteral("  无\n")
                                           : table({QStringLiteral("抖动次数"), QStringLiteral("条数"), QStringLiteral("报警文本")}, rows,
                                                   {true, true, false}));

    if (!r.perMachine.isEmpty()) {
        rows.clear();
        for (const AlarmReport::Machine& m : r.perMachine)
            rows << QStringList{m.name, groupedCount(m.total), decimal(m.perPeriod), groupedCount(m.maxPeriod),
                                groupedCount(m.periodsOver), QString::number(m.floods), QString::number(m.chatteringTexts)};
        text += section(QStringLiteral("各机器"),
                        table({QStringLiteral("机器"), QStringLiteral("报警数"), QStringLiteral("每十分钟平均"), QStringLiteral("十分钟最多"),
                               QStringLiteral("超过 10 条的时段"), QStringLiteral("泛滥次数"), QStringLiteral("抖动报警")},
                              rows, {false, true, true, true, true, true, true}));
    }

    QString outOfReach;
    for (const QString& line : alarmReportOutOfReach())
        outOfReach += QStringLiteral("  %1\n").arg(line);
    text += section(QStringLiteral("无法统计的指标"), outOfReach);
    return text.toUtf8();
}

// ---- JSON

namespace {

QJsonArray textsJson(const QVector<AlarmReport::Text>& texts, bool withBursts, bool mergeNumbers)
{
    QJsonArray list;
    for (const AlarmReport::Text& text : texts) {
        QJsonObject item{{QStringLiteral("message"), QString::fromUtf8(text.example)},
                         {QStringLiteral("count"), text.count},
                         {QStringLiteral("share"), text.share}};
        if (withBursts)
            item.insert(QStringLiteral("bursts"), text.bursts);
        if (mergeNumbers)
            item.insert(QStringLiteral("shape"), QString::fromUtf8(text.key));
        list << item;
    }
    return list;
}

} // namespace

QByteArray alarmReportJson(const AlarmReport& r, const QString& source)
{
    QJsonObject o;
    o.insert(QStringLiteral("source"), source);
    QJsonArray types;
    for (int type : r.request.types)
        types << type;
    o.insert(QStringLiteral("types"), types);
    o.insert(QStringLiteral("since"), r.request.since);
    o.insert(QStringLiteral("until"), r.request.until);
    o.insert(QStringLiteral("start"), r.start);
    o.insert(QStringLiteral("end"), r.end);
    o.insert(QStringLiteral("grep"), r.request.grep);
    o.insert(QStringLiteral("merge_numbers"), r.request.mergeNumbers);
    o.insert(QStringLiteral("periods"), r.periods);
    o.insert(QStringLiteral("total"), r.total);
    QJsonArray perType;
    for (const AlarmReport::TypeTotal& type : r.perType)
        perType << QJsonObject{{QStringLiteral("type"), type.type}, {QStringLiteral("name"), typeName(type.type)},
                               {QStringLiteral("count"), type.count}};
    o.insert(QStringLiteral("per_type"), perType);
    QJsonArray perDay;
    for (const AlarmReport::DayCount& day : r.perDay)
        perDay << QJsonObject{{QStringLiteral("day"), day.day}, {QStringLiteral("count"), day.count}};
    o.insert(QStringLiteral("per_day"), perDay);
    QJsonArray perHour;
    for (qint64 count : r.perHour)
        perHour << count;
    o.insert(QStringLiteral("per_hour"), perHour);
    o.insert(QStringLiteral("avg_10min"), r.perPeriod);
    o.insert(QStringLiteral("avg_day"), r.perDayAverage);
    o.insert(QStringLiteral("max_10min"), r.maxPeriod);
    o.insert(QStringLiteral("max_10min_start"), r.maxPeriodStart);
    o.insert(QStringLiteral("periods_over_10"), r.periodsOver);
    o.insert(QStringLiteral("share_over_10"), r.periodsOverShare());
    QJsonArray floods;
    for (const AlarmReport::Flood& flood : r.floods)
        floods << QJsonObject{{QStringLiteral("start"), flood.start}, {QStringLiteral("end"), flood.end},
                              {QStringLiteral("count"), flood.count}, {QStringLiteral("periods"), flood.periods}};
    o.insert(QStringLiteral("floods"), floods);
    o.insert(QStringLiteral("top"), textsJson(r.top, false, r.request.mergeNumbers));
    o.insert(QStringLiteral("top10_share"), r.topShare);
    o.insert(QStringLiteral("distinct_texts"), r.distinctTexts);
    o.insert(QStringLiteral("chattering"), textsJson(r.chattering, true, r.request.mergeNumbers));
    o.insert(QStringLiteral("chattering_texts"), r.chatteringTexts);
    QJsonArray machines;
    for (const AlarmReport::Machine& m : r.perMachine)
        machines << QJsonObject{{QStringLiteral("name"), m.name},
                                {QStringLiteral("total"), m.total},
                                {QStringLiteral("avg_10min"), m.perPeriod},
                                {QStringLiteral("max_10min"), m.maxPeriod},
                                {QStringLiteral("periods_over_10"), m.periodsOver},
                                {QStringLiteral("floods"), m.floods},
                                {QStringLiteral("chattering_texts"), m.chatteringTexts}};
    o.insert(QStringLiteral("machines"), machines);
    QJsonArray kpis;
    for (const Kpi& kpi : kpisOf(r))
        kpis << QJsonObject{{QStringLiteral("name"), kpi.name},
                            {QStringLiteral("value"), kpi.value},
                            {QStringLiteral("reference"), kpi.reference},
                            {QStringLiteral("outside"), kpi.outside}};
    o.insert(QStringLiteral("kpis"), kpis);
    o.insert(QStringLiteral("out_of_reach"), QJsonArray::fromStringList(alarmReportOutOfReach()));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

// ---- HTML

namespace {

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

// Bars with their labels under them, as inline SVG; every `labelEvery`-th labelled.
QString svgBars(const QStringList& labels, const QVector<qint64>& counts, int labelEvery, qint64 line)
{
    const int width = 720, height = 220, left = 44, bottom = 36, top = 12;
    qint64 most = line;
    for (qint64 count : counts)
        most = qMax(most, count);
    most = qMax<qint64>(most, 1);
    const int bars = qMax(1, counts.size());
    const double step = double(width - left - 8) / bars;
    const double plot = height - bottom - top;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\">")
                      .arg(width)
                      .arg(height);
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#444\"/>").arg(left).arg(height - bottom).arg(width - 8);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"11\" text-anchor=\"end\">%3</text>")
               .arg(left - 4)
               .arg(top + 10)
               .arg(most);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"11\" text-anchor=\"end\">0</text>").arg(left - 4).arg(height - bottom);
    for (int i = 0; i < counts.size(); ++i) {
        const double h = plot * double(counts[i]) / double(most);
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#c0392b\"><title>%5：%6</title></rect>")
                   .arg(left + i * step + 1, 0, 'f', 1)
                   .arg(height - bottom - h, 0, 'f', 1)
                   .arg(qMax(1.0, step - 2), 0, 'f', 1)
                   .arg(h, 0, 'f', 1)
                   .arg(escaped(labels.value(i)))
                   .arg(counts[i]);
        if (i % labelEvery == 0)
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\" text-anchor=\"middle\">%3</text>")
                       .arg(left + (i + 0.5) * step, 0, 'f', 1)
                       .arg(height - bottom + 14)
                       .arg(escaped(labels.value(i)));
    }
    if (line > 0) {
        const double y = height - bottom - plot * double(line) / double(most);
        svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#2c3e50\" stroke-dasharray=\"4 3\"/>")
                   .arg(left)
                   .arg(y, 0, 'f', 1)
                   .arg(width - 8);
    }
    return svg + QStringLiteral("</svg>");
}

QString htmlTable(const QStringList& header, const QVector<QStringList>& rows, const QVector<bool>& outside = {})
{
    QString html = QStringLiteral("<table><tr>");
    for (const QString& cell : header)
        html += QStringLiteral("<th>%1</th>").arg(escaped(cell));
    html += QStringLiteral("</tr>");
    for (int i = 0; i < rows.size(); ++i) {
        html += outside.value(i) ? QStringLiteral("<tr class=\"outside\">") : QStringLiteral("<tr>");
        for (const QString& cell : rows[i])
            html += QStringLiteral("<td>%1</td>").arg(escaped(cell));
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

} // namespace

QByteArray alarmReportHtml(const AlarmReport& r, const QString& source)
{
    QString html = QStringLiteral("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>%1</title><style>"
                                  "body{font-family:sans-serif;margin:2em;color:#222}h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}"
                                  "table{border-collapse:collapse;margin:.4em 0}td,th{border:1px solid #bbb;padding:.2em .6em;text-align:left}"
                                  "tr.outside td{background:#fde2e0}p.note{color:#555}"
                                  "@media print{body{margin:0}h2{page-break-after:avoid}svg,table{page-break-inside:avoid}}"
                                  "</style></head><body>")
                       .arg(escaped(title(r)));
    html += QStringLiteral("<h1>%1</h1>").arg(escaped(title(r)));
    for (const QString& line : conditions(r, source))
        html += QStringLiteral("<p class=\"note\">%1</p>").arg(escaped(line));

    QVector<QStringList> rows;
    QVector<bool> outside;
    for (const Kpi& kpi : kpisOf(r)) {
        rows << QStringList{kpi.name, kpi.value, kpi.reference, mark(kpi.outside), kpi.note};
        outside << kpi.outside;
    }
    html += QStringLiteral("<h2>报警指标</h2>")
            + htmlTable({QStringLiteral("指标"), QStringLiteral("数值"), QStringLiteral("参考值"), QStringLiteral("评价"), QString()}, rows,
                        outside);

    QStringList labels;
    QVector<qint64> counts;
    for (const AlarmReport::DayCount& day : r.perDay) {
        labels << day.day.mid(5);
        counts << day.count;
    }
    html += QStringLiteral("<h2>每天报警数</h2>") + svgBars(labels, counts, qMax(1, labels.size() / 10), 0);
    labels.clear();
    for (int hour = 0; hour < 24; ++hour)
        labels << QString::number(hour);
    html += QStringLiteral("<h2>一天中每小时的报警数（各天合计）</h2>") + svgBars(labels, r.perHour, 2, 0);

    rows.clear();
    for (const AlarmReport::TypeTotal& type : r.perType)
        rows << QStringList{typeName(type.type), groupedCount(type.count)};
    html += QStringLiteral("<h2>各类型记录数</h2>") + htmlTable({QStringLiteral("类型"), QStringLiteral("条数")}, rows);

    rows.clear();
    for (const AlarmReport::Flood& flood : r.floods)
        rows << QStringList{flood.start, flood.end, groupedCount(flood.count)};
    html += QStringLiteral("<h2>报警泛滥：%1 次</h2>").arg(r.floods.size())
            + (rows.isEmpty() ? QStringLiteral("<p>无</p>")
                              : htmlTable({QStringLiteral("开始"), QStringLiteral("结束"), QStringLiteral("条数")}, rows));
    rows.clear();
    for (int i = 0; i < r.top.size(); ++i)
        rows << QStringList{QString::number(i + 1), groupedCount(r.top[i].count), percent(r.top[i].share), oneLine(r.top[i].example)};
    html += QStringLiteral("<h2>最常见的报警（前 %1，共 %2 种文本）</h2>").arg(r.request.top).arg(groupedCount(r.distinctTexts))
            + (rows.isEmpty() ? QStringLiteral("<p>无</p>")
                              : htmlTable({QStringLiteral("排名"), QStringLiteral("条数"), QStringLiteral("占比"), QStringLiteral("报警文本")}, rows));
    rows.clear();
    for (const AlarmReport::Text& chatter : r.chattering)
        rows << QStringList{groupedCount(chatter.bursts), groupedCount(chatter.count), oneLine(chatter.example)};
    html += QStringLiteral("<h2>抖动报警：%1 种</h2>").arg(groupedCount(r.chatteringTexts))
            + (rows.isEmpty() ? QStringLiteral("<p>无</p>")
                              : htmlTable({QStringLiteral("抖动次数"), QStringLiteral("条数"), QStringLiteral("报警文本")}, rows));
    if (!r.perMachine.isEmpty()) {
        rows.clear();
        for (const AlarmReport::Machine& m : r.perMachine)
            rows << QStringList{m.name, groupedCount(m.total), decimal(m.perPeriod), groupedCount(m.maxPeriod),
                                groupedCount(m.periodsOver), QString::number(m.floods), QString::number(m.chatteringTexts)};
        html += QStringLiteral("<h2>各机器</h2>")
                + htmlTable({QStringLiteral("机器"), QStringLiteral("报警数"), QStringLiteral("每十分钟平均"), QStringLiteral("十分钟最多"),
                             QStringLiteral("超过 10 条的时段"), QStringLiteral("泛滥次数"), QStringLiteral("抖动报警")},
                            rows);
    }
    html += QStringLiteral("<h2>无法统计的指标</h2><ul>");
    for (const QString& line : alarmReportOutOfReach())
        html += QStringLiteral("<li>%1</li>").arg(escaped(line));
    html += QStringLiteral("</ul></body></html>\n");
    return html.toUtf8();
}

} // namespace SystemLog
