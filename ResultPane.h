#pragma once

#include <QString>

#include "QDBSqlite.h"

class QTextEdit;

// Fills the window's result pane. Everything goes in as plain text: a log
// message that happens to look like HTML ("<b>x</b>", "a < b") must be shown
// exactly as it was logged, never rendered.
namespace ResultPane {

constexpr int kRecordPixelSize = 18;
constexpr int kNoticePixelSize = 30;

QString notFoundText();
QString queryFailedText(const QString& reason);

// Replaces the pane's content with one paragraph per record block, in list
// order, in the 18 px font. The document is built in a single edit pass; it
// holds exactly the blocks, text and formats that appending the blocks one by
// one as plain text would give, but without one layout pass per record.
void showRecords(QTextEdit* pane, const SystemLog::RecordList& records);

// Replaces the pane's content with one notice paragraph in the 30 px font.
void showNotice(QTextEdit* pane, const QString& text);

} // namespace ResultPane
