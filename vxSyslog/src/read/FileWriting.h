#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// What every file the module writes for an operator (a day export, a
// listing as CSV) shares: the reason of a failed write in Chinese, and a
// write that either puts every byte or says why not.
namespace SystemLog {
namespace FileWriting {

// The file system's reason in Chinese for the faults an operator can act on,
// followed by the system's own text; Qt reports errno through errorString().
QString failureText(const QFileDevice& file);

// Every byte, or false. A write that stops short (the size limit reached) is
// retried with the rest, so the call that fails sets the file's error and
// its reason rather than leaving "Unknown error".
bool writeAll(QFileDevice& file, const QByteArray& bytes);

// A device or other special file at the path (a link to a terminal, a pipe)
// is written in place: renaming a new file over it would replace the device.
bool isSpecialFile(const QString& path);

} // namespace FileWriting
} // namespace SystemLog
