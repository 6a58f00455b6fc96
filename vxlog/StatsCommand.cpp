#include "Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMap>
#include <QVector>

#include <limits>

#include <vxSyslog/DiskUsage.h>
#include <vxSyslog/TextIndex.h>
#include <vxSyslog/LogReader.h>
#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/LogSource.h>

#include "CommandLine.h"
#include "ReaderOutput.h"
#include "SizeArgument.h"
#include "StdoutWriter.h"

using namespace SystemLog;

namespace {

// Columns line up in a terminal: CJK characters take two cells.
int displayWidth(const QString& text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    return width;
}

QString padded(const QString& text, int width, bool right)
{
    const QString fill(qMax(0, width - displayWidth(text)), QLatin1Char(' '));
    return right ? fill + text : text + fill;
}

// A column per type, in the order of their numbers: 0 to 4 always, any
// other integer that occurs, and last the values that are not an integer
// (whose key sorts after every integer a log holds).
constexpr qint64 kNotAnInt = std::numeric_limits<qint64>::max();

QString columnTitle(qint64 key)
{
    if (key == kNotAnInt)
        return unknownRecordTypeName();
    if (key < std::numeric_limits<int>::min() || key > std::numeric_limits<int>::max())
        return QStringLiteral("类型 %1").arg(key);
    return recordTypeName(static_cast<int>(key));
}

// Counts per day (rows) and type (columns).
struct DayCounts
{
    QMap<QString, QMap<qint64, qint64>> days;
    QMap<qint64, qint64> columns{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}};  // column totals
};

QString table(const DayCounts& counts)
{
    QStringList header{QStringLiteral("日期")};
    for (auto column = counts.columns.begin(); column != counts.columns.end(); ++column)
        header << columnTitle(column.key());
    header << QStringLiteral("合计");
    auto rowOf = [&counts](const QString& title, const QMap<qint64, qint64>& cells) {
        QStringList row{title};
        qint64 total = 0;
        for (auto column = counts.columns.begin(); column != counts.columns.end(); ++column) {
            row << QString::number(cells.value(column.key()));
            total += cells.value(column.key());
        }
        return row << QString::number(total);
    };
    QVector<QStringList> rows;
    for (auto day = counts.days.begin(); day != counts.days.end(); ++day)
        rows << rowOf(day.key(), day.value());
    rows << rowOf(QStringLiteral("合计"), counts.columns);

    QVector<int> widths;
    for (const QString& title : header)
        widths << displayWidth(title);
    for (const QStringList& row : rows)
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], displayWidth(row.at(i)));

    QString text;
    auto appendRow = [&](const QStringList& row) {
        QStringList cells;
        for (int i = 0; i < row.size(); ++i)
            cells << padded(row.at(i), widths[i], i > 0);
        text += cells.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    };
    appendRow(header);
    for (const QStringList& row : rows)
        appendRow(row);
    return text;
}

// Only the room the log takes, as journalctl --disk-usage: the file is not
// opened as a database.
int printDiskUsage(const QString& path)
{
    DiskUsage usage;
    QString error;
    if (!readDiskUsage(path, usage, error)) {
        printError(error);
        return kExitFailure;
    }
    QString text = QStringLiteral("数据库文件 %1 占用 %2，其中空闲页 %3")
                       .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), sizeText(usage.fileBytes),
                            sizeText(usage.freeBytes));
    if (usage.besideBytes > 0)
        text += QStringLiteral("；旁边属于它的文件（日志、未写入的记录）另占 %1").arg(sizeText(usage.besideBytes));
    if (usage.indexBytes > 0)
        text += QStringLiteral("；文本索引 %1 另占 %2")
                    .arg(QFileInfo(SystemLog::TextIndex::pathFor(path)).fileName(), sizeText(usage.indexBytes));
    return printResult(text + QStringLiteral("。\n"));
}

} // namespace

int runStats(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("stats"),
                     QStringLiteral("统计所选时间段（默认全部）内每天每种类型的记录条数，并给出总数、最早与最新的时间"
                                    "和数据库文件的大小。类型不是 0 到 4 的记录各有一列“类型 N”，"
                                    "类型不是整数的记录在“类型 ?”一列。每天按本机日期统计（--utc 只改变时间段的理解和最早、最新记录的显示）。"));
    line.addSources();
    line.addTypes();
    line.addTimeSpan();
    line.addOption(QCommandLineOption(QStringLiteral("disk-usage"),
                                      QStringLiteral("只输出数据库文件占用的空间、其中的空闲页（vxlog vacuum 可归还）"
                                                     "、旁边属于它的文件和文本索引，不读取记录（与 journalctl --disk-usage 相同）。"
                                                     "例：vxlog stats --disk-usage，或 vxlog --disk-usage")));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    if (line.isSet(QStringLiteral("disk-usage")))
        return line.noExtraArguments() ? printDiskUsage(line.databasePath()) : kExitUsage;
    LogQuery filter;
    if (!line.filter(filter))
        return kExitUsage;
    if (!line.noExtraArguments())
        return kExitUsage;

    const std::unique_ptr<LogSource> source = line.source();
    if (!source)
        return kExitUsage;
    if (!openOrReport(*source))
        return kExitFailure;
    DayCounts counts;
    LogReader::Span span;
    const bool ok = source->countPerDayAndType(filter, [&counts](const LogReader::DayTypeCount& count) {
        const qint64 column = count.typeIsInt ? count.type : kNotAnInt;
        counts.days[count.day][column] += count.count;
        counts.columns[column] += count.count;
    }) && source->span(filter, span);
    StdoutWriter out;
    if (ok) {
        QString text = table(counts);
        text += QStringLiteral("记录总数：%1\n").arg(span.total);
        const TimeZoneShown zone = line.zone();
        const QString inZone = line.utc() ? QStringLiteral(" UTC") : QString();
        text += QStringLiteral("最早记录：%1\n").arg(span.total > 0 ? shownTime(span.oldest, zone) + inZone : QStringLiteral("（无）"));
        text += QStringLiteral("最新记录：%1\n").arg(span.total > 0 ? shownTime(span.newest, zone) + inZone : QStringLiteral("（无）"));
        if (source->files().isEmpty())
            text += QStringLiteral("中央数据库：%1\n").arg(LogSource::shownLocation(line.databaseLocations().join(QLatin1Char(' '))));
        for (const QString& path : source->files()) {
            const QFileInfo file(path);
            text += QStringLiteral("数据库文件：%1，%2 字节（%3）\n")
                        .arg(QDir::toNativeSeparators(file.absoluteFilePath()))
                        .arg(file.size())
                        .arg(QLocale::system().formattedDataSize(file.size()));
        }
        out.buffer() += text.toUtf8();
    }
    return finishRecordStream(ok, *source, out);
}
