#include "CommandLine.h"

#include <QDateTime>
#include <QRegularExpression>

#include <vxSyslog/RecordTypes.h>

#include "StdoutWriter.h"
#include "TimeArgument.h"

using SystemLog::RecordFilter;
using SystemLog::RecordFormat;

namespace {

QString typeList()
{
    QStringList pairs;
    const QStringList captions = SystemLog::recordTypeCaptions();
    for (int i = 0; i < captions.size(); ++i)
        pairs << QStringLiteral("%1=%2").arg(i).arg(captions.at(i));
    return pairs.join(QStringLiteral("，"));
}

} // namespace

CommandLine::CommandLine(const QString& command, const QString& description)
    : m_command(command)
{
    m_parser.setApplicationDescription(description);
    // Help is ours rather than addHelpOption(), so that its text is Chinese
    // whatever translations are installed.
    add(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示本帮助并退出。")));
    // The command itself is the first positional argument, so the usage
    // line reads "vxlog [选项] query".
    m_parser.addPositionalArgument(command, QStringLiteral("命令。"), command);
}

void CommandLine::add(const QCommandLineOption& option)
{
    m_parser.addOption(option);
    m_defined += option.names();
}

void CommandLine::addDatabase()
{
    add(QCommandLineOption(QStringLiteral("db"),
                                          QStringLiteral("日志数据库文件，默认为当前文件夹中的 dbLog.db（与查看器相同）。"),
                                          QStringLiteral("文件"), QStringLiteral("dbLog.db")));
}

void CommandLine::addTypes()
{
    add(QCommandLineOption({QStringLiteral("p"), QStringLiteral("type")},
                                          QStringLiteral("记录类型：代码或名称，用逗号分隔（如 3 或 报警记录,2），"
                                                         "all 表示全部（默认）。%1。").arg(typeList()),
                                          QStringLiteral("类型"), QStringLiteral("all")));
}

void CommandLine::addSingleType(const QString& description)
{
    add(QCommandLineOption({QStringLiteral("p"), QStringLiteral("type")},
                                          description + QStringLiteral("%1。").arg(typeList()), QStringLiteral("类型")));
}

void CommandLine::addDay()
{
    add(QCommandLineOption(QStringLiteral("day"),
                                          QStringLiteral("某一天（yyyy-MM-dd）的全部记录，00:00:00 与 23:59:59 两端都包含。"),
                                          QStringLiteral("日期")));
}

void CommandLine::addTimeSpan()
{
    addDay();
    const QString forms = QStringLiteral("可写作 \"yyyy-MM-dd hh:mm:ss\"、\"yyyy-MM-dd\"（当天零点）、today、yesterday，"
                                         "或相对现在的 -30s、-30min、-2h、-7d。");
    add(QCommandLineOption({QStringLiteral("S"), QStringLiteral("since")},
                                          QStringLiteral("只要这个时间及以后的记录（包含该时刻，与 journalctl 相同；"
                                                         "查看器自己的查询不包含两端）。") + forms,
                                          QStringLiteral("时间")));
    add(QCommandLineOption({QStringLiteral("U"), QStringLiteral("until")},
                                          QStringLiteral("只要这个时间及以前的记录（包含该时刻，与 journalctl 相同；"
                                                         "查看器自己的查询不包含两端）。") + forms,
                                          QStringLiteral("时间")));
}

void CommandLine::addGrep()
{
    add(QCommandLineOption({QStringLiteral("g"), QStringLiteral("grep")},
                                          QStringLiteral("只要消息与该正则表达式（Perl 兼容）匹配的记录。"),
                                          QStringLiteral("模式")));
    add(QCommandLineOption(QStringLiteral("ignore-case"), QStringLiteral("--grep 不区分大小写。")));
}

void CommandLine::addLines(const QString& description)
{
    add(QCommandLineOption({QStringLiteral("n"), QStringLiteral("lines")}, description, QStringLiteral("N")));
}

void CommandLine::addReverse()
{
    add(QCommandLineOption({QStringLiteral("r"), QStringLiteral("reverse")}, QStringLiteral("最新的记录在前。")));
}

void CommandLine::addCount()
{
    add(QCommandLineOption(QStringLiteral("count"), QStringLiteral("只输出匹配记录的条数。")));
}

void CommandLine::addFormat()
{
    add(QCommandLineOption({QStringLiteral("o"), QStringLiteral("format")},
                                          QStringLiteral("输出格式：text（查看器中的记录块“时间:\\n消息”，默认）、"
                                                         "csv（RFC 4180，表头 id,datetime,type,type_name,message）、"
                                                         "json（JSON Lines，每条记录一个对象）。"),
                                          QStringLiteral("格式"), QStringLiteral("text")));
}

void CommandLine::addValue(const QString& name, const QString& valueName, const QString& description)
{
    add(QCommandLineOption(name, description, valueName));
}

void CommandLine::addPositional(const QString& name, const QString& description, const QString& syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
}

int CommandLine::parse(const QStringList& argumentsAfterCommand)
{
    QStringList arguments{QStringLiteral("vxlog"), m_command};
    arguments += argumentsAfterCommand;
    if (!m_parser.parse(arguments))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help"))) {
        printOut(m_parser.helpText());
        return kExitSuccess;
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

QString CommandLine::databasePath() const
{
    return m_parser.value(QStringLiteral("db"));
}

QStringList CommandLine::positional() const
{
    return m_parser.positionalArguments().mid(1);
}

bool CommandLine::parseTypes(const QString& text, QVector<int>& types) const
{
    types.clear();
    if (text.trimmed() == QLatin1String("all"))
        return true;
    for (const QString& piece : text.split(QLatin1Char(','))) {
        const QString name = piece.trimmed();
        bool isNumber = false;
        int type = name.toInt(&isNumber);
        if (!isNumber)
            type = SystemLog::recordTypeOfCaption(name);
        if (type < 0 || type >= SystemLog::kRecordTypeCount) {
            usageError(QStringLiteral("未知的记录类型“%1”，可用 %2 或 all").arg(name, typeList()));
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

bool CommandLine::parseTimeSpan(RecordFilter& filter) const
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
        const QString day = dayArgument(m_parser.value(QStringLiteral("day")));
        if (day.isNull()) {
            usageError(QStringLiteral("--day 需要 yyyy-MM-dd 形式的日期，而不是“%1”").arg(m_parser.value(QStringLiteral("day"))));
            return false;
        }
        filter.since = SystemLog::dayStart(day);
        filter.until = SystemLog::dayEnd(day);
        return true;
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (const char* name : {"since", "until"}) {
        const QString option = QLatin1String(name);
        if (!defined(option) || !m_parser.isSet(option))
            continue;
        const QString at = timeArgument(m_parser.value(option), now);
        if (at.isNull()) {
            usageError(QStringLiteral("--%1 无法识别的时间“%2”").arg(option, m_parser.value(option)));
            return false;
        }
        (option == QLatin1String("since") ? filter.since : filter.until) = at;
    }
    return true;
}

bool CommandLine::lines(int& count, int defaultCount) const
{
    count = defaultCount;
    if (!m_parser.isSet(QStringLiteral("lines")))
        return true;
    bool isNumber = false;
    count = m_parser.value(QStringLiteral("lines")).toInt(&isNumber);
    if (!isNumber || count < 0) {
        usageError(QStringLiteral("-n 需要一个不小于 0 的整数"));
        return false;
    }
    return true;
}

bool CommandLine::filter(RecordFilter& filter) const
{
    filter = RecordFilter();
    if (!parseTypes(m_parser.value(QStringLiteral("type")), filter.types))
        return false;
    if (!parseTimeSpan(filter))
        return false;
    if (defined(QStringLiteral("grep")) && m_parser.isSet(QStringLiteral("grep"))) {
        filter.grep = m_parser.value(QStringLiteral("grep"));
        filter.ignoreCase = m_parser.isSet(QStringLiteral("ignore-case"));
        const QRegularExpression pattern(filter.grep);
        if (!pattern.isValid()) {
            usageError(QStringLiteral("--grep 的正则表达式无效：%1").arg(pattern.errorString()));
            return false;
        }
    }
    return true;
}

bool CommandLine::format(RecordFormat& format) const
{
    const QString name = m_parser.value(QStringLiteral("format"));
    if (name == QLatin1String("text"))
        format = RecordFormat::Text;
    else if (name == QLatin1String("csv"))
        format = RecordFormat::Csv;
    else if (name == QLatin1String("json"))
        format = RecordFormat::Json;
    else {
        usageError(QStringLiteral("未知的输出格式“%1”，可用 text、csv、json").arg(name));
        return false;
    }
    return true;
}

bool CommandLine::noExtraArguments() const
{
    const QStringList extra = positional();
    if (extra.isEmpty())
        return true;
    usageError(QStringLiteral("多余的参数“%1”").arg(extra.first()));
    return false;
}
