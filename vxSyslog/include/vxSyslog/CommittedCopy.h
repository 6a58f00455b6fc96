#pragma once

#include <QString>

#include <memory>

#include <vxSyslog/vxSyslogExport.h>

class QTemporaryDir;

namespace SystemLog {

// A private copy of a log database whose last write was cut off (a hot
// journal), rolled back to its last committed state, for a reader that may
// not write the file itself (the viewer reads any file read-only). The file
// and its journal are only read: copied into a folder of this process in the
// temporary folder ($TMPDIR, "vxSyslog-copy-<pid>-XXXXXX"), where SQLite
// rolls the cut-off write back as any writer would. The copy is removed when
// the object goes; readers of it must be closed by then.
// Left behind: the folder holds a lock file, locked (flock) for as long as
// its process has the copy; the system lets the lock go when the process
// ends, however it ends. A process that was killed leaves its folder;
// removeAbandoned(), which make() calls first and a program may call at its
// start, removes every such folder whose lock is free.
// Room: a copy is as large as the file and its journal; make() checks the
// room in the temporary folder first and says how much it needs, where, and
// how to choose another folder (TMPDIR).
// Made again or not: isCurrent() tells whether the file and its journal are
// still as they were copied, so a reader may use one copy for several reads.
class VXSYSLOG_EXPORT CommittedCopy
{
public:
    // The copy, or null with the reason (a Chinese sentence) in `error`.
    static std::shared_ptr<CommittedCopy> make(const QString& path, QString& error);
    // Removes the copies of processes that no longer run; returns how many.
    static int removeAbandoned();
    ~CommittedCopy();

    // The rolled-back copy, to be opened read-only.
    QString path() const { return m_path; }
    QString originalPath() const { return m_original; }
    // Whether `path` names the file copied and it and its journal are
    // unchanged since (same files, sizes and modification times).
    bool isCurrent(const QString& path) const;

    // The line a reader shows above what it read from a copy.
    static QString noteText();

private:
    CommittedCopy() = default;
    static QString stateOf(const QString& path);

    class OwnerLock;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<OwnerLock> m_owner;
    QString m_path;
    QString m_original;
    QString m_originalState;
};

} // namespace SystemLog
