#pragma once

#include <QString>

#include <memory>

#include <vxSyslog/vxSyslogExport.h>

class QTemporaryDir;

namespace SystemLog {

// A private copy of a log database whose last write was cut off (a hot
// journal), rolled back to its last committed state, for a reader that may
// not write the file itself (the viewer reads any file read-only). The file
// and its journal are only read: copied into a temporary folder of this
// process, where SQLite rolls the cut-off write back as any writer would.
// The copy is removed when the object goes; readers of it must be closed
// by then. A copy is as large as the file: it is made only for a file that
// cannot be read otherwise.
class VXSYSLOG_EXPORT CommittedCopy
{
public:
    // The copy, or null with the reason (a Chinese sentence) in `error`.
    static std::shared_ptr<CommittedCopy> make(const QString& path, QString& error);
    ~CommittedCopy();

    // The rolled-back copy, to be opened read-only.
    QString path() const { return m_path; }
    QString originalPath() const { return m_original; }

    // The line a reader shows above what it read from a copy.
    static QString noteText();

private:
    CommittedCopy() = default;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    QString m_original;
};

} // namespace SystemLog
