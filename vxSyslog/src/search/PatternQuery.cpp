#include "search/PatternQuery.h"

#include <QVector>

#include <memory>

#include "search/TextTokens.h"

namespace SystemLog {

namespace PatternQuery {

namespace {

// What a part of a pattern requires of a message.
struct Need
{
    enum Kind { Nothing, Words, All, Either } kind = Nothing;
    QVector<TextTokens::Term> terms;  // Words: all of them
    QVector<Need> parts;              // All / Either

    static Need words(const QVector<TextTokens::Term>& terms)
    {
        Need need;
        if (!terms.isEmpty()) {
            need.kind = Words;
            need.terms = terms;
        }
        return need;
    }
};

QByteArray quoted(const TextTokens::Term& term)
{
    return '"' + term.token + '"' + (term.prefix ? "*" : "");
}

QByteArray expressionOf(const Need& need)
{
    switch (need.kind) {
    case Need::Nothing:
        return QByteArray();
    case Need::Words: {
        QByteArray sql;
        for (const TextTokens::Term& term : need.terms)
            sql += (sql.isEmpty() ? "" : " AND ") + quoted(term);
        return sql;
    }
    case Need::All: {
        QByteArray sql;
        for (const Need& part : need.parts) {
            const QByteArray inner = expressionOf(part);
            if (!inner.isEmpty())
                sql += (sql.isEmpty() ? "(" : " AND (") + inner + ')';
        }
        return sql;
    }
    case Need::Either: {
        QByteArray sql;
        for (const Need& part : need.parts) {
            const QByteArray inner = expressionOf(part);
            if (inner.isEmpty())
                return QByteArray();  // one alternative needs nothing: neither does the whole
            sql += (sql.isEmpty() ? "(" : " OR (") + inner + ')';
        }
        return sql;
    }
    }
    return QByteArray();
}

bool isAsciiAlnum(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

// Reads the regular-expression syntax of PCRE2 that a grep pattern may
// use, for what it requires; `failed` when it meets something it does not
// follow.
class Reader
{
public:
    Reader(const QString& pattern, bool ignoreCase)
        : m_p(pattern)
        , m_ignoreCase(ignoreCase)
    {
    }

    Need whole()
    {
        Need need = alternatives();
        if (m_at < m_p.size())
            m_failed = true;  // a ')' without its '('
        return m_failed ? Need() : need;
    }

private:
    QChar peek(int ahead = 0) const { return m_at + ahead < m_p.size() ? m_p.at(m_at + ahead) : QChar(); }
    bool atEnd() const { return m_at >= m_p.size(); }

    Need alternatives()
    {
        Need either;
        either.kind = Need::Either;
        either.parts << branch();
        while (!m_failed && peek() == QLatin1Char('|')) {
            ++m_at;
            either.parts << branch();
        }
        return either.parts.size() == 1 ? either.parts.first() : either;
    }

    // A sequence of atoms up to '|', ')' or the end.
    Need branch()
    {
        Need all;
        all.kind = Need::All;
        QString run;
        auto endRun = [&] {
            if (!run.isEmpty())
                all.parts << Need::words(TextTokens::termsOf(run, m_ignoreCase));
            run.clear();
        };
        while (!m_failed && !atEnd() && peek() != QLatin1Char('|') && peek() != QLatin1Char(')')) {
            const QChar c = peek();
            if (c == QLatin1Char('(')) {
                endRun();
                Need group = groupAtom();
                if (!quantifierFollows())
                    all.parts << group;
                m_repeated = false;
                continue;
            }
            QString literal;
            if (!atom(literal)) {
                endRun();
                quantifierFollows();
                m_repeated = false;
                continue;
            }
            // A quantifier may take the character away again.
            if (quantifierFollows()) {
                endRun();
                continue;
            }
            run += literal;
            if (m_repeated) {
                endRun();  // what follows need not touch it
                m_repeated = false;
            }
        }
        endRun();
        return all;
    }

    // One atom other than a group; true with the character (one or two
    // UTF-16 units) when it is a literal one.
    bool atom(QString& literal)
    {
        const QChar c = peek();
        ++m_at;
        if (c == QLatin1Char('\\'))
            return escape(literal);
        if (c == QLatin1Char('['))
            return skipClass(), false;
        if (c == QLatin1Char('.') || c == QLatin1Char('^') || c == QLatin1Char('$'))
            return false;
        if (c == QLatin1Char('{') || c == QLatin1Char('}') || c == QLatin1Char('*') || c == QLatin1Char('+')
            || c == QLatin1Char('?') || c == QLatin1Char(']'))
            return false;  // not read as a literal, to be safe
        literal = c;
        if (c.isHighSurrogate() && peek().isLowSurrogate())
            literal += m_p.at(m_at++);
        return true;
    }

    bool escape(QString& literal)
    {
        if (atEnd()) {
            m_failed = true;
            return false;
        }
        const QChar c = peek();
        ++m_at;
        if (!isAsciiAlnum(c)) {
            literal = c;
            if (c.isHighSurrogate() && peek().isLowSurrogate())
                literal += m_p.at(m_at++);
            return true;
        }
        // Escapes that stand for a class or a position and take no argument.
        if (QStringLiteral("dDwWsSbBhHvVRAzZGKntrfea").contains(c))
            return false;
        m_failed = true;  // \x, \p, \Q, \1, \g, \k, \c, ...: not followed
        return false;
    }

    void skipClass()
    {
        if (peek() == QLatin1Char('^'))
            ++m_at;
        if (peek() == QLatin1Char(']'))
            ++m_at;
        while (!atEnd()) {
            const QChar c = peek();
            ++m_at;
            if (c == QLatin1Char('\\')) {
                ++m_at;
            } else if (c == QLatin1Char('[') && peek() == QLatin1Char(':')) {
                const int close = m_p.indexOf(QStringLiteral(":]"), m_at);
                if (close < 0)
                    break;
                m_at = close + 2;
            } else if (c == QLatin1Char(']')) {
                return;
            }
        }
        m_failed = true;
    }

    Need groupAtom()
    {
        ++m_at;  // '('
        if (peek() == QLatin1Char('?')) {
            if (peek(1) != QLatin1Char(':')) {
                m_failed = true;  // options, look-arounds, named groups, ...
                return Need();
            }
            m_at += 2;
        } else if (peek() == QLatin1Char('*')) {
            m_failed = true;  // verbs such as (*UCP)
            return Need();
        }
        Need inner = alternatives();
        if (peek() != QLatin1Char(')')) {
            m_failed = true;
            return Need();
        }
        ++m_at;
        return inner;
    }

    // Reads a quantifier after an atom, if there is one. True when it lets
    // the atom be left out; m_repeated when it may repeat it.
    bool quantifierFollows()
    {
        const QChar c = peek();
        bool optional = false;
        if (c == QLatin1Char('?') || c == QLatin1Char('*')) {
            optional = true;
            ++m_at;
        } else if (c == QLatin1Char('+')) {
            m_repeated = true;
            ++m_at;
        } else if (c == QLatin1Char('{')) {
            int least = 0;
            if (!braces(least))
                return false;
            optional = least == 0;
            m_repeated = !optional;
        } else {
            return false;
        }
        // Lazy or possessive.
        if (peek() == QLatin1Char('?') || peek() == QLatin1Char('+'))
            ++m_at;
        if (optional)
            m_repeated = false;
        return optional;
    }

    // {n}, {n,}, {n,m} or {,m}: a quantifier, its least count read; '{'
    // in any other shape is left to be read as an atom (which is not a literal).
    bool braces(int& least)
    {
        int at = m_at + 1;
        QString first;
        while (at < m_p.size() && m_p.at(at).isDigit() && m_p.at(at).unicode() < 0x80)
            first += m_p.at(at++);
        bool comma = false;
        if (at < m_p.size() && m_p.at(at) == QLatin1Char(',')) {
            comma = true;
            ++at;
            while (at < m_p.size() && m_p.at(at).isDigit() && m_p.at(at).unicode() < 0x80)
                ++at;
        }
        if (at >= m_p.size() || m_p.at(at) != QLatin1Char('}') || (first.isEmpty() && !comma))
            return false;
        least = first.isEmpty() ? 0 : (first.size() > 6 ? 1000000 : first.toInt());
        m_at = at + 1;
        return true;
    }

    const QString& m_p;
    const bool m_ignoreCase;
    int m_at = 0;
    bool m_failed = false;
    bool m_repeated = false;
};

} // namespace

QByteArray forPattern(const QString& pattern, bool ignoreCase)
{
    Reader reader(pattern, ignoreCase);
    return expressionOf(reader.whole());
}

QByteArray forLiteral(const QString& text, bool ignoreCase)
{
    return expressionOf(Need::words(TextTokens::termsOf(text, ignoreCase)));
}

} // namespace PatternQuery

} // namespace SystemLog
