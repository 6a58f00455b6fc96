#include <QtTest>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/TextIndex.h>
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

#include <sqlite3.h>

#include <csignal>

#include "SearchLog.h"
#include "TestDatabase.h"
#include "VxlogTestSupport.h"
#include "read/IndexedSearch.h"
#include "read/MessageMatcher.h"
#include "search/IndexBuilder.h"
#include "search/PatternQuery.h"
#include "write/vxLogDB.h"

using SystemLog::IndexBuilder;
using SystemLog::IndexedSearch;
using SystemLog::LogQuery;
using SystemLog::LogReader;

// The text index beside a log: every search through it answers exactly what
// reading every row answers, whatever happened to the log or the index, and
// the writer keeps it up to date.
class tst_TextIndex : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void searchFindsWhatTheScanFinds_data();
    void searchFindsWhatTheScanFinds();
    void indexFollowsTheLog_data();
    void indexFollowsTheLog();
    void vxlogAnswersAsTheScan_data();
    void vxlogAnswersAsTheScan();
    void writerKeepsTheIndex();
    void indexThatCannotBeWritten_data();
    void indexThatCannotBeWritten();

private:
    struct Answer
    {
        QVector<qint64> read;
        QVector<qint64> listed;
        qint64 counted = -1;
        qint64 listedCount = -1;
        bool ok = false;
    };
    static Answer search(const QString& path, const LogQuery& query);
    static QVector<qint64> scanMatches(const QString& path, const LogQuery& query);
    static LogQuery queryFor(const QString& pattern, bool fixedStrings = false);
    void compareWithScan(const QString& path, const QString& pattern, bool indexAnswers, bool fixedStrings = false);

    QTemporaryDir m_dir;
};

void tst_TextIndex::init()
{
    QVERIFY(m_dir.isValid());
}

LogQuery tst_TextIndex::queryFor(const QString& pattern, bool fixedStrings)
{
    LogQuery query;
    query.grep = pattern;
    query.ignoreCase = SearchLog::ignoresCase(pattern);
    query.fixedStrings = fixedStrings;
    return query;
}

// Every answer a reader gives: records, the listing's keys and both counts.
tst_TextIndex::Answer tst_TextIndex::search(const QString& path, const LogQuery& query)
{
    Answer answer;
    LogReader reader(path);
    if (!reader.open())
        return answer;
    answer.ok = reader.read(query, [&](const SystemLog::LogRecord& record) {
                    answer.read << record.id;
                    return true;
                })
                && reader.readKeys(query, [&](const SystemLog::ListedKey& key) {
                       answer.listed << key.id;
                       return true;
                   })
                && reader.count(query, answer.counted) && reader.countListed(query, answer.listedCount);
    return answer;
}

// The rows a reading of every row finds: all of them, in the reader's
// order, kept where the matcher says so.
QVector<qint64> tst_TextIndex::scanMatches(const QString& path, const LogQuery& query)
{
    const SystemLog::MessageMatcher matcher(query);
    LogQuery all = query;
    all.grep.clear();
    QVector<qint64> ids;
    LogReader reader(path);
    if (!reader.open())
        return ids;
    reader.read(all, [&](const SystemLog::LogRecord& record) {
        if (matcher.matches(record.message.constData(), record.message.size()))
            ids << record.id;
        return true;
    });
    return ids;
}

void tst_TextIndex::compareWithScan(const QString& path, const QString& pattern, bool indexAnswers, bool fixedStrings)
{
    const LogQuery query = queryFor(pattern, fixedStrings);
    const QVector<qint64> expected = scanMatches(path, query);
    const quint64 answeredBefore = IndexedSearch::answeredCount();
    const Answer answer = search(path, query);
    QVERIFY(answer.ok);
    QCOMPARE(answer.read, expected);
    QCOMPARE(answer.listed, expected);
    QCOMPARE(answer.counted, qint64(expected.size()));
    QCOMPARE(answer.listedCount, qint64(expected.size()));
    // Each of the four calls went through the index, or none did.
    QCOMPARE(IndexedSearch::answeredCount() - answeredBefore, quint64(indexAnswers ? 4 : 0));
}

void tst_TextIndex::searchFindsWhatTheScanFinds_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("indexAnswers");
    QTest::addColumn<bool>("fixedStrings");

    QTest::newRow("Latin word") << "coolant" << true << false;
    QTest::newRow("Latin word, upper case: case matters") << "Coolant" << true << false;
    QTest::newRow("inside a word") << "olan" << true << false;
    QTest::newRow("end of a word") << "ant level" << true << false;
    QTest::newRow("two letters") << "ox" << true << false;
    QTest::newRow("one letter: every row read") << "x" << false << false;
    QTest::newRow("number") << "4001" << true << false;
    QTest::newRow("inside a number") << "00" << true << false;
    QTest::newRow("decimal number") << "78.5" << true << false;
    QTest::newRow("number and letters") << "T12" << true << false;
    QTest::newRow("one Chinese character") << "卡" << true << false;
    QTest::newRow("one Chinese character, last of its run") << "警" << true << false;
    QTest::newRow("two Chinese characters") << "卡刀" << true << false;
    QTest::newRow("three Chinese characters") << "过载报" << true << false;
    QTest::newRow("Chinese sentence") << "刀库卡刀" << true << false;
    QTest::newRow("Chinese then number") << "报警 4001" << true << false;
    QTest::newRow("Chinese touching Latin") << "X轴超" << true << false;
    QTest::newRow("number touching Chinese") << "12刀具" << true << false;
    QTest::newRow("full-width punctuation") << "，超过" << true << false;
    QTest::newRow("Kelvin sign folds to k") << "5 kg" << true << false;
    QTest::newRow("long s folds to s") << "status" << true << false;
    QTest::newRow("German letters") << "größe" << true << false;
    QTest::newRow("Greek final sigma") << "σίσυφοσ" << true << false;
    QTest::newRow("dotted capital I") << "istanbul" << true << false;
    QTest::newRow("dotted capital I, case matters") << "İstanbul" << true << false;
    QTest::newRow("full-width letters") << "ａｂｃ" << true << false;
    QTest::newRow("beyond the BMP") << "😀" << true << false;
    QTest::newRow("between bytes that are not UTF-8") << "温度" << true << false;
    QTest::newRow("replacement character: every row read") << "\uFFFD" << false << false;
    QTest::newRow("long word") << "supercalifragilisticexpialidocious" << true << false;
    QTest::newRow("inside a long word") << "fragilisticexpiali" << true << false;
    QTest::newRow("spaces only: every row read") << "  " << false << false;
    QTest::newRow("no row has it") << "nothing-like-this" << true << false;
    QTest::newRow("alternatives") << "motor|温度" << true << false;
    QTest::newRow("alternative without a word: every row read") << "motor|x" << false << false;
    QTest::newRow("dot") << "cool.nt" << true << false;
    QTest::newRow("anything between") << "刀库.*卡" << true << false;
    QTest::newRow("anchor") << "^急停" << true << false;
    QTest::newRow("class escape") << "报警 \\d+" << true << false;
    QTest::newRow("group of alternatives") << "(卡刀|过载)报?" << true << false;
    QTest::newRow("optional letter") << "coolx?ant" << true << false;
    QTest::newRow("repeated letter") << "cool+ant" << true << false;
    QTest::newRow("character class") << "[Cc]oolant" << true << false;
    QTest::newRow("counted repeat") << "过载{1,3}报警" << true << false;
    QTest::newRow("counted repeat of nothing but digits: every row read") << "0{2,}1" << false << false;
    QTest::newRow("escaped dot") << "78\\.5" << true << false;
    QTest::newRow("inline option: every row read") << "(?i)COOLANT" << false << false;
    QTest::newRow("Unicode property: every row read") << "\\p{Han}刀" << false << false;
    QTest::newRow("drop record") << "已丢弃" << true << false;
    QTest::newRow("fixed string with an open bracket") << "报警号(4001" << true << true;
    QTest::newRow("fixed string that reads as a repeat") << "x{2}" << false << true;
    QTest::newRow("fixed string: a dot is a dot") << "cool.nt" << true << true;
    QTest::newRow("fixed string: braces and a word") << "{2} code" << true << true;
}

void tst_TextIndex::searchFindsWhatTheScanFinds()
{
    QFETCH(QString, pattern);
    QFETCH(bool, indexAnswers);
    QFETCH(bool, fixedStrings);
    QCOMPARE(SystemLog::PatternQuery::forPattern(pattern, SearchLog::ignoresCase(pattern), fixedStrings).isEmpty(), !indexAnswers);
    // The writer's table, whose index on id lets a count of a whole word
    // leave the rows unread, and another program's without it.
    for (const SearchLog::Table table : {SearchLog::Table::Writers, SearchLog::Table::WithoutIdIndex}) {
        const QString path = m_dir.filePath(QStringLiteral("search-%1.db").arg(int(table)));
        if (!QFile::exists(path)) {
            QVERIFY(SearchLog::write(path, 3000, 1, table));
            IndexBuilder builder(path);
            builder.setPartRows(1000);  // several parts
            QVERIFY2(builder.catchUp(), qPrintable(builder.errorText()));
            // Rows gone since they were indexed, inside a part and a whole part.
            QVERIFY(TestDatabase(path).exec(QStringLiteral("DELETE FROM SystemInfo WHERE id % 97 = 0 OR id BETWEEN 1001 AND 2000")));
        }
        compareWithScan(path, pattern, indexAnswers, fixedStrings);
    }
}

namespace {

bool execOn(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK
                    && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// What the log holds, to tell that nothing in it changed.
QString rowsDigest(const QString& path)
{
    return TestDatabase(path).scalar(
        QStringLiteral("SELECT count(*) || ':' || total(length(message)) || ':' || max(id) FROM SystemInfo"));
}

bool replaceFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

void tst_TextIndex::indexFollowsTheLog_data()
{
    QTest::addColumn<QString>("change");

    QTest::newRow("rows inserted by another program") << "insert";
    QTest::newRow("index deleted") << "delete index";
    QTest::newRow("another log copied over the log") << "other log";
    QTest::newRow("log made again, ids from 1") << "ids again";
    QTest::newRow("index file damaged") << "damage";
    QTest::newRow("old rows removed (vacuum)") << "vacuum";
    QTest::newRow("index of another format") << "format";
    QTest::newRow("builder killed in a batch (seeded)") << "killed";
}

// Whatever happened, a search answers as the scan does, through the index
// it brought up to date; and so again after a builder (the writer's keeper)
// has caught up.
void tst_TextIndex::indexFollowsTheLog()
{
    QFETCH(QString, change);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("follows.db"));
    const QString index = SystemLog::TextIndex::pathFor(path);
    QVERIFY(SearchLog::write(path, 3000));
    {
        IndexBuilder builder(path);
        builder.setPartRows(1000);
        QVERIFY(builder.catchUp());
    }
    if (change == QLatin1String("insert")) {
        QVERIFY(execOn(path, "INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-05-02 00:00:00', 3, '刀库卡刀 new'),"
                             "('2024-05-02 00:00:01', 1, 'coolant added by another program')"));
    } else if (change == QLatin1String("delete index")) {
        QVERIFY(QFile::remove(index));
    } else if (change == QLatin1String("other log")) {
        const QString other = dir.filePath(QStringLiteral("other.db"));
        QVERIFY(SearchLog::write(other, 3000, 1));
        // Another machine's: other times, other texts.
        QVERIFY(execOn(other, "UPDATE SystemInfo SET datetime = replace(datetime, '2024-05', '2024-06');"
                              "UPDATE SystemInfo SET message = '刀库卡刀 coolant ' || id WHERE id % 7 = 0"));
        QVERIFY(replaceFile(other, path));
    } else if (change == QLatin1String("ids again")) {
        QVERIFY(QFile::remove(path));
        QVERIFY(SearchLog::write(path, 10, 1));
    } else if (change == QLatin1String("damage")) {
        QFile file(index);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(0);
        file.write(QByteArray(4096, 'x'));
    } else if (change == QLatin1String("vacuum")) {
        QVERIFY(execOn(path, "DELETE FROM SystemInfo WHERE id <= 2500"));
    } else if (change == QLatin1String("format")) {
        QVERIFY(execOn(index, "UPDATE IndexInfo SET value = 99 WHERE key = 'format'"));
    } else if (change == QLatin1String("killed")) {
        // Another program adds rows; a builder taking them in is killed in
        // the middle of a batch, at a moment the seed chooses.
        QVERIFY(SearchLog::write(path, 60000, 3001));
        const QString before = rowsDigest(path);
        bool seedGiven = false;
        quint32 seed = qEnvironmentVariable("VX_INDEX_KILL_SEED").toUInt(&seedGiven);
        if (!seedGiven)
            seed = QRandomGenerator::global()->generate();
        qInfo("kill moment from seed %u (replay: VX_INDEX_KILL_SEED=%u)", seed, seed);
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 killAt = 1 + QRandomGenerator(seed).bounded(1500);
        helper.start(vxtest::built(INDEXBUILD_HELPER), {path, QStringLiteral("1000"), QString::number(killAt)});
        QVERIFY(helper.waitForFinished(60000));
        QVERIFY2(helper.exitStatus() == QProcess::CrashExit, helper.readAllStandardOutput().constData());
        QCOMPARE(TestDatabase(path).scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(rowsDigest(path), before);
    }
    // The first search brings the index up to date itself, whatever happened.
    for (const char* pattern : {"coolant", "卡刀", "4001"})
        compareWithScan(path, QString::fromUtf8(pattern), true);

    IndexBuilder builder(path);
    builder.setPartRows(1000);
    QVERIFY2(builder.catchUp() && builder.prune(), qPrintable(builder.errorText()));
    qint64 behind = -1;
    QVERIFY(builder.rowsBehind(behind));
    QCOMPARE(behind, qint64(0));
    for (const char* pattern : {"coolant", "卡刀", "4001"})
        compareWithScan(path, QString::fromUtf8(pattern), true);
    if (change == QLatin1String("vacuum")) {
        // The parts whose rows are all gone went with them.
        const TestDatabase parts(index);
        QCOMPARE(parts.scalar(QStringLiteral("SELECT min(firstId) FROM IndexParts")).toLongLong(), qint64(2001));
    }
}

void tst_TextIndex::vxlogAnswersAsTheScan_data()
{
    QTest::addColumn<QStringList>("arguments");  // A and B stand for the two logs

    const QStringList period{"--since", "2024-05-01", "--until", "2024-06-01"};
    QTest::newRow("query, one file, Chinese") << QStringList{"query", "--db", "A", "--grep", "卡刀", "-o", "cat"};
    QTest::newRow("query, two files, Latin") << QStringList{"query", "--db", "A", "--db", "B", "--grep", "coolant", "-o", "short"};
    QTest::newRow("query, regular expression, count")
        << QStringList{"query", "--db", "A", "--db", "B", "--grep", "(卡刀|过载)报?", "--count"};
    QTest::newRow("query, case matters, last 20") << QStringList{"query", "--db", "A", "--grep", "Coolant", "-n", "20"};
    QTest::newRow("query, fixed string") << QStringList{"query", "--db", "A", "-F", "--grep", "报警号(4001", "-o", "cat"};
    QTest::newRow("report") << QStringList{"report", "--db", "A", "--db", "B", "--grep", "急停|卡"} + period;
}

// vxlog's answers are the same when the index cannot be used (said once per
// log), when vxlog has to build it first, and through it.
void tst_TextIndex::vxlogAnswersAsTheScan()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QStringList logs;
    for (const char* name : {"A", "B"}) {
        const QString path = dir.filePath(QLatin1String(name) + QStringLiteral(".db"));
        QVERIFY(SearchLog::write(path, int(IndexedSearch::kQuietTailRows) + 5000, name[0] == 'A' ? 1 : 7));
        QVERIFY(QDir().mkpath(SystemLog::TextIndex::pathFor(path)));  // the index cannot be made
        if (arguments.contains(QLatin1String(name)))
            logs << path;
        arguments.replaceInStrings(QRegularExpression(QStringLiteral("^%1$").arg(QLatin1String(name))), path);
    }
    const VxlogTest::Result scanned = VxlogTest::runVxlog(arguments, dir.path());
    QVERIFY2(!scanned.crashed && scanned.exitCode == 0, scanned.err.constData());
    QVERIFY(!scanned.out.isEmpty());
    const QString told = QString::fromUtf8(scanned.err);
    for (const QString& log : logs)
        QCOMPARE(told.count(QStringLiteral("无法建立或更新 %1 的文本索引").arg(QDir::toNativeSeparators(log))), 1);

    for (const QString& log : logs)
        QVERIFY(QDir().rmdir(SystemLog::TextIndex::pathFor(log)));
    for (int run = 0; run < 2; ++run) {  // building the index, then through it
        const VxlogTest::Result indexed = VxlogTest::runVxlog(arguments, dir.path());
        QVERIFY2(!indexed.crashed && indexed.exitCode == 0, indexed.err.constData());
        QCOMPARE(indexed.out, scanned.out);
        QVERIFY2(!indexed.err.contains("文本索引"), indexed.err.constData());
        for (const QString& log : logs)
            QVERIFY(QFileInfo(SystemLog::TextIndex::pathFor(log)).isFile());
    }
}

// Rows the module writes, and rows another program inserts meanwhile, are
// indexed by the writer's keeper without anyone asking.
void tst_TextIndex::writerKeepsTheIndex()
{
    const QString path = m_dir.filePath(QStringLiteral("kept.db"));
    {
        SystemLog::vxSysLog::Session log(path);
        for (int i = 0; i < 300; ++i) {
            VXLOG_ALARM << "主轴过载报警 " << i;
            VXLOG_INFO << "coolant level " << i;
        }
        QCOMPARE(log.service()->flush().stored, quint64(600));
        QVERIFY(execOn(path, "INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-05-02 00:00:00', 3, 'vibration 振动 inserted')"));
        auto behind = [&path] {
            IndexBuilder probe(path);
            qint64 rows = -1;
            return probe.rowsBehind(rows) ? rows : -1;
        };
        QTRY_COMPARE_WITH_TIMEOUT(behind(), qint64(0), 60000);
        for (const char* pattern : {"coolant", "过载", "振动", "17"})
            compareWithScan(path, QString::fromUtf8(pattern), true);
    }
    QVERIFY(QFile::exists(SystemLog::TextIndex::pathFor(path)));
}

// Where the index cannot be made (a folder stands at its path), a search
// reads every row, finds what it always found and says so once.
void tst_TextIndex::indexThatCannotBeWritten_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("a few rows") << 100;
    QTest::newRow("more than a reader leaves to the writer") << int(IndexedSearch::kQuietTailRows) + 5000;
}

void tst_TextIndex::indexThatCannotBeWritten()
{
    QFETCH(int, rows);
    const QString path = m_dir.filePath(QStringLiteral("readonly-%1.db").arg(rows));
    QVERIFY(SearchLog::write(path, rows));
    QVERIFY(QDir().mkpath(SystemLog::TextIndex::pathFor(path)));
    QStringList notices;
    SystemLog::TextIndex::setNoticeSink([&notices](SystemLog::TextIndex::Notice kind, const QString& notice) {
        QCOMPARE(kind, SystemLog::TextIndex::Notice::ReadingRecords);
        notices << notice;
    });
    compareWithScan(path, QStringLiteral("刀库卡刀"), false);
    compareWithScan(path, QStringLiteral("coolant"), false);
    SystemLog::TextIndex::setNoticeSink({});
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().contains(QDir::toNativeSeparators(path)), qPrintable(notices.first()));
}

QTEST_GUILESS_MAIN(tst_TextIndex)
#include "tst_textindex.moc"
