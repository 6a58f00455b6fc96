#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include "BuiltPath.h"
#include "TestDatabase.h"

// Installs the built log module into a fresh prefix, builds the example
// program against that prefix alone (a copy of its two files, a clean build
// folder, nothing pointing into this source or build tree, PostgreSQL's client
// library out of CMake's reach), runs it and reads back its six rows. The
// logging library needs no libpq: only the reading library, which is not
// installed, reads the fleet's database.
class tst_InstalledPackage : public QObject
{
    Q_OBJECT

private slots:
    void exampleBuildsAgainstTheInstalledPackageAndLogs();
    void programmersGuideQuotesTheExampleVerbatim();

private:
    static bool installedLibraryMentions(const QString& prefix, const char* name);
    bool run(const QString& program, const QStringList& arguments, const QString& workingDir = QString());
};

bool tst_InstalledPackage::run(const QString& program, const QStringList& arguments, const QString& workingDir)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(240000);
    const QByteArray output = process.readAll();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    qWarning("%s %s failed:\n%s", qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))),
             output.constData());
    return false;
}

// Whether a library file under the prefix holds `name` (a needed library's
// file name in a shared library's dynamic section, an undefined symbol in a
// static archive).
bool tst_InstalledPackage::installedLibraryMentions(const QString& prefix, const char* name)
{
    QDirIterator it(prefix, {QStringLiteral("libvxSyslog*")}, QDir::Files, QDirIterator::Subdirectories);
    bool found = false;
    while (it.hasNext()) {
        QFile library(it.next());
        found = true;
        if (library.open(QIODevice::ReadOnly) && library.readAll().contains(name)) {
            qWarning("%s mentions %s", qPrintable(library.fileName()), name);
            return true;
        }
    }
    if (!found)
        qWarning("no libvxSyslog* installed under %s", qPrintable(prefix));
    return !found;
}

void tst_InstalledPackage::exampleBuildsAgainstTheInstalledPackageAndLogs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cmake = QStringLiteral(VX_CMAKE_COMMAND);
    const QString prefix = dir.filePath(QStringLiteral("prefix"));
    const QString source = dir.filePath(QStringLiteral("hello-log"));
    const QString build = dir.filePath(QStringLiteral("build"));
    const QString work = dir.filePath(QStringLiteral("work"));

    QVERIFY(run(cmake, {QStringLiteral("--install"), vxtest::built(VX_BUILD_DIR), QStringLiteral("--prefix"), prefix,
                        QStringLiteral("--component"), QStringLiteral("vxSyslog"),
                        QStringLiteral("--config"), QStringLiteral(VX_BUILD_TYPE)}));
    QVERIFY(QFile::exists(prefix + QStringLiteral("/include/vxSyslog/vxLogging.h")));
    QVERIFY(QFile::exists(prefix + QStringLiteral("/include/vxSyslog/vxSyslogExport.h")));
    QVERIFY2(!QFile::exists(prefix + QStringLiteral("/include/vxSyslog/vxLogDB.h")), "a private header is installed");
    for (const char* readingHeader : {"LogSource.h", "LogSource.h", "LogVacuum.h", "LogReader.h"})
        QVERIFY2(!QFile::exists(prefix + QStringLiteral("/include/vxSyslog/") + QLatin1String(readingHeader)),
                 readingHeader);
    QVERIFY(!installedLibraryMentions(prefix, "libpq"));
    QVERIFY(!installedLibraryMentions(prefix, "PQconnectdb"));

    QVERIFY(QDir().mkpath(source));
    QVERIFY(QDir().mkpath(work));
    for (const char* name : {"CMakeLists.txt", "main.cpp"})
        QVERIFY(QFile::copy(vxtest::built(VX_EXAMPLE_DIR "/") + QLatin1String(name),
                            source + QLatin1Char('/') + QLatin1String(name)));

    QVERIFY(run(cmake, {QStringLiteral("-S"), source, QStringLiteral("-B"), build,
                        QStringLiteral("-G"), QStringLiteral(VX_CMAKE_GENERATOR),
                        QStringLiteral("-DCMAKE_PREFIX_PATH=") + prefix,
                        QStringLiteral("-DCMAKE_BUILD_TYPE=" VX_BUILD_TYPE),
                        QStringLiteral("-DCMAKE_CXX_COMPILER=" VX_CXX_COMPILER),
                        QStringLiteral("-DCMAKE_CXX_FLAGS=" VX_EXAMPLE_FLAGS),
                        QStringLiteral("-DCMAKE_DISABLE_FIND_PACKAGE_PostgreSQL=ON"),
                        QStringLiteral("-DCMAKE_IGNORE_PATH=/usr/include/postgresql"),
                        QStringLiteral("-DCMAKE_EXE_LINKER_FLAGS=" VX_EXAMPLE_FLAGS)}));
    QVERIFY(run(cmake, {QStringLiteral("--build"), build, QStringLiteral("--config"), QStringLiteral(VX_BUILD_TYPE)}));

    const QString program = build + QStringLiteral("/hello-log");
    QVERIFY(run(program, {}, work));

    const QVector<StoredRow> rows = TestDatabase(work + QStringLiteral("/dbLog.db")).rows();
    QCOMPARE(rows.size(), 6);
    QList<int> types;
    for (const StoredRow& row : rows) {
        types.append(row.type);
        QVERIFY2(row.message.endsWith(QLatin1Char('\n')), qPrintable(row.message));
    }
    std::sort(types.begin(), types.end());
    QCOMPARE(types, (QList<int>{0, 1, 2, 3, 4, 4}));
    const bool userLine = std::any_of(rows.cbegin(), rows.cend(), [](const StoredRow& row) {
        return row.type == 1 && row.message == QStringLiteral("操作员 张伟 登录\n");
    });
    QVERIFY(userLine);
}

// docs/logging.md shows the example's two files; the test above is what
// keeps that code compiling, so the page must not drift from them.
void tst_InstalledPackage::programmersGuideQuotesTheExampleVerbatim()
{
    QFile guide(vxtest::built(VX_GUIDE_FILE));
    QVERIFY(guide.open(QIODevice::ReadOnly));
    const QByteArray text = guide.readAll();
    for (const char* name : {"CMakeLists.txt", "main.cpp"}) {
        QFile file(vxtest::built(VX_EXAMPLE_DIR "/") + QLatin1String(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(text.contains(file.readAll()), name);
    }
}

QTEST_GUILESS_MAIN(tst_InstalledPackage)
#include "tst_installedpackage.moc"
