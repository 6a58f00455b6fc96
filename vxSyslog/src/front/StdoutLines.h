#pragma once

namespace SystemLog {

// Standard output for the lines logged once the log service has ended (the
// service installs it as the output function when it ends), so that they
// come out whole, once each and in each thread's order while the process
// exits. Each line is one write() of its own on file descriptor 1, never
// through the C library's buffer of stdout: exit() flushes that buffer
// without its lock while other threads may still be logging, which
// duplicated and spliced their lines. A line holds at most 4,000 bytes, less
// than a pipe writes at once (PIPE_BUF), and Linux keeps concurrent writes to
// a regular file from overlapping. Elsewhere than on Unix, the C library's
// block write and a flush.
//
// beginStdoutLines() flushes what stdout's buffer holds, once, before the
// switch, so that lines written before stay before. Any thread.
void beginStdoutLines();
void writeStdoutLine(int type, const char* text, int length);

} // namespace SystemLog
