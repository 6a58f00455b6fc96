#pragma once

// Runs the real vxlog binary (VXLOG_BINARY) on log databases the tests build.

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "BuiltPath.h"
#include "store/QDBSqlite.h"
#include "TestDatabase.h"

namespace VxlogTest {

constexpr int kRunTimeoutMs = 60000; // generous: sanitizer builds start slowly

struct Result
{
    int exitCode = -1;
    bool crashed = true;
    QByteArray out;
    QByteArray err;
};

// `program` runs instead of vxlog when given (a shell that limits vxlog, say).
inline Result runVxlog(const QStringList& arguments, const QString& workingDir, const QByteArray& input = QByteArray(),
                       const QString& outputFile = QString(), const QString& program = QString())
{
    QProcess process;
    process.setWorkingDirectory(workingDir);
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    process.start(program.isEmpty() ? vxtest::built(VXLOG_BINARY) : program, arguments);
    Result result;
    if (!process.waitForStarted(kRunTimeoutMs))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// A log database with the writer's own table (and, unless told otherwise,
// its index), filled through a connection of the test's own.
inline void createLogTable(const TestDatabase& db, bool withIndex = true)
{
    db.exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql));
    if (withIndex)
        db.exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateIndexSql));
}

inline QByteArray checksum(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QString stamp(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// Fields of RFC 4180 records (quoted fields with doubled quotes and embedded
// line ends, CRLF between records).
inline QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            record << field;
            records << record;
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !record.isEmpty()) {
        record << field;
        records << record;
    }
    return records;
}

} // namespace VxlogTest
