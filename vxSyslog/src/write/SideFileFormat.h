#pragma once

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>

#include "store/MsgItem.h"

namespace SystemLog {

// The text format of a side file (UnwrittenLines.h) and its reader.
//
//   vxSyslog unwritten lines 3\n
//   <yyyy-MM-dd hh:mm:ss> <±hhmm> <type> <length>\n<length bytes of UTF-8>\n   (per row)
//   end <rows>\n
//
// Version 3 carries each row's time stamp as text, formatted by the program
// that logged the line, and the UTC offset it was formatted in ("?" when not
// known), so that the row keeps that program's local time whoever stores it
// and the storing writer can record the zone beside the rows (a vacuum in
// another zone reads the stamps right). Version 2 (earlier programs) has the
// stamp without the offset; version 1 carries the bare second instead
// ("<seconds since 1970> <type> <length>"), whose rows are formatted by the
// storing program, the only thing that can still be done. A stamp must name
// a second that exists (no month 13, no 25:61:61).
//
// Hostile or damaged files: the reader trusts nothing it reads. Every header
// line is bounded (kMaxHeaderLine), every number is parsed into a 64-bit value
// and checked against its range before use, a row's text is bounded
// (kMaxTextBytes, and the bytes left in the file) and must be followed by its
// line feed, and the file must end
// exactly after "end <rows>" with the number of rows read. Memory: one row at
// a time; validate() reads the whole file without keeping any row. Uses the C
// library alone (no Qt global object), so it works while the process exits.
// Threads: one object belongs to one thread.
class SideFileReader
{
public:
    static constexpr std::size_t kMaxHeaderLine = 64;
    static constexpr std::int64_t kMaxTextBytes = 16 * 1024 * 1024;

    enum class Step { Row, End, Bad };

    SideFileReader() = default;
    ~SideFileReader();
    SideFileReader(const SideFileReader&) = delete;
    SideFileReader& operator=(const SideFileReader&) = delete;

    // Opens the file and reads its first line; false when it cannot be opened
    // or is not a side file.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_file != nullptr; }
    int version() const { return m_version; }

    // Reads the whole file from the first row; true when every row decodes
    // and the end line counts them. Leaves the reader at the first row again.
    bool validate();
    // The next row into `row`, Row; End after the end line (file ended there);
    // Bad when the file does not decode at this point.
    Step next(tag_MsgItem& row);
    // Rows read so far since the first row.
    std::uint64_t rowsRead() const { return m_rows; }

    // Encodes rows in the current version. A row without a stamp text gets
    // its second formatted in this process's zone.
    static QByteArray encode(const std::list<tag_MsgItem>& rows);
    // The same, written to `file` in chunks (never the whole file in memory);
    // false when a write failed.
    static bool write(std::FILE* file, const std::list<tag_MsgItem>& rows);

private:
    bool readLine(std::string& line);
    bool rewind();
    // One step of next(); validate() does not decode the texts.
    Step readStep(tag_MsgItem& row, bool decodeText);
    Step readRowHeader(const std::string& line, tag_MsgItem& row, std::int64_t& length);

    std::FILE* m_file = nullptr;
    int m_version = 0;
    long m_firstRow = 0;
    long m_size = -1;
    std::uint64_t m_rows = 0;
    bool m_ended = false;
    std::string m_text;  // one row's text, reused
};

} // namespace SystemLog
