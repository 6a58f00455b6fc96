#pragma once

#include <QString>

#include <cstdint>
#include <list>
#include <string>

#include "store/MsgItem.h"
#include "write/SideFileFormat.h"

namespace SystemLog {

// Lines (and drop records) that a writer could not store before it ended,
// kept in side files next to the database until a writer of the same
// database takes them in. The format is SideFileFormat.h's.
//
// Names: "<database file>-unwritten-<pid>-<msecs>-<n>", one file per ending
// writer, so that programs ending at the same time never share a file, and a
// name is never used twice. A file is written under a ".part" name, synced
// and then renamed, so a side file under its own name is always complete.
// Taking in, exactly once: a writer claims a side file by renaming it to
// "<name>.taking-<pid>", which only one writer can do, checks the whole file
// (validate) and then hands its rows over in bounded batches (readBatch).
// The writer commits each batch together with a record of the file's name
// and the number of its rows stored so far (QDBSqlite::insertTakenIn), so
// whoever takes the file in again skips exactly the rows already stored.
// Once every row is stored the file is removed, and only then the record.
// A writer that stops before the end gives the file back under its own name;
// a "…taking-<pid>" file whose process is gone is claimed by the next writer
// like a waiting one. A file that does not decode is renamed
// "<name>.unreadable" and left for a person; the files beside it are taken in.
// Files are listed, renamed and read with the C++ and C libraries alone,
// because a writer may take in or give back while its process exits, when
// Qt's global objects may already be gone.
// Threads: one object belongs to one writer thread; files are shared between
// processes through the renames alone.
class UnwrittenLines
{
public:
    explicit UnwrittenLines(const QString& databasePath);
    ~UnwrittenLines();
    // Another database from now on; a claimed file is given back first.
    void setDatabasePath(const QString& databasePath);
    UnwrittenLines(const UnwrittenLines&) = delete;
    UnwrittenLines& operator=(const UnwrittenLines&) = delete;

    // Writes `rows` into a new side file. False when it could not be written
    // completely (then no side file is left); error() says why.
    bool save(const std::list<tag_MsgItem>& rows);
    QString savedPath() const { return m_savedPath; }
    QString error() const { return m_error; }

    // Claims the oldest side file of the database (or one that a process
    // that is gone had claimed) that decodes; false when none is waiting.
    // Files that do not decode are set aside as "…unreadable" on the way.
    bool claimNext();
    bool claimed() const { return m_reader.isOpen(); }
    // The claimed file's own name (without folder and claim mark): the key
    // of its record in the database.
    const std::string& claimedName() const { return m_claimedName; }
    // Passes over the first `rows` rows (stored before); false when the file
    // turned out bad on the way (then it was set aside as unreadable).
    bool skip(std::uint64_t rows);
    // The next rows, at most maxRows and about maxBytes of text. False when
    // the file is at its end (then `rows` is empty) or turned out bad (then
    // it was set aside as unreadable and nothing is claimed any more).
    bool readBatch(std::list<tag_MsgItem>& rows, std::size_t maxRows, std::size_t maxBytes);
    // Rows of the claimed file read so far (skipped ones included).
    std::uint64_t rowsRead() const { return m_reader.rowsRead(); }
    // Every row is stored: removes the file.
    void finishClaim();
    // Stops taking the file in for now: gives it back under its own name.
    void giveBack();

private:
    void setAsideUnreadable();

    QString m_databasePath;
    std::string m_nativePath;  // the database's path as the file system names it
    QString m_savedPath;
    QString m_error;
    SideFileReader m_reader;
    std::string m_claimedName;
    std::string m_claimedPath;  // "<folder>/<name>.taking-<pid>"
    std::string m_waitingPath;  // "<folder>/<name>"
};

} // namespace SystemLog
