#pragma once

#include <QByteArray>
#include <QByteArrayMatcher>
#include <QRegularExpression>
#include <QString>

struct sqlite3;

#include <vxSyslog/LogQuery.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Decides whether a stored message matches a grep pattern, always with the
// answer QRegularExpression gives on the message decoded from UTF-8 the way
// the viewer decodes it (format/Utf8.h). With fixedStrings the pattern is
// plain text, found wherever it occurs (as grep -F): "报警号(4001)" and "X[1]"
// find exactly those characters. A pattern without any regular-expression
// syntax, and every fixed string, is
// first looked for as bytes, which spares most rows the decoding and the
// regex engine; the engine still decides every row where bytes could answer
// differently (a text that is not valid UTF-8, and under ignoreCase the
// letters k and s, which also fold from the Kelvin sign and the long s).
// Exported for the reading library, which follows files and greps too.
class VXSYSLOG_EXPORT MessageMatcher
{
public:
    MessageMatcher(const QString& pattern, bool ignoreCase, bool fixedStrings = false);
    // The query's grep, ignoreCase and fixedStrings.
    explicit MessageMatcher(const LogQuery& query);
    // Whether it decides as a matcher made for `query` would.
    bool isFor(const LogQuery& query) const;

    bool isValid() const { return m_regex.isValid(); }
    QString errorString() const { return m_regex.errorString(); }
    QString pattern() const { return m_pattern; }
    bool ignoresCase() const { return m_ignoreCase; }
    bool isFixedString() const { return m_fixedStrings; }

    bool matches(const char* text, int length) const;

    // Makes `name(message)` a function of the SQL on `db` that answers as
    // matches() does, so that SQLite leaves out the rows that do not match.
    // The matcher must outlive the connection's statements. SQLite's result code.
    int installAsSqlFunction(sqlite3* db, const char* name) const;

private:
    bool regexMatches(const char* text, int length) const;
    bool bytesContain(const char* text, int length) const;

    QString m_pattern;
    QRegularExpression m_regex;
    bool m_literal = false;
    bool m_ignoreCase = false;
    bool m_fixedStrings = false;
    bool m_foldsFromOutsideAscii = false;
    QByteArray m_needle;  // UTF-8; ASCII letters in lower case under ignoreCase
    QByteArrayMatcher m_exact;
};

} // namespace SystemLog
