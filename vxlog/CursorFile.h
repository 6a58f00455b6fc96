#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class QSaveFile;

// A position in the log kept across runs: the id of the last record that
// reached its destination, as a decimal first line in a small file (`vxlog
// forward --cursor-file`, `vxlog follow --cursor-file`). A second line
// "record TIME SHA1" may tell which log the id belongs to: the stored time
// and a SHA-1 of the message of the record with that id (markOf()). A file
// with the id alone (as written before the mark existed, and by follow) is
// read as a position without a mark.
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
    // `mark` is empty when the file has none.
    Read read(qint64& id, QByteArray& mark);
    Read read(qint64& id)
    {
        QByteArray mark;
        return read(id, mark);
    }

    // The two steps of store(): prepare() writes the new id (and mark, if
    // any) into a temporary file beside the cursor, commit() syncs it and
    // renames it over the cursor. False after a failure (errorText()).
    bool prepare(qint64 id, const QByteArray& mark = QByteArray());
    bool commit();
    bool store(qint64 id, const QByteArray& mark = QByteArray()) { return prepare(id, mark) && commit(); }

    // "TIME SHA1": the stored time and the SHA-1 (hex) of the message.
    static QByteArray markOf(const QByteArray& datetime, const QByteArray& message);

    QString errorText() const { return m_error; }

private:
    bool fail(const QString& reason);

    QString m_path;
    std::unique_ptr<QSaveFile> m_pending;
    QString m_error;
};
