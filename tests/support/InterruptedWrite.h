#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QtTest>

// Leaves the log database at `path` (which holds the log table) as a writer
// killed in mid-transaction does: its journal hot (synced, its header
// written) and pages of the database already overwritten with rows of
// '2024-05-02' whose messages start with "lost". Readers must see the rows
// committed before, never those. Uses the sqlite3 shell as the writer.
inline void leaveInterruptedWrite(const QString& path)
{
    QProcess writer;
    writer.start(QStringLiteral("sqlite3"), {path});
    QVERIFY(writer.waitForStarted());
    writer.write("PRAGMA cache_size=2;\nBEGIN;\n"
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                 "INSERT INTO SystemInfo(datetime, type, message) SELECT '2024-05-02 00:00:00', 2, 'lost ' || i FROM n;\n");
    QFile journal(path + QStringLiteral("-journal"));
    const QByteArray hotHeader = QByteArray::fromHex("d9d505f920a163d7");
    // Closed before each look: a journal opened before its header was written
    // would otherwise stay open and every later open() fail.
    QTRY_VERIFY_WITH_TIMEOUT((journal.close(), journal.open(QIODevice::ReadOnly)) && journal.read(8) == hotHeader, 20000);
    journal.close();
    writer.kill();
    QVERIFY(writer.waitForFinished());
    QVERIFY(journal.exists());
}
