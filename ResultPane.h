#pragma once

#include <QString>

#include <vxSyslog/RecordList.h>

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
// order, in the 18 px font. The document is replaced in one plain-text pass;
// it holds exactly the blocks, text and formats that appending the blocks one
// by one as plain text would give. Because the whole document is new, Qt lays
// it out lazily instead of once per record (see bench/bench_resultpane.cpp).
void showRecords(QTextEdit* pane, const SystemLog::RecordList& records);

// Replaces the pane's content with one notice paragraph in the 30 px font.
void showNotice(QTextEdit* pane, const QString& text);

} // namespace ResultPane
