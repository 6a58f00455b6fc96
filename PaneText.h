#pragma once

#include <QString>
#include <QStringRef>
#include <QVector>

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

// The paragraphs of text[start, end), as ranges of `text`. A range that ends
// right after a separator yields a final empty paragraph, as a document would.
QVector<Range> paragraphs(const QString& text, int start, int end);

// `text` as Qt's copy of a plain-text document hands it to the clipboard:
// every paragraph or line separator becomes one line feed, a no-break space
// a plain space.
QString copyText(QStringRef text);

} // namespace PaneText
