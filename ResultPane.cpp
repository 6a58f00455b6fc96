#include "ResultPane.h"

#include <QFont>
#include <QTextDocument>
#include <QTextEdit>

#include <vxSyslog/RecordBlock.h>

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

// The record blocks one after the other; each line feed between two of them
// starts the next paragraph, as each append() would.
QString joinedRecordBlocks(const SystemLog::RecordList& records)
{
    int length = 0;
    for (const auto& record : records)
        length += record.first.size() + record.second.size() + 3;
    QString text;
    text.reserve(length);
    for (int i = 0; i < records.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        text += SystemLog::recordBlock(records.at(i));
    }
    return text;
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
    pane->document()->setPlainText(joinedRecordBlocks(records));
}

void showNotice(QTextEdit* pane, const QString& text)
{
    resetPane(pane, kNoticePixelSize);
    pane->document()->setPlainText(text);
}

} // namespace ResultPane
