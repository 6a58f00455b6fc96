#pragma once

#include <QString>

#include <functional>

namespace SystemLog {

// The words of the text index: what a message is cut into for the index,
// and what a searched text is cut into to look them up. Both sides fold
// case the same way (Unicode simple case folding, which is what a
// case-insensitive QRegularExpression and QString compare equal), so that
// every message a search can match holds the words the search asks for:
//
// - An ASCII letter or digit (also a character that folds to one, like the
//   Kelvin sign) belongs to a word. A word of two or more characters is
//   indexed as each of its suffixes longer than one character, each cut to
//   kMaxWordToken characters: any piece of two or more characters of a word
//   is then the start of one of them (a prefix query), and a piece that ends
//   where the word ends is one of them exactly.
// - Any other character above ASCII (Chinese, Japanese, symbols, other
//   scripts) belongs to a run. A run is indexed as its overlapping pairs of
//   characters, plus its last character alone: two or more characters of a
//   run are found as their pairs, a single one as the start of a pair or
//   as the last character.
// - ASCII punctuation, spaces and control characters, U+FFFD and bytes
//   that are not UTF-8 end words and runs and are not indexed.
//
// A search looks up only what it is sure of and leaves the rest to the
// real matcher, which every candidate the index gives still passes through.
namespace TextTokens {

constexpr int kMaxWordToken = 12;

using TokenSink = std::function<void(const char* token, int length)>;

// Every index word of a stored message (UTF-8, possibly malformed).
void forEachToken(const char* text, int length, const TokenSink& sink);

// A term of a search: an index word, exact or as a prefix.
struct Term
{
    QByteArray token;
    bool prefix = false;
};

// The terms that every text holding `literal` contains, for a search with
// or without ignoring case; empty when the index can answer nothing about
// it (too short, or only punctuation).
QVector<Term> termsOf(const QString& literal, bool ignoreCase);

// Whether the index's answer for `literal` is exactly the set of texts
// holding it, so that a count needs no matcher: one ASCII word of 2 to
// kMaxWordToken letters and digits searched ignoring case (a prefix of
// the folded suffixes), or one or two characters of a run (a pair, or the
// start of a pair or a run's last character) that fold the same whatever
// their case. Case-sensitive searches of letters that have a case are
// never exact, since the index folds them.
bool answersExactly(const QString& literal, bool ignoreCase);

} // namespace TextTokens

} // namespace SystemLog
