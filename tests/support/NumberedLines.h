#pragma once

// Lines "TAG t<thread> n<k>" as the writer helper (and the writer tests) log
// them, read back from the table: per stream (TAG and thread) the numbers in
// the order of the rows' ids, and whether each stream is a gap-free prefix
// 0, 1, 2, ... of what its thread logged.

#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>

#include "TestDatabase.h"

using NumberedStreams = QMap<QString, QVector<qint64>>;

inline NumberedStreams numberedStreams(const QVector<StoredRow>& rows, const QString& tag)
{
    static const QRegularExpression line(QStringLiteral("^(\\S+) (t\\d+) n(\\d+)\\n?$"));
    NumberedStreams streams;
    for (const StoredRow& row : rows) {
        const QRegularExpressionMatch m = line.match(row.message);
        if (m.hasMatch() && m.captured(1) == tag)
            streams[tag + QLatin1Char(' ') + m.captured(2)].append(m.captured(3).toLongLong());
    }
    return streams;
}

// Empty when every stream is 0, 1, 2, ... in row order; otherwise what is wrong.
inline QString prefixProblem(const NumberedStreams& streams)
{
    for (auto it = streams.begin(); it != streams.end(); ++it)
        for (int i = 0; i < it.value().size(); ++i)
            if (it.value()[i] != i)
                return QStringLiteral("%1: row %2 holds n%3").arg(it.key()).arg(i).arg(it.value()[i]);
    return QString();
}
