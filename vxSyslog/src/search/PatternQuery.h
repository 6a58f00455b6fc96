#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// What the text index is asked for a search: an FTS5 MATCH expression over
// the index's words (TextTokens) that every message the search can match
// satisfies. The index may answer more (the words in another order, a word
// that only starts alike); every candidate still goes through the real
// matcher. An empty expression means the index can narrow nothing down
// (a pattern of one Latin letter, only punctuation, a construct this
// reading does not follow): the search reads every record.
//
// A regular expression is read for the texts it cannot match without: its
// literal characters, where no quantifier may leave one out, each
// alternative (|) on its own; classes, dots, escapes like \d and anything
// else only end a literal. Constructs that change what a character means
// (inline options such as (?x), \Q...\E, \p{...}, verbs) make it give up
// rather than guess.
namespace PatternQuery {

// For a grep pattern: a regular expression (plain text is one), or with
// `fixedStrings` a text looked for as it is (vxlog -F).
VXSYSLOG_EXPORT QByteArray forPattern(const QString& pattern, bool ignoreCase, bool fixedStrings = false);

// For a text looked for as it is (the viewer's find, a fixed prefix).
VXSYSLOG_EXPORT QByteArray forLiteral(const QString& text, bool ignoreCase);

// For the central database's index of character pairs (docs/fleet_log.sql):
// alternatives, each the pairs a matching message holds all of; empty when
// that index can narrow nothing down.
VXSYSLOG_EXPORT QVector<QStringList> pairsForPattern(const QString& pattern, bool ignoreCase, bool fixedStrings = false);

} // namespace PatternQuery

} // namespace SystemLog
