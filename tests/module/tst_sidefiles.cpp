#include <QtTest>

#include <list>

#include "write/SideFileFormat.h"

using SystemLog::SideFileReader;
using SystemLog::tag_MsgItem;

// The side-file decoder against files it did not write: hand-made hostile
// ones, and a bounded run of random mutations of good ones (its seed is
// printed; VXLOG_MUTATION_SEED repeats a run). Under the sanitizers (CI) any
// read out of bounds or overflow fails the run; here every file must either
// decode completely or be refused, never half of each. What a writer does
// with a refused file is tst_writerfaults' part.
class tst_SideFiles : public QObject
{
    Q_OBJECT

private slots:
    void hostileFileIsRefused_data();
    void hostileFileIsRefused();
    void goodFilesDecodeWithTheirStamps_data();
    void goodFilesDecodeWithTheirStamps();
    void mutatedFilesDecodeWholeOrNotAtAll();
};

namespace {

constexpr int kMutations = 3000;

QByteArray goodFile()
{
    std::list<tag_MsgItem> rows;
    rows.emplace_back(QStringLiteral("主轴启动\n"), 2, std::time_t(0), QByteArray("2026-12-08 03:01:00"), 8 * 3600L);
    rows.emplace_back(QString(), 4, std::time_t(0), QByteArray("2026-12-08 03:01:01"));
    rows.emplace_back(QStringLiteral("line\nwith\nbreaks"), -7, std::time(nullptr));
    rows.emplace_back(QString(300, QLatin1Char('x')), 2147483647, std::time(nullptr));
    return SideFileReader::encode(rows);
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("side"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

// Every step of a file that validates is a row until its end; a file that
// does not validate is never read as complete.
QString decodeProblem(const QString& path)
{
    SideFileReader reader;
    if (!reader.open(QFile::encodeName(path).toStdString()))
        return QString();
    const bool valid = reader.validate();
    tag_MsgItem row;
    SideFileReader::Step step;
    std::uint64_t rows = 0;
    while ((step = reader.next(row)) == SideFileReader::Step::Row) {
        if (row.stamp.size() != 0 && row.stamp.size() != 19)
            return QStringLiteral("a stamp of %1 bytes").arg(row.stamp.size());
        ++rows;
    }
    if (valid != (step == SideFileReader::Step::End))
        return QStringLiteral("validate() said %1, reading ended %2 after %3 rows")
            .arg(valid)
            .arg(step == SideFileReader::Step::End ? "at the end" : "bad")
            .arg(rows);
    return QString();
}

} // namespace

void tst_SideFiles::hostileFileIsRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray v1("vxSyslog unwritten lines 1\n");
    const QByteArray v2("vxSyslog unwritten lines 2\n");
    QTest::newRow("length past int") << v1 + "0 2 2147483647\nX\nend 0\n";
    QTest::newRow("length past 64 bits") << v1 + "0 2 99999999999999999999\nX\nend 1\n";
    QTest::newRow("negative length") << v1 + "0 2 -1\nX\nend 1\n";
    QTest::newRow("length past the file") << v2 + "2026-12-08 03:01:00 2 50\nabc\nend 1\n";
    QTest::newRow("huge length") << v2 + "2026-12-08 03:01:00 2 1073741824\nabc\nend 1\n";
    QTest::newRow("length near 2^63") << v2 + "2026-12-08 03:01:00 2 9000000000000000000\nX\nend 1\n";
    QTest::newRow("negative count") << v2 + "end -1\n";
    QTest::newRow("negative count after a row") << v2 + "2026-12-08 03:01:00 2 2\nfa\nend -1\n";
    QTest::newRow("count larger than rows") << v2 + "2026-12-08 03:01:00 2 1\nX\nend 2\n";
    QTest::newRow("truncated before end") << v2 + "2026-12-08 03:01:00 2 1\nX\n";
    QTest::newRow("truncated in a text") << v2 + "2026-12-08 03:01:00 2 10\nX";
    QTest::newRow("bytes after end") << v2 + "end 0\ntrailing";
    QTest::newRow("type past int") << v2 + "2026-12-08 03:01:00 4294967296 1\nX\nend 1\n";
    QTest::newRow("second before 1970") << v1 + "-5 2 1\nX\nend 1\n";
    QTest::newRow("second past year 9999") << v1 + "9223372036854775807 2 1\nX\nend 1\n";
    QTest::newRow("stamp not a time") << v2 + "2026-12-08 03:01:0x 2 1\nX\nend 1\n";
    QTest::newRow("second in a version 2 file") << v2 + "1700000000 2 1\nX\nend 1\n";
    // A stamp is checked like a length: it must name a second that exists.
    const QByteArray v3("vxSyslog unwritten lines 3\n");
    QTest::newRow("impossible time") << v2 + "2026-13-45 25:61:61 2 1\nX\nend 1\n";
    QTest::newRow("month 13") << v3 + "2026-13-01 00:00:00 +0800 2 1\nX\nend 1\n";
    QTest::newRow("month 0") << v3 + "2026-00-10 00:00:00 +0800 2 1\nX\nend 1\n";
    QTest::newRow("31 April") << v2 + "2026-04-31 08:00:00 2 1\nX\nend 1\n";
    QTest::newRow("29 February of a common year") << v3 + "2026-02-29 08:00:00 +0000 2 1\nX\nend 1\n";
    QTest::newRow("29 February of 1900") << v2 + "1900-02-29 08:00:00 2 1\nX\nend 1\n";
    QTest::newRow("hour 24") << v2 + "2026-12-08 24:00:00 2 1\nX\nend 1\n";
    QTest::newRow("minute 60") << v3 + "2026-12-08 23:60:00 -0500 2 1\nX\nend 1\n";
    QTest::newRow("second 61 after a good row") << v2 + "2026-12-08 03:01:00 2 1\nX\n2026-12-08 03:01:61 2 1\nY\nend 2\n";
    QTest::newRow("year 0") << v3 + "0000-01-01 00:00:00 +0000 2 1\nX\nend 1\n";
    QTest::newRow("offset past 18 hours") << v3 + "2026-12-08 03:01:00 +1900 2 1\nX\nend 1\n";
    QTest::newRow("offset minutes past 59") << v3 + "2026-12-08 03:01:00 +0860 2 1\nX\nend 1\n";
    QTest::newRow("offset without a sign") << v3 + "2026-12-08 03:01:00 0800 2 1\nX\nend 1\n";
    QTest::newRow("version 3 row without an offset") << v3 + "2026-12-08 03:01:00 2 1\nX\nend 1\n";
    QTest::newRow("endless header line") << v2 + QByteArray(100000, '1');
    QTest::newRow("unknown version") << QByteArray("vxSyslog unwritten lines 4\nend 0\n");
    QTest::newRow("empty") << QByteArray();
}

void tst_SideFiles::hostileFileIsRefused()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = writeFile(dir, content);
    QVERIFY(!path.isEmpty());
    SideFileReader reader;
    QVERIFY(!reader.open(QFile::encodeName(path).toStdString()) || !reader.validate());
    QCOMPARE(decodeProblem(path), QString());
}

void tst_SideFiles::goodFilesDecodeWithTheirStamps_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("firstStamp");
    QTest::addColumn<QString>("firstText");
    QTest::addColumn<int>("rows");
    QTest::addColumn<qint64>("firstOffset");
    const qint64 unknown = SystemLog::kUnknownStampOffset;
    QTest::newRow("version 3, as written now")
        << goodFile() << QByteArray("2026-12-08 03:01:00") << QStringLiteral("主轴启动\n") << 4 << qint64(8 * 3600);
    QTest::newRow("version 3, west of UTC, 29 February of a leap year")
        << QByteArray("vxSyslog unwritten lines 3\n2028-02-29 23:59:59 -0930 2 1\nX\n2026-12-08 03:01:00 ? 2 0\n\nend 2\n")
        << QByteArray("2028-02-29 23:59:59") << QStringLiteral("X") << 2 << qint64(-(9 * 3600 + 30 * 60));
    QTest::newRow("version 2, as written before")
        << QByteArray("vxSyslog unwritten lines 2\n2000-02-29 00:00:00 2 1\nX\nend 1\n") << QByteArray("2000-02-29 00:00:00")
        << QStringLiteral("X") << 1 << unknown;
    // Earlier programs wrote the bare second: formatted when stored.
    QTest::newRow("version 1, as written before")
        << QByteArray("vxSyslog unwritten lines 1\n1700000000 3 5\nalarm\n1700000001 -2 0\n\nend 2\n") << QByteArray()
        << QStringLiteral("alarm") << 2 << unknown;
    QTest::newRow("no rows") << QByteArray("vxSyslog unwritten lines 2\nend 0\n") << QByteArray() << QString() << 0 << unknown;
}

void tst_SideFiles::goodFilesDecodeWithTheirStamps()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, firstStamp);
    QFETCH(QString, firstText);
    QFETCH(int, rows);
    QFETCH(qint64, firstOffset);
    QTemporaryDir dir;
    const QString path = writeFile(dir, content);
    SideFileReader reader;
    QVERIFY(reader.open(QFile::encodeName(path).toStdString()));
    QVERIFY(reader.validate());
    tag_MsgItem row;
    int read = 0;
    while (reader.next(row) == SideFileReader::Step::Row) {
        if (read == 0) {
            QCOMPARE(row.stamp, firstStamp);
            QCOMPARE(row.message, firstText);
            QCOMPARE(qint64(row.stampOffset), firstOffset);
        }
        ++read;
    }
    QCOMPARE(read, rows);
}

void tst_SideFiles::mutatedFilesDecodeWholeOrNotAtAll()
{
    bool fromEnvironment = false;
    const quint32 seed = quint32(qEnvironmentVariableIntValue("VXLOG_MUTATION_SEED", &fromEnvironment));
    const quint32 used = fromEnvironment ? seed : QRandomGenerator::global()->generate();
    qInfo("mutation seed %u (VXLOG_MUTATION_SEED=%u repeats this run)", used, used);
    QRandomGenerator random(used);
    const QByteArray good = goodFile();
    const QByteArray pieces[] = {"\n", " ", "-", "0", "9", "2147483647", "4294967296", "99999999999999999999",
                                 "end ", "-1", "\xff", QByteArray(1, '\0')};
    QTemporaryDir dir;
    int refused = 0;
    for (int i = 0; i < kMutations; ++i) {
        QByteArray bytes = good;
        const int edits = 1 + int(random.bounded(4));
        for (int e = 0; e < edits; ++e) {
            const int at = int(random.bounded(bytes.size() + 1));
            switch (random.bounded(5)) {
            case 0:  // flip a byte
                if (at < bytes.size())
                    bytes[at] = char(random.bounded(256));
                break;
            case 1:  // cut the file
                bytes.truncate(at);
                break;
            case 2:  // remove a run
                bytes.remove(at, int(random.bounded(20)));
                break;
            case 3:  // insert a piece that parsers trip over
                bytes.insert(at, pieces[random.bounded(int(sizeof pieces / sizeof pieces[0]))]);
                break;
            case 4:  // repeat a run
                bytes.insert(at, bytes.mid(int(random.bounded(bytes.size() + 1)), int(random.bounded(64))));
                break;
            }
        }
        const QString path = writeFile(dir, bytes);
        QVERIFY(!path.isEmpty());
        const QString problem = decodeProblem(path);
        if (!problem.isEmpty())
            QFAIL(qPrintable(QStringLiteral("mutation %1: %2: %3")
                                 .arg(i)
                                 .arg(problem, QString::fromLatin1(bytes.toPercentEncoding()))));
        SideFileReader reader;
        refused += !(reader.open(QFile::encodeName(path).toStdString()) && reader.validate());
    }
    // The mutations reach the decoder's checks, not just the header.
    QVERIFY2(refused > kMutations / 2 && refused < kMutations, qPrintable(QString::number(refused)));
}

QTEST_GUILESS_MAIN(tst_SideFiles)
#include "tst_sidefiles.moc"
