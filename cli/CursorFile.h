#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QSaveFile;

// A position in the log kept across runs: the id of the last record that
// reached its destination, as one decimal line in a small file (`vxlog
// forward --cursor-file`, `vxlog follow --cursor-file`).
//
// Failure rule: a new id is written into a temporary file beside the cursor,
// synced, and renamed over it. A crash or a kill at any moment, also between
// the write and the rename, leaves the file with the old id or the new one,
// never a mix, a partial number or no file; a temporary file left behind by
// a kill is never read.
class CursorFile
{
public:
    explicit CursorFile(const QString& path);
    ~CursorFile();
    CursorFile(const CursorFile&) = delete;
    CursorFile& operator=(const CursorFile&) = delete;

    QString path() const { return m_path; }

    enum class Read { Found, Missing, Failed };
    // Failed: the file exists but cannot be read or holds no id (errorText()).
    Read read(qint64& id);

    // The two steps of store(): prepare() writes the new id into a temporary
    // file beside the cursor, commit() syncs it and renames it over the
    // cursor. False after a failure (errorText()).
    bool prepare(qint64 id);
    bool commit();
    bool store(qint64 id) { return prepare(id) && commit(); }

    QString errorText() const { return m_error; }

private:
    bool fail(const QString& reason);

    QString m_path;
    std::unique_ptr<QSaveFile> m_pending;
    QString m_error;
};
