#include "PaneSearch.h"

#include <QSet>

#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/RecordTypes.h>

namespace PaneSearch {

Match find(int count, const PaneText::Position& start, const PaneText::Position& end, const QString& text,
           bool backward, const BlockInto& blockInto, const PaneText::Stop& stop)
{
    if (text.isEmpty() || count == 0)
        return Match();
    QString block;
    block.reserve(1024);
    // The first record is searched twice: from the selection on, and after
    // wrapping round, up to it.
    for (int i = 0; i <= count; ++i) {
        if (stop && i % 256 == 0 && stop())
            return Match();
        int record;
        int at;
        if (backward) {
            record = ((start.record - i) % count + count) % count;
            blockInto(record, block);
            // A match must end before the selection; past the first record, anywhere.
            const int from = i == 0 ? start.offset - text.size() : -1;
            at = (i == 0 && from < 0) ? -1 : block.lastIndexOf(text, from, Qt::CaseInsensitive);
        } else {
            record = (end.record + i) % count;
            blockInto(record, block);
            at = block.indexOf(text, i == 0 ? end.offset : 0, Qt::CaseInsensitive);
        }
        if (at >= 0)
            return {true, {record, at}, {record, at + int(text.size())}};
    }
    return Match();
}

Standing standingOf(int count, const Match& match, const QString& text, const BlockInto& blockInto,
                    const PaneText::Stop& stop, const StandingProgress& progress)
{
    Standing standing;
    if (text.isEmpty() || !match.found)
        return standing;
    QString block;
    for (int record = 0; record < count; ++record) {
        if (stop && record % 256 == 0 && stop())
            return Standing();
        if (progress && record % 256 == 0 && record > 0)
            progress(standing);
        blockInto(record, block);
        for (int at = block.indexOf(text, 0, Qt::CaseInsensitive); at >= 0;
             at = block.indexOf(text, at + int(text.size()), Qt::CaseInsensitive)) {
            ++standing.total;
            if (record < match.start.record || (record == match.start.record && at <= match.start.offset))
                standing.index = standing.total;
        }
    }
    return standing;
}

} // namespace PaneSearch

namespace PaneSearch {

// A time stamp is ASCII punctuation, digits and blanks; a first line adds
// brackets, a colon, the machine's name and the type's name.
bool mayTouchHeader(const QString& text, bool namesTypes, const QStringList& machineNames)
{
    if (text.contains(QLatin1Char('\n')))
        return true;
    QString names = machineNames.join(QString());
    if (namesTypes) {
        for (int type = 0; type <= SystemLog::kRecordTypeCount; ++type)
            names += SystemLog::recordTypeName(type);
        names += SystemLog::unknownRecordTypeName();
    }
    QSet<QChar> named;
    for (const QChar c : names)
        named.insert(c.toCaseFolded());
    for (const QChar c : text) {
        const QChar folded = c.toCaseFolded();
        const bool asciiLetter = (folded >= QLatin1Char('a') && folded <= QLatin1Char('z'));
        if ((folded.unicode() >= 0x80 || asciiLetter) && !named.contains(folded))
            return false;
    }
    return true;
}

} // namespace PaneSearch
