#include "CommandLine.h"

#include <QDateTime>
#include <QRegularExpression>

#include <limits>

#include <vxSyslog/TextIndex.h>

#include "CommandTable.h"
#include "StdoutWriter.h"
#include "TimeArgument.h"
#include "TypeArgument.h"

using SystemLog::LogQuery;
using SystemLog::RecordFormat;

namespace {

const QString kIndent = QStringLiteral("  ");
// --help, --version, --quiet and --no-pager come first in the parser and
// last in the help, after what the command is about.
constexpr int kCommonOptions = 4;
const QString kTextIndent = QStringLiteral("      ");

// The journal tool's smart case: a pattern with an upper-case letter of its
// own (not one of an escape such as \S) asks for exactly that case.
bool hasUpperCaseLetter(const QString& pattern)
{
    for (int i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) == QLatin1Char('\\'))
            ++i;
        else if (pattern.at(i).isUpper())
            return true;
    }
    return false;
}

QString optionSyntax(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& name : option.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString syntax = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        syntax += QStringLiteral(" <%1>").arg(option.valueName());
    return syntax;
}

} // namespace

QString versionText()
{
    return QStringLiteral("vxlog %1\n").arg(QStringLiteral(VXLOG_VERSION));
}

QString reverseWithFollow()
{
    return QStringLiteral("--reverse 与 --follow 只能选一个：持续输出时新记录总在最后");
}

CommandLine::CommandLine(const QString& command, const QString& description)
    : m_command(command)
    , m_description(description)
{
    // Help is ours rather than addHelpOption(), so that its text is Chinese
    // whatever translations are installed and its columns line up.
    addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示本帮助并退出。")));
    addOption(QCommandLineOption(QStringLiteral("version"), QStringLiteral("显示 vxlog 的版本并退出。")));
    addOption(QCommandLineOption({QStringLiteral("q"), QStringLiteral("quiet")},
                           QStringLiteral("不输出提示（例如 follow 等待或重新打开文件时的提示）；错误仍然输出。")));
    addOption(QCommandLineOption(QStringLiteral("no-pager"),
                           QStringLiteral("不使用分页程序。vxlog 从不分页，接受此选项是为了与 journalctl 的习惯一致。")));
    // The command itself is the first positional argument.
    m_parser.addPositionalArgument(command, QString(), command);
}

CommandLine::~CommandLine()
{
    if (m_toldIndexNotices)
        SystemLog::TextIndex::setNoticeSink({});
}

void CommandLine::addOption(const QCommandLineOption& option)
{
    m_parser.addOption(option);
    m_options << option;
    m_defined += option.names();
}

bool CommandLine::takesValue(const QString& argument)
{
    static const QStringList valueOptions{"db", "host", "p", "type", "day", "S", "since", "U", "until", "g", "grep",
                                          "n", "lines", "o", "output", "format", "dir",
                                          "to", "cursor-file", "time", "vacuum-time", "size", "vacuum-size", "facility", "hostname", "ca",
                                          "cert", "key", "peer", "max-message-size", "after-id", "spool"};
    QString name;
    if (argument.startsWith(QLatin1String("--")))
        name = argument.mid(2);
    else if (argument.startsWith(QLatin1Char('-')) && argument.size() == 2)
        name = argument.mid(1);
    return !name.isEmpty() && valueOptions.contains(name);
}

void CommandLine::addDatabase()
{
    addOption(QCommandLineOption(QStringLiteral("db"),
                           QStringLiteral("日志数据库文件，默认为当前文件夹中的 dbLog.db（与查看器相同）。"),
                           QStringLiteral("文件"), QStringLiteral("dbLog.db")));
}

void CommandLine::addSources()
{
    addOption(QCommandLineOption(QStringLiteral("db"),
                           QStringLiteral("日志数据库文件，默认为当前文件夹中的 dbLog.db（与查看器相同）。"
                                          "可给多次：多个文件（多台机器）的记录按时间合并，每条记录带上机器名称"
                                          "（文件名去掉 .db，或写成 名称=路径）。也可以是中央 PostgreSQL 数据库的地址 "
                                          "postgresql://用户@主机:端口/数据库（密码只从 ~/.pgpass 或 PGPASSWORD 读取）。"
                                          "列出多台机器时，text 的记录块写成“时间 机器 [类型]:”，"
                                          "short 在时间后写机器，csv 与 json 多一个 host 字段；"
                                          "列出多种类型时（包括不给 --type），text 的记录块也在时间后写“[类型]”。"),
                           QStringLiteral("文件"), QStringLiteral("dbLog.db")));
    addOption(QCommandLineOption(QStringLiteral("host"),
                           QStringLiteral("只要这台机器的记录（可给多次）：中央数据库中的 host，或多个文件中的机器名称。"),
                           QStringLiteral("机器")));
}

void CommandLine::addTypes(const QString& defaultTypes)
{
    const bool all = defaultTypes == QLatin1String("all");
    addOption(QCommandLineOption({QStringLiteral("p"), QStringLiteral("type")},
                           QStringLiteral("记录类型：编号、名称或英文名，用逗号分隔（如 3、报警记录,2 或 alarm,status），"
                                          "all 表示全部%1。%2；其他整数也可以（别的程序可能写入）。")
                               .arg(all ? QStringLiteral("（默认）") : QStringLiteral("；默认为 %1").arg(defaultTypes),
                                    typeArgumentList()),
                           QStringLiteral("类型"), defaultTypes));
}

void CommandLine::addSingleType(const QString& description)
{
    addOption(QCommandLineOption({QStringLiteral("p"), QStringLiteral("type")},
                           description + QStringLiteral("%1。").arg(typeArgumentList()), QStringLiteral("类型")));
}

void CommandLine::addDay()
{
    addOption(QCommandLineOption(QStringLiteral("day"),
                           QStringLiteral("某一天（yyyy-MM-dd，或 today、yesterday、tomorrow）的全部记录，"
                                          "00:00:00 与 23:59:59 两端都包含。"),
                           QStringLiteral("日期")));
}

void CommandLine::addTimeSpan()
{
    addDay();
    addOption(QCommandLineOption({QStringLiteral("S"), QStringLiteral("since")},
                           QStringLiteral("只要这个时间及以后的记录（包含该时刻，与 journalctl 和查看器相同）。")
                               + timeArgumentForms(),
                           QStringLiteral("时间")));
    addOption(QCommandLineOption({QStringLiteral("U"), QStringLiteral("until")},
                           QStringLiteral("只要这个时间及以前的记录（包含该时刻）。时间的写法同 --since。"),
                           QStringLiteral("时间")));
    addOption(QCommandLineOption(QStringLiteral("utc"),
                           QStringLiteral("时间按 UTC 显示与理解（与 journalctl 相同）：输出中的时间换算为 UTC，"
                                          "--since、--until、--day 中没有时区的时间按 UTC 理解。数据库中存的仍是本机时间。"
                                          "例：vxlog query --utc -S \"2026-12-09 00:30\" -o short-iso")));
}

void CommandLine::addJumpToEnd()
{
    addOption(QCommandLineOption({QStringLiteral("e"), QStringLiteral("pager-end")},
                           QStringLiteral("跳到末尾：没有 -n 时只输出最后 1000 条（与 journalctl -e 相同；vxlog 不分页）。"
                                          "例：vxlog query -e -p alarm")));
}

void CommandLine::addGrep()
{
    addOption(QCommandLineOption({QStringLiteral("g"), QStringLiteral("grep")},
                           QStringLiteral("只要消息与该正则表达式（Perl 兼容）匹配的记录。与 journalctl 相同，"
                                          "模式全是小写时不区分大小写，含大写字母时区分。"),
                           QStringLiteral("模式")));
    addOption(QCommandLineOption({QStringLiteral("F"), QStringLiteral("fixed-strings")},
                                 QStringLiteral("--grep 的模式是普通文字而不是正则表达式（与 grep -F 相同），"
                                                "括号等符号按原样查找。例：vxlog query -F -g '报警号(4001)'")));
    addOption(QCommandLineOption(QStringLiteral("ignore-case"), QStringLiteral("--grep 总是不区分大小写。")));
    addOption(QCommandLineOption(QStringLiteral("case-sensitive"), QStringLiteral("--grep 总是区分大小写。")));
}

void CommandLine::addLines(const QString& description)
{
    addOption(QCommandLineOption({QStringLiteral("n"), QStringLiteral("lines")},
                           description + QStringLiteral("N 只能是不小于 0 的整数，或 all（全部）。例：-n 50、-n all"),
                           QStringLiteral("N")));
}

void CommandLine::addAfterId(const QString& description)
{
    addOption(QCommandLineOption(QStringLiteral("after-id"), description, QStringLiteral("ID")));
}

bool CommandLine::afterId(qint64& id) const
{
    id = -1;
    if (!m_parser.isSet(QStringLiteral("after-id")))
        return true;
    const QString text = m_parser.value(QStringLiteral("after-id"));
    bool isNumber = false;
    id = text.toLongLong(&isNumber);
    if (!isNumber || id < 0 || !text.at(0).isDigit()) {
        usageError(QStringLiteral("--after-id 需要一个记录编号（不小于 0 的整数），而不是“%1”").arg(text));
        return false;
    }
    return true;
}

void CommandLine::addReverse()
{
    addOption(QCommandLineOption({QStringLiteral("r"), QStringLiteral("reverse")},
                           QStringLiteral("最新的记录在前。不能与 -f（follow）同用：持续输出时新记录总在最后"
                                          "（journalctl 的 --reverse 与 --follow 同样不能同用）。")));
}

void CommandLine::addCount()
{
    addOption(QCommandLineOption(QStringLiteral("count"), QStringLiteral("只输出匹配记录的条数。")));
}

void CommandLine::addFollow()
{
    addOption(QCommandLineOption({QStringLiteral("f"), QStringLiteral("follow")},
                           QStringLiteral("同 vxlog follow：先输出最后 N 条（-n，默认 10），再持续输出新写入的记录。")));
}

void CommandLine::addFormat()
{
    addOption(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output"), QStringLiteral("format")},
                           QStringLiteral("输出格式：text（查看器中的记录块“时间:\\n消息”，默认）；"
                                          "short（每条一行：“时间 类型名称 消息”，消息中的换行显示为 ⏎，末尾的换行不显示）；"
                                          "short-iso（同 short，时间为带时区的 ISO 8601，如 2024-05-01T08:00:00+08:00）；"
                                          "cat（只有消息，原样输出）；"
                                          "csv（RFC 4180，表头 id,datetime,type,type_name,message）；"
                                          "json（JSON Lines，每条记录一个对象）；"
                                          "json-pretty（同 json，每个字段一行，便于阅读）；"
                                          "verbose（每条记录的全部列，每列一行“    列名=值”）。"
                                          "text、short、cat 与 csv 原样输出存储的字节；json 总是有效的 UTF-8，"
                                          "不是 UTF-8 的字节显示为 U+FFFD（与查看器相同）。"
                                          "类型不是 0 到 4 的记录，类型名称为“类型 N”，类型不是整数的为“类型 ?”。"
                                          "例：-o short-iso、-o json-pretty、-o verbose"),
                           QStringLiteral("格式"), QStringLiteral("text")));
}

void CommandLine::addValue(const QString& name, const QString& valueName, const QString& description)
{
    addOption(QCommandLineOption(name, description, valueName));
}

void CommandLine::addPositional(const QString& name, const QString& description, const QString& syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
    m_positionalSyntax << syntax;
    m_positionalHelp << qMakePair(name, description);
}

QString CommandLine::helpText() const
{
    QString text = QStringLiteral("用法：vxlog %1 [选项]").arg(m_command);
    for (const QString& syntax : m_positionalSyntax)
        text += QLatin1Char(' ') + syntax;
    text += QStringLiteral("\n\n%1\n\n选项：\n").arg(m_description);
    const QList<QCommandLineOption> inHelpOrder = m_options.mid(kCommonOptions) + m_options.mid(0, kCommonOptions);
    for (const QCommandLineOption& option : inHelpOrder)
        text += kIndent + optionSyntax(option) + QLatin1Char('\n') + kTextIndent + option.description() + QLatin1Char('\n');
    if (!m_positionalHelp.isEmpty()) {
        text += QStringLiteral("\n参数：\n");
        for (const auto& argument : m_positionalHelp)
            text += kIndent + argument.first + QLatin1Char('\n') + kTextIndent + argument.second + QLatin1Char('\n');
    }
    if (const Command* command = findCommand(m_command))
        text += QStringLiteral("\n例子：\n") + kIndent + QString::fromUtf8(command->example) + QLatin1Char('\n');
    text += QStringLiteral("\n选项可以写在命令之前或之后。退出状态：0 成功（没有匹配的记录也是）；"
                           "1 数据库无法读取或写入，或结果无法写出；2 用法错误。\n");
    return text;
}

int CommandLine::parse(const QStringList& argumentsAfterCommand)
{
    QStringList arguments{QStringLiteral("vxlog"), m_command};
    arguments += argumentsAfterCommand;
    if (!m_parser.parse(arguments))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help")))
        return printResult(helpText());
    if (m_parser.isSet(QStringLiteral("version")))
        return printResult(versionText());
    // Refused before any message can repeat one: every command that takes
    // --db (a single file's path too) and any word that was meant for it.
    QString refused;
    const QStringList named = defined(QStringLiteral("db")) ? databaseLocations() + positional() : positional();
    for (const QString& location : named) {
        if (SystemLog::LogSource::refusesPassword(location, refused))
            return usageError(refused);
    }
    return -1;
}

int CommandLine::usageError(const QString& problem) const
{
    QString oneLine = problem;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    printError(QStringLiteral("vxlog %1：%2（用 vxlog %1 --help 查看用法）").arg(m_command, oneLine.trimmed()));
    return kExitUsage;
}

void CommandLine::notice(const QString& text) const
{
    if (!m_parser.isSet(QStringLiteral("quiet")))
        printError(text);
}

QString CommandLine::databasePath() const
{
    return m_parser.value(QStringLiteral("db"));
}

QStringList CommandLine::databaseLocations() const
{
    return m_parser.values(QStringLiteral("db"));
}

bool CommandLine::isOneFile() const
{
    const QStringList locations = databaseLocations();
    return locations.size() == 1 && !m_parser.isSet(QStringLiteral("host"))
           && !SystemLog::LogSource::isDatabaseUrl(locations.first());
}

std::unique_ptr<SystemLog::LogSource> CommandLine::source() const
{
    QString error;
    std::unique_ptr<SystemLog::LogSource> made =
        SystemLog::LogSource::create(databaseLocations(), m_parser.values(QStringLiteral("host")), error);
    if (!made)
        usageError(error);
    return made;
}

QStringList CommandLine::positional() const
{
    return m_parser.positionalArguments().mid(1);
}

bool CommandLine::parseTypes(const QString& text, QVector<int>& types) const
{
    types.clear();
    if (text.trimmed().compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
        return true;
    for (const QString& piece : text.split(QLatin1Char(','))) {
        int type = 0;
        if (!typeArgument(piece, type)) {
            usageError(QStringLiteral("未知的记录类型“%1”，可用整数、%2 或 all").arg(piece.trimmed(), typeArgumentList()));
            return false;
        }
        if (!types.contains(type))
            types << type;
    }
    return true;
}

bool CommandLine::singleType(int& type) const
{
    QVector<int> types;
    if (!parseTypes(m_parser.value(QStringLiteral("type")), types))
        return false;
    if (types.size() != 1) {
        usageError(QStringLiteral("--type 需要恰好一种记录类型"));
        return false;
    }
    type = types.first();
    return true;
}

bool CommandLine::parseTimeSpan(LogQuery& filter) const
{
    if (!defined(QStringLiteral("day")))
        return true;
    const bool hasDay = m_parser.isSet(QStringLiteral("day"));
    const bool hasSince = defined(QStringLiteral("since")) && m_parser.isSet(QStringLiteral("since"));
    const bool hasUntil = defined(QStringLiteral("until")) && m_parser.isSet(QStringLiteral("until"));
    if (hasDay && (hasSince || hasUntil)) {
        usageError(QStringLiteral("--day 不能与 --since/--until 同用"));
        return false;
    }
    if (hasDay) {
        const QString day = dayArgument(m_parser.value(QStringLiteral("day")), QDateTime::currentDateTime(), utc());
        if (day.isNull()) {
            usageError(QStringLiteral("--day 需要 yyyy-MM-dd 形式的日期（或 today、yesterday、tomorrow），而不是“%1”")
                           .arg(m_parser.value(QStringLiteral("day"))));
            return false;
        }
        filter.since = dayBound(day, false, utc());
        filter.until = dayBound(day, true, utc());
        return true;
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (const char* name : {"since", "until"}) {
        const QString option = QLatin1String(name);
        if (!defined(option) || !m_parser.isSet(option))
            continue;
        const QString at = timeArgument(m_parser.value(option), now, utc());
        if (at.isNull()) {
            usageError(QStringLiteral("--%1 无法识别的时间“%2”").arg(option, m_parser.value(option)));
            return false;
        }
        (option == QLatin1String("since") ? filter.since : filter.until) = at;
    }
    if (hasSince && hasUntil && filter.since > filter.until) {
        usageError(QStringLiteral("--since（%1）晚于 --until（%2），没有记录能在这段时间内").arg(filter.since, filter.until));
        return false;
    }
    return true;
}

bool CommandLine::parseGrep(LogQuery& filter) const
{
    if (!defined(QStringLiteral("grep")))
        return true;
    const bool ignoreCase = m_parser.isSet(QStringLiteral("ignore-case"));
    const bool caseSensitive = m_parser.isSet(QStringLiteral("case-sensitive"));
    if (ignoreCase && caseSensitive) {
        usageError(QStringLiteral("--ignore-case 不能与 --case-sensitive 同用"));
        return false;
    }
    if (!m_parser.isSet(QStringLiteral("grep")))
        return true;
    filter.grep = m_parser.value(QStringLiteral("grep"));
    filter.ignoreCase = ignoreCase || (!caseSensitive && !hasUpperCaseLetter(filter.grep));
    filter.fixedStrings = m_parser.isSet(QStringLiteral("fixed-strings"));
    // A search that builds the text index first, or cannot use it, says so once.
    SystemLog::TextIndex::setNoticeSink(
        [this](SystemLog::TextIndex::Notice, const QString& text) { notice(QStringLiteral("vxlog %1：%2").arg(m_command, text)); });
    m_toldIndexNotices = true;
    const QRegularExpression pattern(filter.grep);
    if (!filter.fixedStrings && !pattern.isValid()) {
        usageError(QStringLiteral("--grep 的正则表达式无效：%1").arg(pattern.errorString()));
        return false;
    }
    return true;
}

bool CommandLine::lines(int& count, int defaultCount) const
{
    count = defaultCount;
    if (defined(QStringLiteral("pager-end")) && m_parser.isSet(QStringLiteral("pager-end")))
        count = kPagerEndLines;
    if (!m_parser.isSet(QStringLiteral("lines")))
        return true;
    // Only digits: "+2" or " 2" are not taken for 2, and a number too large
    // for a count means every record, as it does.
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    const QString text = m_parser.value(QStringLiteral("lines"));
    if (text == QLatin1String("all")) {
        count = -1;
        return true;
    }
    if (!digits.match(text).hasMatch()) {
        usageError(QStringLiteral("-n 需要一个不小于 0 的整数（只写数字，如 -n 20）或 all，而不是“%1”").arg(text));
        return false;
    }
    bool fits = false;
    const int number = text.toInt(&fits);
    count = fits ? number : std::numeric_limits<int>::max();
    return true;
}

bool CommandLine::filter(LogQuery& filter) const
{
    filter = LogQuery();
    return parseTypes(m_parser.value(QStringLiteral("type")), filter.types) && parseTimeSpan(filter) && parseGrep(filter);
}

bool CommandLine::format(RecordFormat& format) const
{
    const QString name = m_parser.value(QStringLiteral("format"));
    if (SystemLog::recordFormatFromName(name, format))
        return true;
    usageError(QStringLiteral("未知的输出格式“%1”，可用 %2").arg(name, SystemLog::recordFormatNames().join(QStringLiteral("、"))));
    return false;
}

bool CommandLine::utc() const
{
    return defined(QStringLiteral("utc")) && m_parser.isSet(QStringLiteral("utc"));
}

SystemLog::TimeZoneShown CommandLine::zone() const
{
    return utc() ? SystemLog::TimeZoneShown::Utc : SystemLog::TimeZoneShown::Local;
}

bool CommandLine::noExtraArguments() const
{
    const QStringList extra = positional();
    if (extra.isEmpty())
        return true;
    usageError(QStringLiteral("多余的参数“%1”").arg(extra.first()));
    return false;
}
