#include "PaneText.h"

#include <algorithm>

namespace PaneText {

namespace {

// Length of the paragraph separator at text[i], 0 if there is none.
int separatorLength(const QString& text, int i, int end)
{
    switch (text.at(i).unicode()) {
    case u'\r':
        return (i + 1 < end && text.at(i + 1) == QLatin1Char('\n')) ? 2 : 1;
    case u'\n':
    case 0x2029:
    case 0xfdd0:
    case 0xfdd1:
        return 1;
    default:
        return 0;
    }
}

// Two characters that must stay in one piece.
bool joined(QChar first, QChar second)
{
    return (first.isHighSurrogate() && second.isLowSurrogate())
           || (first == QLatin1Char('\r') && second == QLatin1Char('\n'));
}

} // namespace

bool before(const Position& a, const Position& b)
{
    return a.record < b.record || (a.record == b.record && a.offset < b.offset);
}

QVector<Range> paragraphs(const QString& text, int start, int end)
{
    QVector<Range> result;
    int paragraphStart = start;
    for (int i = start; i < end;) {
        const int separator = separatorLength(text, i, end);
        if (separator == 0) {
            ++i;
            continue;
        }
        result.append({paragraphStart, i - paragraphStart});
        i += separator;
        paragraphStart = i;
    }
    result.append({paragraphStart, end - paragraphStart});
    return result;
}

// How far a piece boundary before text[at] really lies past it.
int boundaryShift(const QString& text, int at)
{
    if (at <= 0 || at >= text.size())
        return 0;
    if (joined(text.at(at - 1), text.at(at)))
        return 1;
    return separatorLength(text, at, text.size());
}

Range pieceRange(const QString& slice, int before, int length)
{
    const int nominalEnd = std::min(int(slice.size()), before + length);
    const int begin = std::min(nominalEnd, before + boundaryShift(slice, before));
    const int end = nominalEnd + boundaryShift(slice, nominalEnd);
    return {begin, std::max(0, end - begin)};
}

int pieceStart(const QString& window, int before)
{
    int start = std::min(before, int(window.size()));
    for (int i = start - 1; i >= 0; --i) {
        if (window.at(i).isSpace()) {
            start = i + 1;
            break;
        }
    }
    return start + boundaryShift(window, start);
}

QString copyText(QStringRef text)
{
    QString result;
    result.reserve(text.size());
    const int end = text.size();
    for (int i = 0; i < end; ++i) {
        const QChar ch = text.at(i);
        switch (ch.unicode()) {
        case u'\r':
            if (i + 1 < end && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            result += QLatin1Char('\n');
            break;
        case 0x2028:
        case 0x2029:
        case 0xfdd0:
        case 0xfdd1:
            result += QLatin1Char('\n');
            break;
        case 0x00a0:
            result += QLatin1Char(' ');
            break;
        default:
            result += ch;
        }
    }
    return result;
}

QString joinedText(const Position& start, const Position& end, const BlockAt& blockAt, const Stop& stop)
{
    QString joined;
    for (int r = start.record; r <= end.record; ++r) {
        if (stop && r % 256 == 0 && stop())
            return QString();
        const QString text = blockAt(r);
        const int from = r == start.record ? start.offset : 0;
        const int to = r == end.record ? end.offset : text.size();
        if (r > start.record)
            joined += QLatin1Char('\n');
        joined += text.midRef(from, to - from);
    }
    return copyText(QStringRef(&joined));
}

} // namespace PaneText
