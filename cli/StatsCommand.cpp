#include "Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMap>
#include <QVector>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/RecordTypes.h>

#include "CommandLine.h"
#include "ReaderOutput.h"
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

// One row per day: counts per type code, then the day's total.
using DayCounts = QMap<QString, QVector<qint64>>;

QString table(const DayCounts& days)
{
    QStringList header{QStringLiteral("日期")};
    header += recordTypeCaptions();
    header << QStringLiteral("合计");
    QVector<QStringList> rows;
    QVector<qint64> totals(kRecordTypeCount + 1, 0);
    for (auto it = days.begin(); it != days.end(); ++it) {
        QStringList row{it.key()};
        for (int i = 0; i <= kRecordTypeCount; ++i) {
            row << QString::number(it.value().at(i));
            totals[i] += it.value().at(i);
        }
        rows << row;
    }
    QStringList totalRow{QStringLiteral("合计")};
    for (qint64 total : totals)
        totalRow << QString::number(total);
    rows << totalRow;

    QVector<int> widths;
    for (const QString& title : header)
        widths << displayWidth(title);
    for (const QStringList& row : rows)
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], displayWidth(row.at(i)));

    QString text;
    auto appendRow = [&](const QStringList& row, bool numbersRight) {
        QStringList cells;
        for (int i = 0; i < row.size(); ++i)
            cells << padded(row.at(i), widths[i], numbersRight && i > 0);
        text += cells.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    };
    appendRow(header, true);
    for (const QStringList& row : rows)
        appendRow(row, true);
    return text;
}

} // namespace

int runStats(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("stats"),
                     QStringLiteral("统计所选时间段（默认全部）内每天每种类型的记录条数，并给出总数、最早与最新的时间"
                                    "和数据库文件的大小。"));
    line.addDatabase();
    line.addTypes();
    line.addTimeSpan();
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    RecordFilter filter;
    if (!line.filter(filter))
        return kExitUsage;
    if (!line.noExtraArguments())
        return kExitUsage;

    LogReader reader(line.databasePath());
    if (!openOrReport(reader))
        return kExitFailure;
    DayCounts days;
    LogReader::Span span;
    const bool ok = reader.countPerDayAndType(filter, [&days](const LogReader::DayTypeCount& count) {
        QVector<qint64>& row = days[count.day];
        if (row.isEmpty())
            row.fill(0, kRecordTypeCount + 1);
        if (count.type >= 0 && count.type < kRecordTypeCount)
            row[count.type] += count.count;
        row[kRecordTypeCount] += count.count;
    }) && reader.span(filter, span);
    if (!ok) {
        printError(reader.errorText());
        return kExitFailure;
    }

    const QFileInfo file(line.databasePath());
    QString text = table(days);
    text += QStringLiteral("记录总数：%1\n").arg(span.total);
    text += QStringLiteral("最早记录：%1\n").arg(span.total > 0 ? span.oldest : QStringLiteral("（无）"));
    text += QStringLiteral("最新记录：%1\n").arg(span.total > 0 ? span.newest : QStringLiteral("（无）"));
    text += QStringLiteral("数据库文件：%1，%2 字节（%3）\n")
                .arg(QDir::toNativeSeparators(file.absoluteFilePath()))
                .arg(file.size())
                .arg(QLocale::system().formattedDataSize(file.size()));
    printOut(text);
    return kExitSuccess;
}
