#pragma once

#include <QString>
#include <QStringRef>
#include <QVector>

#include <functional>

// How the result pane reads a record block's text, kept apart from the widget
// so that what is shown, what is copied and what is found agree. The rules are
// the ones a plain-text Qt document applies: a line feed, a carriage return
// (alone or before a line feed), U+2029 and Qt's frame marks U+FDD0/U+FDD1 end
// a paragraph; U+2028 breaks a line inside one.
namespace PaneText {

struct Range
{
    int start;
    int length;
};

// A character position in the pane: a record, and an offset in its block.
struct Position
{
    int record = 0;
    int offset = 0;
};

bool before(const Position& a, const Position& b);

// The block of a record, by its number; may read it from the database.
using BlockAt = std::function<QString(int record)>;
// Asked now and then by long work; true ends it.
using Stop = std::function<bool()>;

// The paragraphs of text[start, end), as ranges of `text`. A range that ends
// right after a separator yields a final empty paragraph, as a document would.
QVector<Range> paragraphs(const QString& text, int start, int end);

// A long block is laid out in pieces of a fixed length. `slice` is one piece
// of `length` characters, with the `before` (0 or 1) characters before it
// and the (up to two) characters after it; the result is the part of `slice`
// the piece lays out. A boundary moves past a surrogate pair or a "\r\n" it
// splits, and past a line end that starts at it: these end the piece before,
// so nothing is split into two characters and no line end into two.
Range pieceRange(const QString& slice, int before, int length);

// How far back from a piece's nominal start a line of words is looked at for
// a white space to start the piece after (so that a long line is not broken
// inside a word where two pieces meet): longer than any line a pane shows.
constexpr int kWrapLookBack = 512;

// Where a piece nominally starting at `at` really starts, as an offset in
// `window`, which holds the text from `before` characters before `at` to
// two after it: after the last white space among those `before`
// characters, or at `at` where there is none; then past a surrogate pair,
// a "\r\n" or a line end that would be split there, as pieceRange() moves.
int pieceStart(const QString& window, int before);

// `text` as Qt's copy of a plain-text document hands it to the clipboard:
// every paragraph or line separator becomes one line feed, a no-break space
// a plain space.
QString copyText(QStringRef text);

// The text from `start` to `end` as copying hands it over: the blocks between
// joined by line feeds, then copyText(). A null text when `stop` said so.
QString joinedText(const Position& start, const Position& end, const BlockAt& blockAt, const Stop& stop = Stop());

} // namespace PaneText
