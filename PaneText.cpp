#include "PaneText.h"

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

} // namespace

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

} // namespace PaneText
