#include "Commands.h"

#include <QCommandLineOption>

#include <csignal>

#include <vxSyslog/LogSource.h>

#include "BatchSpool.h"
#include "CommandLine.h"
#include "FleetDatabase.h"
#include "StdoutWriter.h"
#include "StoreSession.h"

namespace {

QString storeDescription()
{
    return QStringLiteral(
        "把 rsyslog 交来的记录存入中央 PostgreSQL 数据库（docs/fleet.md）。由 rsyslog 的 omprog 启动"
        "（confirmMessages=\"on\"、useTransactions=\"on\"），从标准输入读接收端模板写出的行（主机名、时间、"
        "结构化数据、消息，各按 JSON 转义，以制表符分隔），每批记录用一条语句存入 fleet_log，"
        "存入或暂存到磁盘后才向 rsyslog 确认。\n\n"
        "每条记录都存得下：类型不是整数的存为 NULL，不是 UTF-8 的字节存为 U+FFFD，NUL 存为 U+2400；"
        "改动过的记录和存不进 fleet_log 的消息（没有 vxlog 记录编号的、主机名无效的、数据库拒绝的）"
        "连同原样的消息写入 fleet_log_rejects。\n\n"
        "数据库不可用（连不上、没有权限、没有表、磁盘已满）时，确认过的批次按顺序暂存在 --spool 文件夹中，"
        "每秒重试，恢复后先按顺序写入它们；原因写到标准错误，并经 rsyslog 写入它自己的日志。");
}

} // namespace

int runStore(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("store"), storeDescription());
    line.addOption(QCommandLineOption(QStringLiteral("db"),
                                      QStringLiteral("中央数据库的地址 postgresql://用户@主机:端口/数据库，必须给出。密码不能写在地址中："
                                                     "写在 passfile= 所指的文件、PGPASSFILE 所指的文件、~/.pgpass 或 PGPASSWORD 中。"),
                                      QStringLiteral("地址")));
    line.addOption(QCommandLineOption(QStringLiteral("spool"),
                                      QStringLiteral("暂存文件夹：数据库不可用时确认过的批次存在这里（每批一个文件，写入后同步到磁盘），"
                                                     "不存在时新建（权限 0700）。必须给出，一个文件夹只能由一个 vxlog store 使用。"),
                                      QStringLiteral("文件夹")));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    if (!line.noExtraArguments())
        return kExitUsage;
    const QString url = line.value(QStringLiteral("db"));
    if (!SystemLog::LogSource::isDatabaseUrl(url))
        return line.usageError(QStringLiteral("需要 --db postgresql://用户@主机:端口/数据库"));
    QString error;
    if (!SystemLog::LogSource::create({url}, {}, error))
        return line.usageError(error);
    if (line.value(QStringLiteral("spool")).isEmpty())
        return line.usageError(QStringLiteral("需要 --spool 文件夹"));

    // rsyslog going away mid-answer must not end the process by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    BatchSpool spool;
    if (!spool.open(line.value(QStringLiteral("spool")), error)) {
        printError(QStringLiteral("vxlog store：%1").arg(error));
        return kExitFailure;
    }
    FleetDatabase database(url);
    StoreSession session(database, spool, 0, 1);
    return session.run() == 0 ? kExitSuccess : kExitFailure;
}
