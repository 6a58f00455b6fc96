#pragma once

#include <QByteArray>
#include <QString>

// Standard output for record streams: records are formatted into one large
// buffer and handed to the C library in big blocks, so a million records cost
// a few hundred writes, not a million. Every failure to write is kept, so
// that a command never ends with status 0 when its answer did not get out.
class StdoutWriter
{
public:
    StdoutWriter();
    ~StdoutWriter();

    // The buffer formatters append to; writes it out once it is large.
    QByteArray& buffer() { return m_buffer; }
    // Call after each record: false once standard output has failed.
    bool recordDone();
    // Writes everything out and flushes (after each batch of `follow`).
    bool flush();
    // "无法写出结果：<the system's reason in Chinese and as it is>".
    QString errorText() const;

private:
    bool writeOut();

    QByteArray m_buffer;
    bool m_failed = false;
    int m_errno = 0;
};

// One line (a line feed is added) on standard error, in UTF-8.
void printError(const QString& line);

// Text on standard output, in UTF-8, written at once. Returns the status to
// exit with: 0, or 1 after saying on standard error why it could not be written.
int printResult(const QString& text);
