#include "Commands.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QRegularExpression>

#include <vxSyslog/LogVacuum.h>

#include "CommandLine.h"
#include "SizeArgument.h"
#include "StdoutWriter.h"
#include "TimeArgument.h"

using namespace SystemLog;

namespace {

// "90d", "12h", "6M", "1y": the moment that span back from now (calendar
// months and years as the local calendar counts them); invalid when the text
// is no span.
QDateTime boundOf(const QString& span)
{
    static const QRegularExpression spanForm(QStringLiteral("^\\d+ *[a-zA-Z]+$"));
    if (!spanForm.match(span.trimmed()).hasMatch())
        return QDateTime();
    const QDateTime now = QDateTime::currentDateTime();
    const QString text = timeArgument(QStringLiteral("-") + span.trimmed(), now);
    if (text.isNull())
        return QDateTime();
    const QString form = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QDateTime bound = QDateTime::fromString(text, form);
    if (bound.isValid())
        return bound;
    // A local time skipped by a change to summer time: read in today's offset.
    QDateTime utc = QDateTime::fromString(text, form);
    utc.setTimeSpec(Qt::UTC);
    return utc.addSecs(-now.offsetFromUtc());
}

// A vacuum that stopped part way: what it did stays done and recorded.
void reportStop(const VacuumResult& done, const QString& error)
{
    printError(QStringLiteral("vxlog vacuum：%1").arg(error));
    if (done.removed > 0)
        printError(QStringLiteral("停止前已清理 %1 条早于 %2 的记录，并已在日志中写入记录；再次运行即可继续。")
                       .arg(done.removed)
                       .arg(done.removedBefore));
    else if (done.lockedOut)
        printError(QStringLiteral("没有清理任何记录；请在其他程序释放数据库后再次运行。"));
}

QString report(const VacuumResult& result)
{
    QString text = result.removed > 0
                       ? QStringLiteral("已清理 %1 条早于 %2 的记录。\n").arg(result.removed).arg(result.removedBefore)
                       : QStringLiteral("没有需要清理的记录。\n");
    text += QStringLiteral("数据库文件：%1 → %2\n").arg(sizeText(result.bytesBefore), sizeText(result.bytesAfter));
    if (result.freeBytesLeft > 0) {
        text += QStringLiteral("文件中还有空闲页 %1：这个文件没有启用增量整理，新记录会先使用这些空间；"
                               "用 --compact 一次性整理（整理期间文件被锁住）。\n")
                    .arg(sizeText(result.freeBytesLeft));
    }
    text += QStringLiteral("共 %1 个事务，最长一次锁住文件 %2 毫秒。\n").arg(result.transactions).arg(result.longestLockMs);
    return text;
}

} // namespace

int runVacuum(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("vacuum"),
                     QStringLiteral("删除旧记录并把空间还给文件系统，期间写入日志的程序和查看器照常工作："
                                    "每个事务只锁住文件很短时间。删除后写入一条“其他信息”记录"
                                    "“已清理 N 条早于 … 的记录（…）”，说明这段空缺。"
                                    "--time 与 --size 可以同用（先按时间，再按大小）；至少给出一个。"));
    line.addDatabase();
    line.addOption(QCommandLineOption({QStringLiteral("time"), QStringLiteral("vacuum-time")},
                                      QStringLiteral("删除早于这段时间以前的记录（不删除该时刻及以后的记录，无论类型）。"
                                                     "写法：数字加单位 s、m、h、d、w、M（月）、y。例：--time 90d、--time 6M"),
                                      QStringLiteral("时长")));
    line.addOption(QCommandLineOption({QStringLiteral("size"), QStringLiteral("vacuum-size")},
                                      QStringLiteral("按写入顺序删除最早的记录，直到文件不大于这个大小（写入者同时写入的除外）。"
                                                     "单位 K、M、G、T（1024 进制）。例：--size 500M"),
                                      QStringLiteral("大小")));
    line.addOption(QCommandLineOption(QStringLiteral("compact"),
                                      QStringLiteral("旧版本建立的文件不能逐步归还空间：删除后空闲页留在文件中，供新记录使用。"
                                                     "--compact 把这样的文件一次性重建（VACUUM），之后它和新文件一样逐步归还空间。"
                                                     "重建期间文件一直被锁住，写入者可能丢弃记录。")));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    if (!line.noExtraArguments())
        return kExitUsage;

    VacuumLimits limits;
    QStringList request{QStringLiteral("vxlog vacuum")};
    if (line.isSet(QStringLiteral("time"))) {
        limits.olderThanTime = boundOf(line.value(QStringLiteral("time")));
        if (!limits.olderThanTime.isValid())
            return line.usageError(QStringLiteral("--time 需要数字加单位的时长（如 90d、12h、6M），而不是“%1”")
                                       .arg(line.value(QStringLiteral("time"))));
        request << QStringLiteral("--time") << line.value(QStringLiteral("time"));
    }
    if (line.isSet(QStringLiteral("size"))) {
        limits.maxBytes = sizeArgument(line.value(QStringLiteral("size")));
        if (limits.maxBytes < 0)
            return line.usageError(QStringLiteral("--size 需要大小（如 500M、2G、65536），而不是“%1”")
                                       .arg(line.value(QStringLiteral("size"))));
        request << QStringLiteral("--size") << line.value(QStringLiteral("size"));
    }
    if (!limits.olderThanTime.isValid() && limits.maxBytes < 0 && !line.isSet(QStringLiteral("compact")))
        return line.usageError(QStringLiteral("需要 --time、--size 或 --compact"));
    limits.compact = line.isSet(QStringLiteral("compact"));
    if (limits.compact)
        request << QStringLiteral("--compact");
    limits.requestedBy = request.join(QLatin1Char(' '));

    LogVacuum vacuum(line.databasePath());
    const bool ok = vacuum.run(limits);
    if (!ok) {
        reportStop(vacuum.result(), vacuum.errorText());
        return kExitFailure;
    }
    return printResult(report(vacuum.result()));
}
