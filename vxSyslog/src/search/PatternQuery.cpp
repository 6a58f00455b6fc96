#include "search/PatternQuery.h"

#include <QVector>

#include <memory>

#include "search/TextTokens.h"

namespace SystemLog {

namespace PatternQuery {

namespace {

// What a part of a pattern requires of a message: a text it holds, all of
// some parts, or one of them.
struct Need
{
    enum Kind { Nothing, Text, All, Either } kind = Nothing;
    QString text;         // Text
    QVector<Need> parts;  // All / Either

    static Need holding(const QString& text)
    {
        Need need;
        need.kind = Text;
        need.text = text;
        return need;
    }
};

QByteArray quoted(const TextTokens::Term& term)
{
    return '"' + term.token + '"' + (term.prefix ? "*" : "");
}

QByteArray expressionOf(const Need& need, bool ignoreCase)
{
    switch (need.kind) {
    case Need::Nothing:
        return QByteArray();
    case Need::Text: {
        QByteArray sql;
        for (const TextTokens::Term& term : TextTokens::termsOf(need.text, ignoreCase))
            sql += (sql.isEmpty() ? "" : " AND ") + quoted(term);
        return sql;
    }
    case Need::All: {
        QByteArray sql;
        for (const Need& part : need.parts) {
            const QByteArray inner = expressionOf(part, ignoreCase);
            if (!inner.isEmpty())
                sql += (sql.isEmpty() ? "(" : " AND (") + inner + ')';
        }
        return sql;
    }
    case Need::Either: {
        QByteArray sql;
        for (const Need& part : need.parts) {
            const QByteArray inner = expressionOf(part, ignoreCase);
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
    explicit Reader(const QString& pattern)
        : m_p(pattern)
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
                all.parts << Need::holding(run);
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
    int m_at = 0;
    bool m_failed = false;
    bool m_repeated = false;
};

// Neither a cased letter nor anything with another case: Chinese,
// digits, punctuation. (ß, say, is a lower-case letter whose upper case
// ẞ a case-insensitive search also finds.)
bool hasNoCase(uint c)
{
    const QChar::Category category = QChar::category(c);
    return category != QChar::Letter_Uppercase && category != QChar::Letter_Lowercase && category != QChar::Letter_Titlecase
           && QChar::toLower(c) == c && QChar::toUpper(c) == c && QChar::toCaseFolded(c) == c;
}

// The pairs of characters of a text as the central database's index holds
// them (fleet_log_bigrams() in docs/fleet_log.sql: ASCII letters in lower
// case, the Kelvin sign and the long s as k and s, every other character as
// it is), each pair within a stretch of characters the search is sure of.
QStringList pairsOf(const QString& text, bool ignoreCase)
{
    QStringList pairs;
    QVector<uint> stretch;
    auto endStretch = [&] {
        for (int i = 0; i + 1 < stretch.size(); ++i) {
            const QString pair = QString::fromUcs4(&stretch[i], 2);
            if (!pairs.contains(pair))
                pairs << pair;
        }
        stretch.clear();
    };
    const QVector<uint> points = text.toUcs4();
    for (uint c : points) {
        if (c >= 'A' && c <= 'Z') {
            stretch << c + ('a' - 'A');
        } else if (c == 0x212A || c == 0x17F) {
            stretch << (c == 0x212A ? uint('k') : uint('s'));
        } else if (c < 0x80 || !ignoreCase || hasNoCase(c)) {
            stretch << c;
        } else {
            endStretch();  // a letter whose other cases the database does not fold
        }
    }
    endStretch();
    return pairs;
}

// At most this many alternatives: past it, a choice is left to the matcher.
constexpr int kMaxAlternatives = 8;

// The need as alternatives, each a set of pairs that must all be there; an
// empty set is one that needs nothing.
QVector<QStringList> alternativesOf(const Need& need, bool ignoreCase)
{
    switch (need.kind) {
    case Need::Nothing:
        return {QStringList()};
    case Need::Text:
        return {pairsOf(need.text, ignoreCase)};
    case Need::All: {
        QVector<QStringList> result{QStringList()};
        bool branched = false;
        for (const Need& part : need.parts) {
            const QVector<QStringList> inner = alternativesOf(part, ignoreCase);
            if (inner.size() == 1) {
                for (QStringList& alternative : result)
                    alternative += inner.first();
            } else if (!branched && inner.size() * result.size() <= kMaxAlternatives) {
                branched = true;
                QVector<QStringList> crossed;
                for (const QStringList& alternative : result)
                    for (const QStringList& choice : inner)
                        crossed << alternative + choice;
                result = crossed;
            }
        }
        return result;
    }
    case Need::Either: {
        QVector<QStringList> result;
        for (const Need& part : need.parts) {
            for (const QStringList& alternative : alternativesOf(part, ignoreCase)) {
                if (alternative.isEmpty())
                    return {QStringList()};
                result << alternative;
            }
        }
        return result.size() <= kMaxAlternatives ? result : QVector<QStringList>{QStringList()};
    }
    }
    return {QStringList()};
}

} // namespace

QByteArray forPattern(const QString& pattern, bool ignoreCase, bool fixedStrings)
{
    if (fixedStrings)
        return forLiteral(pattern, ignoreCase);
    Reader reader(pattern);
    return expressionOf(reader.whole(), ignoreCase);
}

QByteArray forLiteral(const QString& text, bool ignoreCase)
{
    return expressionOf(Need::holding(text), ignoreCase);
}

QVector<QStringList> pairsForPattern(const QString& pattern, bool ignoreCase, bool fixedStrings)
{
    Reader reader(pattern);
    const QVector<QStringList> alternatives =
        alternativesOf(fixedStrings ? Need::holding(pattern) : reader.whole(), ignoreCase);
    for (const QStringList& alternative : alternatives) {
        if (alternative.isEmpty())
            return {};
    }
    return alternatives;
}

} // namespace PatternQuery

} // namespace SystemLog
