#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <vxSyslog/RecordFilter.h>
#include <vxSyslog/RecordFormat.h>

// Exit statuses of every vxlog command, as the journal tool has them.
enum ExitStatus {
    kExitSuccess = 0,  // also when nothing matches
    kExitFailure = 1,  // the database could not be read or written
    kExitUsage = 2,    // a usage error, reported with a one-line hint
};

// The options of one vxlog command and what they mean, parsed with Qt's
// QCommandLineParser. Each command adds the options it takes; the getters
// turn them into the module's filter and format, and report a usage error
// (one line on standard error) when a value makes no sense.
class CommandLine
{
public:
    CommandLine(const QString& command, const QString& description);

    void addDatabase();
    void addTypes();        // --type: codes or captions, comma-separated, or all
    void addSingleType(const QString& description);
    void addTimeSpan();     // --day, --since, --until
    void addDay();
    void addGrep();         // --grep, --ignore-case
    void addLines(const QString& description);
    void addReverse();
    void addCount();
    void addFormat();
    void addValue(const QString& name, const QString& valueName, const QString& description);
    void addPositional(const QString& name, const QString& description, const QString& syntax);

    // Parses the arguments after the command. Returns -1 to go on, or the
    // status to exit with (0 after --help, 2 on a usage error).
    int parse(const QStringList& argumentsAfterCommand);

    // Prints "vxlog <command>：<problem>" and a hint on one line; returns kExitUsage.
    int usageError(const QString& problem) const;

    QCommandLineParser& parser() { return m_parser; }
    QString databasePath() const;
    QString value(const QString& name) const { return m_parser.value(name); }
    bool isSet(const QString& name) const { return m_parser.isSet(name); }
    QStringList positional() const;
    // False after reporting the first positional argument as a usage error.
    bool noExtraArguments() const;

    // Each returns false after reporting a usage error.
    bool filter(SystemLog::RecordFilter& filter) const;
    bool format(SystemLog::RecordFormat& format) const;
    bool singleType(int& type) const;
    bool lines(int& count, int defaultCount) const;  // -1: all

private:
    bool parseTypes(const QString& text, QVector<int>& types) const;
    bool parseTimeSpan(SystemLog::RecordFilter& filter) const;
    void add(const QCommandLineOption& option);
    bool defined(const QString& name) const { return m_defined.contains(name); }

    QString m_command;
    QCommandLineParser m_parser;
    QStringList m_defined;
};
