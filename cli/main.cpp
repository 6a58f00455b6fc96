// vxlog: the log's command-line companion. Results go to standard output,
// messages to standard error; exit status 0 on success (also when nothing
// matches), 1 when the database cannot be read or written, 2 on a usage error.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "CommandLine.h"
#include "Commands.h"
#include "StdoutWriter.h"

namespace {

struct Command
{
    const char* name;
    int (*run)(const QStringList&);
    const char* summary;
};

const Command kCommands[] = {
    {"query", runQuery, "按类型、时间、文本查询记录（text、csv 或 json 输出）"},
    {"export", runExport, "把某一天某一类型的记录导出为与查看器相同的文本文件"},
    {"follow", runFollow, "输出最后几条记录，并持续输出新写入的记录，直到 Ctrl-C"},
    {"write", runWrite, "通过日志服务写入一条记录，或标准输入的每一行"},
    {"stats", runStats, "按天和类型统计记录条数"},
    {"forward", runForward, "把记录经 RELP 转发到 syslog 服务器（rsyslog），至少送达一次"},
};

QString generalHelp()
{
    QString text = QStringLiteral("用法：vxlog 命令 [选项]\n\n系统日志（dbLog.db）的命令行工具。"
                                  "结果写到标准输出，提示写到标准错误；"
                                  "退出状态 0 表示成功（没有匹配的记录也是），1 表示数据库无法读取或写入，2 表示用法错误。"
                                  "读取命令（query、export、follow、stats）只读打开数据库，从不修改它。\n\n命令：\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(command.name).leftJustified(7), QString::fromUtf8(command.summary));
    text += QStringLiteral("\n用 vxlog 命令 --help 查看各命令的选项。\n");
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vxlog"));
    // Qt's own texts in the parser's help ("Usage:", "Options:") in Chinese.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);

    const QStringList arguments = QCoreApplication::arguments();
    const QString name = arguments.value(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        printOut(generalHelp());
        return kExitSuccess;
    }
    for (const Command& command : kCommands) {
        if (name == QLatin1String(command.name))
            return command.run(arguments.mid(2));
    }
    printError(name.isEmpty() ? QStringLiteral("vxlog：缺少命令（用 vxlog --help 查看用法）")
                              : QStringLiteral("vxlog：未知的命令“%1”（用 vxlog --help 查看用法）").arg(name));
    return kExitUsage;
}
