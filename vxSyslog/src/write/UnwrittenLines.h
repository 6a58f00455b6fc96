#pragma once

#include <QString>

#include <list>
#include <string>

#include "store/MsgItem.h"

namespace SystemLog {

// Lines (and drop records) that a writer could not store before it ended,
// kept in side files next to the database until a writer of the same
// database takes them in.
//
// Names: "<database file>-unwritten-<pid>-<msecs>-<n>", one file per ending
// writer, so that programs ending at the same time never share a file. A
// file is written under a ".part" name, synced and then renamed, so a side
// file under its own name is always complete; the last line of the file
// states its number of rows, which the reader checks. Writing uses the C
// library alone, because it happens while a process exits, when Qt's global
// objects may already be gone; taking in never happens then.
// Taking in: a writer claims a side file by renaming it to
// "<name>.taking-<pid>", which only one writer can do, stores its rows in one
// transaction and then removes it. When the rows cannot be stored it gives
// the file back under its own name. A writer that is killed between claiming
// and removing leaves the ".taking-" file behind for a person to look at:
// whether its rows were committed is then not known, and taking it in again
// could store them twice. A side file that is not in this format is renamed
// "<name>.unreadable" and left for a person.
// Threads: one object belongs to one writer thread; files are shared between
// processes through the renames alone.
class UnwrittenLines
{
public:
    explicit UnwrittenLines(const QString& databasePath);

    // Writes `rows` into a new side file. False when it could not be written
    // completely (then no side file is left); error() says why.
    bool save(const std::list<tag_MsgItem>& rows);
    QString savedPath() const { return m_savedPath; }
    QString error() const { return m_error; }

    // Claims the oldest side file of the database and reads its rows; false
    // when none is waiting.
    bool claimNext(std::list<tag_MsgItem>& rows);
    // Ends the claim: removes the file once its rows are stored, or gives it
    // back for a later attempt.
    void finishClaim(bool stored);

private:
    QString m_databasePath;
    std::string m_nativePath;  // the database's path as the file system names it
    QString m_savedPath;
    QString m_claimedName;
    QString m_claimedPath;
    QString m_error;
};

} // namespace SystemLog
