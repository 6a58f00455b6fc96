// vxlog's bash completion, sourced in a real bash and asked for the words it
// offers after a command line, with the real vxlog answering its --help; and
// its lists of types and formats checked against what vxlog accepts.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "BuiltPath.h"
#include "VxlogTestSupport.h"

namespace {

constexpr int kTimeoutMs = 60000;

// The words the completion offers for `words` (the last one being completed),
// run in `workingDir`; the first word is the vxlog binary.
QStringList complete(const QStringList& words, const QString& workingDir)
{
    QProcess bash;
    bash.setWorkingDirectory(workingDir);
    const QString script = QStringLiteral(
        "source \"$0\" || exit 3; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); "
        "_vxlog; printf '%s\\n' \"${COMPREPLY[@]}\"");
    bash.start(QStringLiteral("bash"), QStringList{"-c", script, vxtest::built(VXLOG_COMPLETION)} + words);
    if (!bash.waitForFinished(kTimeoutMs) || bash.exitCode() != 0)
        return {QStringLiteral("<bash failed: %1>").arg(QString::fromUtf8(bash.readAllStandardError()))};
    return QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class tst_VxlogCompletion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offers_data();
    void offers();
    void formatsAreVxlogs();
    void typesAreAccepted();

private:
    QTemporaryDir m_dir;
};

void tst_VxlogCompletion::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char* name : {"other.db", "notes.txt"})
        QVERIFY(VxlogTest::writeFile(m_dir.filePath(QLatin1String(name)), QByteArray()));
    TestDatabase log(m_dir.filePath(QStringLiteral("dbLog.db")));
    VxlogTest::createLogTable(log);
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("exports")));
}

void tst_VxlogCompletion::offers_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("offered");  // all of these, in any order
    QTest::addColumn<QStringList>("absent");
    QTest::newRow("commands") << QStringList{""}
                              << QStringList{"query", "export", "follow", "write", "stats", "report", "vacuum", "forward", "store"}
                              << QStringList{"--db"};
    QTest::newRow("a command begun") << QStringList{"va"} << QStringList{"vacuum"} << QStringList{"query"};
    QTest::newRow("the command's own options") << QStringList{"vacuum", "--"}
                                               << QStringList{"--time", "--size", "--vacuum-time", "--compact", "--db", "--help"}
                                               << QStringList{"--grep", "--type"};
    QTest::newRow("query's options") << QStringList{"query", "--"}
                                     << QStringList{"--type", "--since", "--utc", "--pager-end", "--lines", "--output", "--no-pager"}
                                     << QStringList{"--time", "--dir"};
    QTest::newRow("options before the command") << QStringList{"--"} << QStringList{"--help", "--version", "--disk-usage", "--vacuum-time", "--db"}
                                                 << QStringList{};
    QTest::newRow("the command after an option with a value") << QStringList{"--db", "x.db", "st"} << QStringList{"stats"}
                                                              << QStringList{"x.db"};
    QTest::newRow("options of a command after an option") << QStringList{"--db", "x.db", "stats", "--d"}
                                                           << QStringList{"--disk-usage", "--day", "--db"} << QStringList{};
    QTest::newRow("type names and captions") << QStringList{"query", "-p", ""}
                                             << QStringList{"all", "0", "4", "alarm", "info", "报警记录", "其他信息"}
                                             << QStringList{};
    QTest::newRow("a type begun") << QStringList{"query", "--type", "st"} << QStringList{"status"} << QStringList{"alarm"};
    QTest::newRow("a caption begun") << QStringList{"export", "--type", "系统"} << QStringList{"系统状态记录"} << QStringList{};
    QTest::newRow("the next of several types") << QStringList{"query", "-p", "alarm,in"} << QStringList{"alarm,info"}
                                               << QStringList{"info"};
    QTest::newRow("a format begun") << QStringList{"follow", "--output", "json"} << QStringList{"json", "json-pretty"}
                                    << QStringList{"text"};
    QTest::newRow("database files") << QStringList{"query", "--db", ""} << QStringList{"dbLog.db", "other.db", "notes.txt", "exports"}
                                    << QStringList{};
    QTest::newRow("a database file begun") << QStringList{"--db", "ot"} << QStringList{"other.db"} << QStringList{"dbLog.db"};
    QTest::newRow("--db=file") << QStringList{"stats", "--db", "=", "db"} << QStringList{"dbLog.db"} << QStringList{"other.db"};
    QTest::newRow("export folders only") << QStringList{"export", "--dir", ""} << QStringList{"exports"}
                                         << QStringList{"dbLog.db"};
    QTest::newRow("lines") << QStringList{"query", "-n", "a"} << QStringList{"all"} << QStringList{};
    QTest::newRow("nothing for a pattern") << QStringList{"query", "--grep", ""} << QStringList{} << QStringList{"query", "all"};
}

void tst_VxlogCompletion::offers()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QFETCH(QStringList, absent);
    const QStringList got = complete(QStringList{vxtest::built(VXLOG_BINARY)} + words, m_dir.path());
    for (const QString& word : offered)
        QVERIFY2(got.contains(word), qPrintable(QStringLiteral("%1 not in: %2").arg(word, got.join(QLatin1Char(' ')))));
    for (const QString& word : absent)
        QVERIFY2(!got.contains(word), qPrintable(QStringLiteral("%1 in: %2").arg(word, got.join(QLatin1Char(' ')))));
    if (offered.isEmpty())
        QVERIFY2(got.isEmpty(), qPrintable(got.join(QLatin1Char(' '))));
}

// The formats offered are exactly those vxlog names when it refuses one.
void tst_VxlogCompletion::formatsAreVxlogs()
{
    const VxlogTest::Result r = VxlogTest::runVxlog(QStringList{"query", "-o", "xml"}, m_dir.path());
    QCOMPARE(r.exitCode, 2);
    const QRegularExpressionMatch listed = QRegularExpression(QStringLiteral("可用 ([^（]+)（")).match(QString::fromUtf8(r.err));
    QVERIFY2(listed.hasMatch(), r.err.constData());
    QStringList known = listed.captured(1).split(QStringLiteral("、"));
    QStringList offered = complete(QStringList{vxtest::built(VXLOG_BINARY), "query", "-o", ""}, m_dir.path());
    known.sort();
    offered.sort();
    QCOMPARE(offered, known);
}

// Every type offered is one vxlog takes ("all" only on its own).
void tst_VxlogCompletion::typesAreAccepted()
{
    QStringList offered = complete(QStringList{vxtest::built(VXLOG_BINARY), "query", "-p", ""}, m_dir.path());
    QVERIFY(offered.removeAll(QStringLiteral("all")) == 1);
    QCOMPARE(offered.size(), 15);
    for (const QString& types : {offered.join(QLatin1Char(',')), QStringLiteral("all")}) {
        const VxlogTest::Result r = VxlogTest::runVxlog(QStringList{"query", "--count", "-p", types}, m_dir.path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
    }
}

QTEST_MAIN(tst_VxlogCompletion)
#include "tst_vxlog_completion.moc"
