#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace SystemLog {

// One row of SystemInfo as a reader delivers it (RecordList.h says when to
// use it rather than a RecordList). The texts are the stored
// UTF-8 bytes, untouched, so a record can be written out again without a
// round trip through UTF-16. Records handed to a LogReader callback refer
// to the reader's row buffer and are valid only during the call; copy the
// byte arrays (QByteArray(r.message.constData(), r.message.size())) to keep them.
struct LogRecord
{
    // How the type column was stored. This system's programs store an int;
    // a row written by other means may hold NULL, a text, a real or an
    // integer beyond int, which `type` (then 0) cannot show.
    enum class StoredType {
        Int,
        Null,
        Number,  // a real, or an integer beyond int; typeText holds it
        Text,    // typeText holds it
    };

    qint64 id = 0;
    int type = 0;
    QByteArray datetime;  // "yyyy-MM-dd hh:mm:ss" as stored
    QByteArray message;
    StoredType storedType = StoredType::Int;
    QByteArray typeText;  // Number and Text: the stored value as SQLite gives it as text
    // The machine the record comes from, where a reader lists several
    // (LogSource): its name, and its place in the source's machines. The
    // name is empty for a reader of one file.
    QByteArray host;
    int machine = 0;
};

} // namespace SystemLog
