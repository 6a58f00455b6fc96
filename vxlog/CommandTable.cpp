#include "CommandTable.h"

#include <iterator>

#include "Commands.h"

namespace {

const Command kCommands[] = {
    {"query", runQuery, "按类型、时间、文本查询记录（text、short、json、verbose 等格式输出）",
     "vxlog query -p alarm -S -1h -g 温度 -o short"},
    {"export", runExport, "把某一天某一类型的记录导出为与查看器相同的文本文件",
     "vxlog export --day 2024-05-01 -p 3 --dir exports"},
    {"follow", runFollow, "输出最后几条记录，并持续输出新写入的记录，直到 Ctrl-C",
     "vxlog follow -n 20 -p alarm,status"},
    {"write", runWrite, "通过日志服务写入一条记录，或标准输入的每一行",
     "echo \"备份完成\" | vxlog write -p status"},
    {"stats", runStats, "按天和类型统计记录条数",
     "vxlog stats -S -7d"},
    {"report", runReport, "报警统计：每十分钟报警数、报警泛滥、最常见和抖动的报警，与参考值并列（text、json、html）",
     "vxlog report --since -30d --merge-numbers -o html > 报警统计.html"},
    {"vacuum", runVacuum, "删除旧记录（按时间或文件大小）并归还空间，写入者和查看器照常工作",
     "vxlog vacuum --time 90d --size 500M"},
    {"forward", runForward, "把记录经 RELP 转发到 syslog 服务器（rsyslog），至少送达一次",
     "vxlog forward --to relp://logs.example:2514 --cursor-file /var/lib/vxlog/forward.cursor"},
    {"store", runStore, "由 rsyslog（omprog）启动，把收到的记录成批存入中央 PostgreSQL 数据库，一条不丢",
     "vxlog store --db postgresql://fleet_writer@db.example.com/fleet --spool /var/lib/vxlog-store"},
};

} // namespace

const Command* commandsBegin()
{
    return std::begin(kCommands);
}

const Command* commandsEnd()
{
    return std::end(kCommands);
}

const Command* findCommand(const QString& name)
{
    for (const Command* command = commandsBegin(); command != commandsEnd(); ++command) {
        if (name == QLatin1String(command->name))
            return command;
    }
    return nullptr;
}
