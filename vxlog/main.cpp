// vxlog: the log's command-line companion. Results go to standard output,
// messages to standard error; exit status 0 on success (also when nothing
// matches), 1 when the database cannot be read or written or the output
// fails, 2 on a usage error.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>

#include "CommandLine.h"
#include "CommandTable.h"
#include "Commands.h"
#include "StdoutWriter.h"

namespace {

QString generalHelp()
{
    QString text = QStringLiteral("用法：vxlog [选项] 命令 [选项]\n\n系统日志（dbLog.db）的命令行工具。"
                                  "结果写到标准输出，提示写到标准错误。"
                                  "读取命令（query、export、follow、stats）从不改变数据库的内容；"
                                  "写入曾被中断时，它们会让 SQLite 完成自己的恢复。\n\n命令：\n");
    for (const Command* command = commandsBegin(); command != commandsEnd(); ++command) {
        text += QStringLiteral("  %1\n      %2\n      例：%3\n")
                    .arg(QLatin1String(command->name), QString::fromUtf8(command->summary), QString::fromUtf8(command->example));
    }
    text += QStringLiteral("\n用 vxlog 命令 --help 查看各命令的选项；选项可以写在命令之前或之后（如 vxlog --db x.db query）。\n"
                           "  -h, --help     显示本帮助并退出\n"
                           "  --version      显示版本并退出\n"
                           "  --disk-usage   同 vxlog stats --disk-usage：数据库文件占用的空间\n"
                           "  --vacuum-time <时长>, --vacuum-size <大小>\n"
                           "                 同 vxlog vacuum --time/--size：删除旧记录（例：vxlog --vacuum-time 90d）\n\n"
                           "退出状态：0 成功（没有匹配的记录也是）；1 数据库无法读取或写入，或结果无法写出；2 用法错误。\n");
    return text;
}

// The command and the other arguments, options before the command moved
// after it; null when there is no command. An option's value is never taken
// for the command.
QString splitCommand(const QStringList& arguments, QStringList& rest)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--")) {
            break;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            if (CommandLine::takesValue(argument))
                ++i;
        } else {
            rest = arguments.mid(0, i) + arguments.mid(i + 1);
            return argument;
        }
    }
    rest = arguments;
    return QString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vxlog"));
    // Qt's own texts (the parser's errors, file errors) in Chinese.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);

    QStringList rest;
    const QString name = splitCommand(QCoreApplication::arguments().mid(1), rest);
    if (const Command* command = findCommand(name))
        return command->run(rest);
    // journalctl's --disk-usage, --vacuum-time and --vacuum-size have no
    // command of their own.
    if (name.isNull()) {
        auto given = [&rest](const char* option) {
            return std::any_of(rest.begin(), rest.end(), [option](const QString& argument) {
                return argument == QLatin1String(option) || argument.startsWith(QLatin1String(option) + QLatin1Char('='));
            });
        };
        if (given("--disk-usage"))
            return runStats(rest);
        if (given("--vacuum-time") || given("--vacuum-size"))
            return runVacuum(rest);
    }
    if (name.isNull() || name == QLatin1String("help")) {
        if (rest.contains(QStringLiteral("--version")))
            return printResult(versionText());
        if (name == QLatin1String("help") || rest.contains(QStringLiteral("--help")) || rest.contains(QStringLiteral("-h")))
            return printResult(generalHelp());
    }
    printError(name.isEmpty() ? QStringLiteral("vxlog：缺少命令（用 vxlog --help 查看用法）")
                              : QStringLiteral("vxlog：未知的命令“%1”（用 vxlog --help 查看用法）").arg(name));
    return kExitUsage;
}
