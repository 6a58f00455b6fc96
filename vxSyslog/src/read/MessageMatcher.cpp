#include "read/MessageMatcher.h"

#include <algorithm>

#include <sqlite3.h>

#include "format/Utf8.h"

namespace SystemLog {

namespace {

void sqlMatches(sqlite3_context* context, int, sqlite3_value** arguments)
{
    const auto* matcher = static_cast<const MessageMatcher*>(sqlite3_user_data(context));
    const char* text = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
    const int length = sqlite3_value_bytes(arguments[0]);
    sqlite3_result_int(context, matcher->matches(text ? text : "", length) ? 1 : 0);
}

bool hasRegexSyntax(const QString& pattern)
{
    for (const QChar c : pattern) {
        if (QStringLiteral("\\^$.|?*+()[]{}").contains(c))
            return true;
    }
    return false;
}

// Under ignoreCase a byte search can only stand in for the engine where
// case does not reach beyond ASCII: every character of the pattern is
// ASCII or has no case at all (CJK text, digits, punctuation).
bool caseStaysInAscii(const QString& pattern)
{
    for (const QChar c : pattern) {
        if (c.unicode() >= 0x80 && (c.toLower() != c || c.toUpper() != c || c.toCaseFolded() != c))
            return false;
    }
    return true;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isAscii(const char* text, int length)
{
    return std::all_of(text, text + length, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

// A fixed string is the regular expression that matches exactly its
// characters, so that both kinds decide every row alike.
MessageMatcher::MessageMatcher(const QString& pattern, bool ignoreCase, bool fixedStrings)
    : m_pattern(pattern)
    , m_regex(fixedStrings ? QRegularExpression::escape(pattern) : pattern,
              ignoreCase ? QRegularExpression::CaseInsensitiveOption : QRegularExpression::NoPatternOption)
    , m_ignoreCase(ignoreCase)
    , m_fixedStrings(fixedStrings)
{
    m_regex.optimize();
    m_literal = !pattern.isEmpty() && (fixedStrings || !hasRegexSyntax(pattern))
                && (!ignoreCase || caseStaysInAscii(pattern));
    if (!m_literal)
        return;
    m_needle = pattern.toUtf8();
    if (ignoreCase) {
        std::transform(m_needle.begin(), m_needle.end(), m_needle.begin(), asciiLower);
        m_foldsFromOutsideAscii = m_needle.contains('k') || m_needle.contains('s');
    } else {
        m_exact.setPattern(m_needle);
    }
}

MessageMatcher::MessageMatcher(const LogQuery& query)
    : MessageMatcher(query.grep, query.ignoreCase, query.fixedStrings)
{
}

bool MessageMatcher::isFor(const LogQuery& query) const
{
    return m_pattern == query.grep && m_ignoreCase == query.ignoreCase && m_fixedStrings == query.fixedStrings;
}

bool MessageMatcher::regexMatches(const char* text, int length) const
{
    return m_regex.match(decodeUtf8(text, length)).hasMatch();
}

bool MessageMatcher::bytesContain(const char* text, int length) const
{
    if (!m_ignoreCase)
        return m_exact.indexIn(text, length) >= 0;
    const char* end = text + length;
    return std::search(text, end, m_needle.constBegin(), m_needle.constEnd(),
                       [](char stored, char wanted) { return asciiLower(stored) == wanted; })
           != end;
}

bool MessageMatcher::matches(const char* text, int length) const
{
    if (!m_literal)
        return regexMatches(text, length);
    const bool found = bytesContain(text, length);
    if (isAscii(text, length))
        return found;
    if (!isValidUtf8(text, length) || (!found && m_foldsFromOutsideAscii))
        return regexMatches(text, length);
    return found;
}

int MessageMatcher::installAsSqlFunction(sqlite3* db, const char* name) const
{
    return sqlite3_create_function_v2(db, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                      const_cast<MessageMatcher*>(this), &sqlMatches, nullptr, nullptr, nullptr);
}

} // namespace SystemLog
