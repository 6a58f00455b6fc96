#include "ResultPane.h"

#include <QFont>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "RecordBlock.h"

namespace ResultPane {

namespace {

QFont paneFont(int pixelSize)
{
    QFont font;
    font.setPixelSize(pixelSize);
    return font;
}

void resetPane(QTextEdit* pane, int pixelSize)
{
    pane->setFont(paneFont(pixelSize));
    pane->clear();
}

// Starts a new paragraph for every piece after the first, the way
// QTextEdit::append() does, but inserts the text itself as plain text.
void appendPlainParagraph(QTextCursor& cursor, bool first, const QString& text)
{
    if (!first)
        cursor.insertBlock();
    cursor.insertText(text);
}

} // namespace

QString notFoundText()
{
    return QStringLiteral("没有找到相关记录");
}

QString queryFailedText(const QString& reason)
{
    return QStringLiteral("查询失败：%1").arg(reason);
}

void showRecords(QTextEdit* pane, const SystemLog::RecordList& records)
{
    resetPane(pane, kRecordPixelSize);
    QTextCursor cursor(pane->document());
    cursor.beginEditBlock();
    bool first = true;
    for (const auto& record : records) {
        appendPlainParagraph(cursor, first, recordBlock(record));
        first = false;
    }
    cursor.endEditBlock();
}

void showNotice(QTextEdit* pane, const QString& text)
{
    resetPane(pane, kNoticePixelSize);
    QTextCursor cursor(pane->document());
    appendPlainParagraph(cursor, true, text);
}

} // namespace ResultPane
