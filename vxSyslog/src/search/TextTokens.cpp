#include "search/TextTokens.h"

#include <QVector>

#include <string>

#include "format/Utf8.h"

namespace SystemLog {

namespace TextTokens {

namespace {

enum class Kind { Word, Run, Break };

// The folded character: ASCII letters by hand, Chinese without a lookup
// (it has no case), the rest by Qt's simple case folding.
char32_t folded(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    if (c >= 0x3400 && c < 0xA000)
        return c;
    return char32_t(QChar::toCaseFolded(uint(c)));
}

Kind kindOf(char32_t foldedChar)
{
    if (foldedChar < 0x80) {
        const bool alnum = (foldedChar >= 'a' && foldedChar <= 'z') || (foldedChar >= '0' && foldedChar <= '9');
        return alnum ? Kind::Word : Kind::Break;
    }
    return foldedChar == 0xFFFD ? Kind::Break : Kind::Run;
}

int encode(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

// Cuts a message into index words as it is read, character by character.
class DocumentCutter
{
public:
    explicit DocumentCutter(const TokenSink& sink)
        : m_sink(sink)
    {
    }

    void add(char32_t c)
    {
        const char32_t f = c == kMalformedUtf8 ? 0xFFFD : folded(c);
        switch (kindOf(f)) {
        case Kind::Word:
            endRun();
            m_word.push_back(char(f));
            break;
        case Kind::Run:
            endWord();
            addToRun(f);
            break;
        case Kind::Break:
            endWord();
            endRun();
            break;
        }
    }

    void finish()
    {
        endWord();
        endRun();
    }

private:
    void endWord()
    {
        const int length = int(m_word.size());
        for (int i = 0; i + 1 < length; ++i)
            m_sink(m_word.data() + i, std::min(kMaxWordToken, length - i));
        m_word.clear();
    }

    void addToRun(char32_t f)
    {
        char current[4];
        const int size = encode(f, current);
        if (m_lastSize > 0) {
            char pair[8];
            std::copy(m_last, m_last + m_lastSize, pair);
            std::copy(current, current + size, pair + m_lastSize);
            m_sink(pair, m_lastSize + size);
        }
        std::copy(current, current + size, m_last);
        m_lastSize = size;
    }

    void endRun()
    {
        if (m_lastSize > 0)
            m_sink(m_last, m_lastSize);
        m_lastSize = 0;
    }

    const TokenSink& m_sink;
    std::string m_word;
    char m_last[4] = {};
    int m_lastSize = 0;
};

// A character of a searched text as the index sees it. A character whose
// other cases fold differently from it (rare: Turkish dotted I, say) is not
// looked up, since a case-insensitive match could find any of them; and
// what it touches may belong to a longer word.
struct SearchedChar
{
    Kind kind;
    char32_t folded;
    bool sure;  // not a character the index must not rely on
};

SearchedChar searchedChar(char32_t c, bool ignoreCase)
{
    const char32_t f = folded(c);
    if (ignoreCase && c >= 0x80) {
        const uint u = uint(c);
        const bool consistent = folded(QChar::toLower(u)) == f && folded(QChar::toUpper(u)) == f
                                && folded(QChar::toTitleCase(u)) == f;
        if (!consistent)
            return {Kind::Break, f, false};
    }
    return {kindOf(f), f, true};
}

QVector<char32_t> codePoints(const QString& text)
{
    QVector<char32_t> points;
    points.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            points << char32_t(QChar::surrogateToUcs4(c, text.at(i + 1)));
            ++i;
        } else {
            points << char32_t(c.unicode());
        }
    }
    return points;
}

} // namespace

void forEachToken(const char* text, int length, const TokenSink& sink)
{
    DocumentCutter cutter(sink);
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + (length > 0 ? length : 0);
    while (p < end)
        cutter.add(nextUtf8(p, end));
    cutter.finish();
}

QVector<Term> termsOf(const QString& literal, bool ignoreCase)
{
    QVector<SearchedChar> chars;
    for (char32_t c : codePoints(literal))
        chars << searchedChar(c, ignoreCase);
    QVector<Term> terms;
    for (int i = 0; i < chars.size();) {
        const Kind kind = chars[i].kind;
        int j = i;
        while (j < chars.size() && chars[j].kind == kind && kind != Kind::Break)
            ++j;
        if (kind == Kind::Break) {
            ++i;
            continue;
        }
        const int count = j - i;
        if (kind == Kind::Word && count >= 2) {
            QByteArray word;
            for (int k = i; k < j && word.size() < kMaxWordToken; ++k)
                word += char(chars[k].folded);
            // Ends where a word must end in the text: before punctuation or a run.
            const bool endsWord = j < chars.size() && chars[j].sure;
            terms << Term{word, !(endsWord && count <= kMaxWordToken)};
        } else if (kind == Kind::Run) {
            char bytes[8];
            if (count == 1) {
                terms << Term{QByteArray(bytes, encode(chars[i].folded, bytes)), true};
            }
            for (int k = i; k + 1 < j; ++k) {
                const int first = encode(chars[k].folded, bytes);
                const int second = encode(chars[k + 1].folded, bytes + first);
                terms << Term{QByteArray(bytes, first + second), false};
            }
        }
        i = j;
    }
    return terms;
}

bool answersExactly(const QString& literal, bool ignoreCase)
{
    const QVector<char32_t> points = codePoints(literal);
    if (points.isEmpty())
        return false;
    const Kind kind = searchedChar(points.first(), ignoreCase).kind;
    for (char32_t c : points) {
        const SearchedChar searched = searchedChar(c, ignoreCase);
        if (!searched.sure || searched.kind != kind)
            return false;
        // The index folds case: a case-sensitive search is exact only for
        // characters that have none (digits, Chinese).
        if (!ignoreCase && !((c >= '0' && c <= '9') || (c >= 0x3400 && c < 0xA000)))
            return false;
    }
    if (kind == Kind::Word)
        return points.size() >= 2 && points.size() <= kMaxWordToken;
    return kind == Kind::Run && points.size() <= 2;
}

} // namespace TextTokens

} // namespace SystemLog
