// The day export's file handling: an export replaces an earlier file only
// when it is complete. The write is made to fail the way a full disk does,
// without privileges: in a child process with a file-size limit
// (RLIMIT_FSIZE, SIGXFSZ ignored), so write() itself fails with EFBIG. An
// export streamed from the database writes the same bytes as one of the
// records in memory, and one whose read fails or is cancelled part way
// leaves the earlier file.
#include <QDir>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vxSyslog/DayExport.h>
#include <vxSyslog/LogReader.h>

#include "TestDatabase.h"

namespace DayExport = SystemLog::DayExport;
using SystemLog::RecordList;

namespace {

constexpr rlim_t kFileSizeLimit = 64 * 1024;

RecordList recordsOfSize(int bytes)
{
    RecordList records;
    for (int written = 0; written < bytes; written += 60)
        records.append({QStringLiteral("2024-05-01 10:00:00"), QStringLiteral("报警：X 轴伺服过载，报警号 4001\n")});
    return records;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs the export in a child limited to kFileSizeLimit bytes per file; the
// child reports the outcome as "<status>\n<reason>" in `report`.
bool exportWithFileSizeLimit(const QString& path, const RecordList& records, const QString& report)
{
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{kFileSizeLimit, kFileSizeLimit};
        std::signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(3);
        const DayExport::Outcome outcome = DayExport::writeRecords(path, records);
        const QByteArray text = QByteArray::number(int(outcome.status)) + '\n' + outcome.reason.toUtf8();
        _exit(writeFile(report, text) ? 0 : 4);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class tst_DayExport : public QObject
{
    Q_OBJECT

private slots:
    void failedWriteKeepsTheEarlierFile_data();
    void failedWriteKeepsTheEarlierFile();
    void replacesAnEarlierFileWhenComplete();
    void aLinkToAFullDeviceFailsInPlace();
    void streamedFromTheDatabase_data();
    void streamedFromTheDatabase();
};

void tst_DayExport::failedWriteKeepsTheEarlierFile_data()
{
    QTest::addColumn<QByteArray>("earlier"); // null: no earlier file
    QTest::newRow("over an earlier export") << QByteArray("2024-05-01 09:00:00:\n开机\n").append(QByteArray(9000, 'e'));
    QTest::newRow("into an empty folder") << QByteArray();
}

void tst_DayExport::failedWriteKeepsTheEarlierFile()
{
    QFETCH(QByteArray, earlier);
    QTemporaryDir folder;
    QTemporaryDir reports;
    QVERIFY(folder.isValid() && reports.isValid());
    const QString path = DayExport::filePath(folder.path(), QStringLiteral("2024-05-01"));
    if (!earlier.isNull())
        QVERIFY(writeFile(path, earlier));

    const QString report = reports.filePath(QStringLiteral("outcome"));
    QVERIFY(exportWithFileSizeLimit(path, recordsOfSize(4 * kFileSizeLimit), report));
    const QList<QByteArray> outcome = fileBytes(report).split('\n');
    QCOMPARE(outcome.value(0).toInt(), int(DayExport::Status::WriteFailed));
    const QString reason = QString::fromUtf8(outcome.value(1));
    QVERIFY2(reason.startsWith(QStringLiteral("文件超过系统允许的大小（")), qPrintable(reason));
    QVERIFY(DayExport::outcomeText({DayExport::Status::WriteFailed, reason}, path).endsWith(QStringLiteral("原因：") + reason));

    const QStringList left = QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (earlier.isNull()) {
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
    } else {
        QCOMPARE(left, QStringList{QFileInfo(path).fileName()});
        QCOMPARE(fileBytes(path), earlier);
    }
}

// Shorter over longer, so a truncation fault would show; the limit is high
// enough for this file, so it is written whole.
void tst_DayExport::replacesAnEarlierFileWhenComplete()
{
    QTemporaryDir folder;
    QTemporaryDir reports;
    const QString path = DayExport::filePath(folder.path(), QStringLiteral("2024-05-01"));
    QVERIFY(writeFile(path, QByteArray(20000, 'e')));
    const RecordList records{{"2024-05-01 10:00:00", "电源电压正常\n"}, {"2024-05-01 10:00:01", "最后 100%"}};
    const QString report = reports.filePath(QStringLiteral("outcome"));
    QVERIFY(exportWithFileSizeLimit(path, records, report));
    QCOMPARE(fileBytes(report), QByteArray::number(int(DayExport::Status::Written)) + '\n');
    QCOMPARE(fileBytes(path), QTextCodec::codecForLocale()->fromUnicode(
                                  QStringLiteral("2024-05-01 10:00:00:\n电源电压正常\n2024-05-01 10:00:01:\n最后 100%\n")));
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
}

// A device is never replaced by a renamed file: it is written in place, and
// the full disk is named.
void tst_DayExport::aLinkToAFullDeviceFailsInPlace()
{
    if (!QFileInfo(QStringLiteral("/dev/full")).exists())
        QSKIP("this system has no /dev/full");
    QTemporaryDir folder;
    const QString path = DayExport::filePath(folder.path(), QStringLiteral("2024-05-01"));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    const DayExport::Outcome outcome = DayExport::writeRecords(path, recordsOfSize(100));
    QCOMPARE(int(outcome.status), int(DayExport::Status::WriteFailed));
    QVERIFY2(outcome.reason.startsWith(QStringLiteral("磁盘已满（")), qPrintable(outcome.reason));
    QVERIFY(QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
}

void tst_DayExport::streamedFromTheDatabase_data()
{
    QTest::addColumn<QString>("stop"); // how the export is stopped part way, if at all
    QTest::addColumn<int>("status");
    QTest::newRow("whole, the same bytes as from memory") << QString() << int(DayExport::Status::Written);
    QTest::newRow("the read fails part way") << "read fails" << int(DayExport::Status::ReadFailed);
    QTest::newRow("cancelled part way") << "cancel" << int(DayExport::Status::Cancelled);
}

// 21,000 records around the day (a megabyte and more, many chunks), every
// twentieth of another type.
void tst_DayExport::streamedFromTheDatabase()
{
    QFETCH(QString, stop);
    QFETCH(int, status);
    QTemporaryDir folder;
    const QString database = folder.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(database);
        QVERIFY(db.exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime DATETIME, "
                                       "type INT, message TEXT)")));
        QVERIFY(db.exec(QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 20999) "
                                       "INSERT INTO SystemInfo(datetime, type, message) SELECT strftime('%Y-%m-%d %H:%M:%S', "
                                       "'2024-04-30 23:59:00', '+' || (i * 4) || ' seconds'), 2 + (i % 20 = 0), "
                                       "'报警：X 轴伺服过载 ' || i || char(10) || '第二行 100%' FROM c")));
    }
    SystemLog::LogQuery query;
    query.types = {2};
    query.since = QStringLiteral("2024-05-01 00:00:00");
    query.until = QStringLiteral("2024-05-01 23:59:59");
    const QString path = DayExport::filePath(folder.path(), QStringLiteral("2024-05-01"));
    const QByteArray earlier("2024-05-01 09:00:00:\n开机");
    QVERIFY(writeFile(path, earlier));

    SystemLog::LogReader reader(database);
    QVERIFY2(reader.open(), qPrintable(reader.errorText()));
    qint64 reports = 0;
    const DayExport::Outcome outcome = DayExport::writeQuery(path, reader, query, [&](qint64 written) {
        ++reports;
        if (stop == QLatin1String("read fails") && written >= 8192)
            reader.interrupt();
        return !(stop == QLatin1String("cancel") && written >= 8192);
    });
    QCOMPARE(int(outcome.status), status);
    QVERIFY(reports >= 2);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2); // the database and the export
    if (!stop.isEmpty()) {
        QCOMPARE(fileBytes(path), earlier);
        return;
    }
    SystemLog::RecordList records;
    SystemLog::LogReader again(database);
    QVERIFY(again.open() && again.readBlocks(query, [&records](const QString& block) {
        const int colon = block.indexOf(QStringLiteral(":\n"));
        records.append(qMakePair(block.left(colon), block.mid(colon + 2)));
        return true;
    }));
    QCOMPARE(QString::number(records.size()),
             TestDatabase(database).scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE type = 2 AND "
                                                          "datetime >= '2024-05-01 00:00:00' AND datetime <= '2024-05-01 23:59:59'")));
    QCOMPARE(outcome.blocks, qint64(records.size()));
    const QString fromMemory = folder.filePath(QStringLiteral("from-memory.txt"));
    QCOMPARE(int(DayExport::writeRecords(fromMemory, records).status), int(DayExport::Status::Written));
    QCOMPARE(fileBytes(path), fileBytes(fromMemory));
}

QTEST_GUILESS_MAIN(tst_DayExport)
#include "tst_dayexport.moc"
