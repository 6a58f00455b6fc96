#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <vxSyslog/LogQuery.h>
#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/LogSource.h>

#include <memory>

// Exit statuses of every vxlog command, as the journal tool has them.
enum ExitStatus {
    kExitSuccess = 0,  // also when nothing matches
    kExitFailure = 1,  // the database could not be read or written, or the output failed
    kExitUsage = 2,    // a usage error, reported with a one-line hint
};

// "vxlog <version>" and a line feed.
QString versionText();

// Why --reverse and following do not go together, as the journal tool says it.
QString reverseWithFollow();

// The options of one vxlog command and what they mean, parsed with Qt's
// QCommandLineParser. Each command adds the options it takes (every command
// has --help, --version, --quiet and --no-pager); the getters turn them into
// the module's filter and format, and report a usage error (one line on
// standard error) when a value makes no sense. The help is laid out here, one
// option per line and its text indented below it, so that it lines up
// whatever width Chinese characters take in a terminal.
class CommandLine
{
public:
    CommandLine(const QString& command, const QString& description);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    void addDatabase();
    // --db (several files, or the central database's URL) and --host.
    void addSources();
    // --type: codes, names or captions, comma-separated, or all; `defaultTypes` when not given.
    void addTypes(const QString& defaultTypes = QStringLiteral("all"));
    void addSingleType(const QString& description);
    void addTimeSpan();     // --day, --since, --until
    void addDay();
    void addGrep();         // --grep, -F, smart case, --ignore-case, --case-sensitive
    void addLines(const QString& description);  // -n N or all
    void addAfterId(const QString& description);
    void addJumpToEnd();    // -e: -n 1000 unless -n is given
    void addReverse();
    void addCount();
    void addFollow();
    void addFormat();
    void addValue(const QString& name, const QString& valueName, const QString& description);
    void addPositional(const QString& name, const QString& description, const QString& syntax);
    // Any other option of one command; one that takes a value must also be
    // listed in takesValue().
    void addOption(const QCommandLineOption& option);

    // Parses the arguments after the command. Returns -1 to go on, or the
    // status to exit with (0 after --help or --version, 1 when that text
    // could not be written, 2 on a usage error).
    int parse(const QStringList& argumentsAfterCommand);

    // Prints "vxlog <command>：<problem>" and a hint on one line; returns kExitUsage.
    int usageError(const QString& problem) const;
    // A line on standard error that --quiet drops.
    void notice(const QString& text) const;

    QString databasePath() const;
    // Every --db, in the order given.
    QStringList databaseLocations() const;
    // One plain file and no --host: what a reader of one file reads.
    bool isOneFile() const;
    // The source for --db and --host; null after reporting a usage error.
    std::unique_ptr<SystemLog::LogSource> source() const;
    QString value(const QString& name) const { return m_parser.value(name); }
    QStringList values(const QString& name) const { return m_parser.values(name); }
    bool isSet(const QString& name) const { return m_parser.isSet(name); }
    QStringList positional() const;
    // False after reporting the first positional argument as a usage error.
    bool noExtraArguments() const;

    // Each returns false after reporting a usage error.
    bool filter(SystemLog::LogQuery& filter) const;
    bool format(SystemLog::RecordFormat& format) const;
    bool singleType(int& type) const;
    bool lines(int& count, int defaultCount) const;  // -1: all
    bool afterId(qint64& id) const;  // -1: not given
    static constexpr int kPagerEndLines = 1000;

    // --utc: times shown and read in UTC.
    bool utc() const;
    SystemLog::TimeZoneShown zone() const;

    QString helpText() const;

    // Whether `argument` is an option (of any command) that takes its value
    // from the next argument, so that an option may come before the command:
    // "vxlog --db x query". A new option with a value is listed there too.
    static bool takesValue(const QString& argument);

private:
    bool parseTypes(const QString& text, QVector<int>& types) const;
    bool parseTimeSpan(SystemLog::LogQuery& filter) const;
    bool parseGrep(SystemLog::LogQuery& filter) const;
    bool defined(const QString& name) const { return m_defined.contains(name); }

    QString m_command;
    QString m_description;
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    QStringList m_defined;
    QStringList m_positionalSyntax;
    QList<QPair<QString, QString>> m_positionalHelp;
    // The text index's notices go to standard error while a search runs.
    mutable bool m_toldIndexNotices = false;
};
