// The Debian packages, as an administrator gets them: scripts/package builds
// the source package and the four binary packages from debian/ with
// dpkg-buildpackage and checks them with lintian (an error or a warning fails
// it); each package holds what it must and declares what it must; the
// version grows with every commit; and, installed with apt into a clean
// Debian 12 root, the services' units verify and are safe, the manual pages
// render in the C locale without a warning, the viewer answers --help with
// no display, and everything purges cleanly.
//
// The package build compiles the project once more (Release), so the test
// runs in the plain build only; a sanitizer build skips it. The root is a
// debootstrap cached by tests/system/debian-root (which .ci/run starts early,
// in the background); where it cannot be made (not root, no debootstrap, no
// mirror) the root's rows are skipped with the reason.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "BuiltPath.h"

namespace {

constexpr int kMinuteMs = 60000;

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments, int timeoutMs = 4 * kMinuteMs,
        const QString& folder = QString())
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("timed out: ") + program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QString git(const QString& folder, const QStringList& arguments)
{
    return run(QStringLiteral("git"), QStringList{QStringLiteral("-C"), folder} + arguments).out.trimmed();
}

// A root made from the cached tar file, its commands run through chroot in a
// mount namespace of their own: /proc and the kept apt downloads are mounted
// there, and vanish with it whatever happens to the test.
class DebianRoot
{
public:
    // The reason when there is none.
    QString make(const QString& cache)
    {
        const Run made = run(vxtest::built(VX_SOURCE_DIR "/tests/system/debian-root"), {cache}, 20 * kMinuteMs);
        if (made.status != 0)
            return made.err.isEmpty() ? QStringLiteral("tests/system/debian-root failed") : made.err.trimmed();
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        m_archives = cache + QStringLiteral("/archives");
        QDir().mkpath(m_archives + QStringLiteral("/partial"));
        const Run unpacked = run(QStringLiteral("tar"), {QStringLiteral("-C"), m_dir.path(), QStringLiteral("-xf"),
                                                         made.out.trimmed()});
        if (unpacked.status != 0)
            return unpacked.err;
        QFile::remove(path(QStringLiteral("/etc/resolv.conf")));
        QFile::copy(QStringLiteral("/etc/resolv.conf"), path(QStringLiteral("/etc/resolv.conf")));
        return QString();
    }

    QString path(const QString& inside) const { return m_dir.path() + inside; }

    // `command` by sh in the root, with a bare environment: no display, the
    // C locale unless the command says otherwise.
    Run exec(const QString& command, int timeoutMs = 2 * kMinuteMs) const
    {
        const QString script = QStringLiteral(
            "mount -t proc proc \"$1/proc\" && mount --bind \"$2\" \"$1/var/cache/apt/archives\" && "
            "exec chroot \"$1\" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C "
            "DEBIAN_FRONTEND=noninteractive /bin/sh -c \"$3\"");
        // The kept downloads are shared with any other run of this test on
        // the machine: one apt at a time uses them.
        return run(QStringLiteral("flock"),
                   {m_archives, QStringLiteral("unshare"), QStringLiteral("--mount"), QStringLiteral("--propagation"),
                    QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), m_dir.path(),
                    m_archives, command},
                   timeoutMs);
    }

private:
    QTemporaryDir m_dir;
    QString m_archives;
};

} // namespace

class tst_Packages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void desktopMetadataValidates_data();
    void desktopMetadataValidates();
    void versionGrowsWithEveryCommit_data();
    void versionGrowsWithEveryCommit();
    void sourcePackageIsComplete();
    void packageHoldsAndDeclares_data();
    void packageHoldsAndDeclares();
    void installedRootAnswers_data();
    void installedRootAnswers();
    void reinstallsAndPurges();

private:
    void buildPackages();
    void installPackages();
    QString fileOf(const QString& pattern) const;
    QString newestSymbolsVersion();

    QTemporaryDir m_out;
    QString m_packages; // where the packages are
    QString m_version;
    QString m_symbolsVersion; // the newest version the shipped symbols file names
    QString m_built;     // empty once the packages are built, else why not
    QString m_installed; // empty once they are installed in m_root, else why not
    bool m_buildTried = false;
    bool m_installTried = false;
    DebianRoot m_root;
};

void tst_Packages::initTestCase()
{
    QVERIFY(m_out.isValid());
    m_version = run(vxtest::built(VX_SOURCE_DIR "/scripts/package"), {QStringLiteral("--print-version")}).out.trimmed();
    // Packages made before (QUARROW_TEST_PACKAGES) are of their own version.
    const QStringList made = QDir(qEnvironmentVariable("QUARROW_TEST_PACKAGES"))
                                 .entryList({QStringLiteral("quarrow_*.dsc")}, QDir::Files);
    if (!qEnvironmentVariableIsEmpty("QUARROW_TEST_PACKAGES") && made.size() == 1)
        m_version = made.first().section(QLatin1Char('_'), 1).chopped(4);
    QVERIFY2(m_version.startsWith(QStringLiteral(VX_VERSION "+")) || m_version == QStringLiteral(VX_VERSION),
             qPrintable(m_version));
    m_symbolsVersion = newestSymbolsVersion();
    QVERIFY(!m_symbolsVersion.isEmpty());
}

// What a program that uses every symbol of the library depends on, as
// dpkg-shlibdeps reads the symbols file: the newest version it names.
QString tst_Packages::newestSymbolsVersion()
{
    QFile file(vxtest::built(VX_SOURCE_DIR "/debian/libvxsyslog1.symbols"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QSet<QString> versions;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1Char(' ')))
            versions.insert(line.section(QLatin1Char(' '), -1));
    }
    QString newest;
    for (const QString& version : versions) {
        if (newest.isEmpty()
            || run(QStringLiteral("dpkg"), {QStringLiteral("--compare-versions"), version, QStringLiteral("gt"), newest}).status == 0)
            newest = version;
    }
    return newest;
}

// The shipped desktop entry and AppStream data, as the desktop and software
// centres read them: no error, no warning (AppStream's pedantic hints too).
void tst_Packages::desktopMetadataValidates_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("desktop entry") << QStringLiteral("desktop-file-validate")
                                   << QStringList{vxtest::built(VX_SOURCE_DIR "/viewer/io.github.quarrow.viewer.desktop")};
    QTest::newRow("AppStream metadata")
        << QStringLiteral("appstreamcli")
        << QStringList{"validate", "--pedantic", "--no-net", "--no-color",
                       vxtest::built(VX_SOURCE_DIR "/viewer/io.github.quarrow.viewer.metainfo.xml")};
}

void tst_Packages::desktopMetadataValidates()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed (scripts/deps installs it)")));
    const Run checked = run(tool, arguments);
    QVERIFY2(checked.status == 0, qPrintable(checked.out + checked.err));
    // desktop-file-validate says nothing when all is well; appstreamcli only
    // that the validation was successful, with no hint counted.
    const QString said = (checked.out + checked.err).trimmed();
    QVERIFY2(said.isEmpty() || said.endsWith(QStringLiteral("Validation was successful.")), qPrintable(said));
}

// The version of a later state sorts after the one before, as dpkg compares
// versions: apt then upgrades from one build to the next.
void tst_Packages::versionGrowsWithEveryCommit_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("a later commit, the same second") << QStringLiteral("commit");
    QTest::newRow("a commit dated the next day") << QStringLiteral("next-day");
    QTest::newRow("a tracked file changed, not committed") << QStringLiteral("edit");
}

void tst_Packages::versionGrowsWithEveryCommit()
{
    QFETCH(QString, change);
    if (QStandardPaths::findExecutable(QStringLiteral("git")).isEmpty()
        || git(vxtest::built(VX_SOURCE_DIR), {QStringLiteral("rev-parse"), QStringLiteral("--is-inside-work-tree")})
               != QLatin1String("true"))
        QSKIP("the sources are not a git work tree");
    QTemporaryDir clone;
    QVERIFY(clone.isValid());
    const Run cloned = run(QStringLiteral("git"), {QStringLiteral("clone"), QStringLiteral("-q"), QStringLiteral("--shared"),
                                                   vxtest::built(VX_SOURCE_DIR), clone.path()});
    QVERIFY2(cloned.status == 0, qPrintable(cloned.err));
    // This tree's script, on the clone's history.
    const QString script = clone.filePath(QStringLiteral("scripts/package"));
    QFile::remove(script);
    QVERIFY(QFile::copy(vxtest::built(VX_SOURCE_DIR "/scripts/package"), script));
    const QStringList commit{"-C", clone.path(), "-c", "user.name=Test", "-c", "user.email=test@localhost", "commit",
                             "-q", "--allow-empty", "-a", "-m"};
    if (!git(clone.path(), {"status", "--porcelain", "--untracked-files=no"}).isEmpty())
        QCOMPARE(run(QStringLiteral("git"), commit + QStringList{"this tree's scripts/package"}).status, 0);
    const QString before = run(script, {QStringLiteral("--print-version")}).out.trimmed();
    QVERIFY(before.startsWith(QStringLiteral(VX_VERSION "+git")));

    if (change == QLatin1String("edit")) {
        QFile readme(clone.filePath(QStringLiteral("README.md")));
        QVERIFY(readme.open(QIODevice::Append));
        readme.write("\n");
    } else {
        // The same second as the commit before, or a day after it.
        const QDateTime last = QDateTime::fromString(git(clone.path(), {"log", "-1", "--format=%cI"}), Qt::ISODate);
        QVERIFY(last.isValid());
        const QDateTime when = change == QLatin1String("next-day") ? last.addDays(1) : last;
        qputenv("GIT_COMMITTER_DATE", when.toString(Qt::ISODate).toUtf8());
        const Run committed = run(QStringLiteral("git"), commit + QStringList{"next"});
        qunsetenv("GIT_COMMITTER_DATE");
        QVERIFY2(committed.status == 0, qPrintable(committed.err));
    }
    const QString after = run(script, {QStringLiteral("--print-version")}).out.trimmed();
    const Run compared = run(QStringLiteral("dpkg"), {QStringLiteral("--compare-versions"), before, QStringLiteral("lt"), after});
    QVERIFY2(compared.status == 0, qPrintable(before + QStringLiteral(" is not older than ") + after));
}

void tst_Packages::buildPackages()
{
    if (m_buildTried)
        return;
    m_buildTried = true;
    m_built = QStringLiteral("the packages could not be built");
    if (QStringLiteral(VX_SANITIZE) != QString())
        return (void)(m_built = QStringLiteral("the packages are built and tested once, in the plain build (a "
                                               "sanitizer build would only build them again)"));
    for (const char* tool : {"dpkg-buildpackage", "dh", "lintian"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return (void)(m_built = QStringLiteral("%1 is not installed (scripts/deps installs it)").arg(QLatin1String(tool)));
    }
    // QUARROW_TEST_PACKAGES names a folder where scripts/package has put
    // this tree's packages already (the rows then check those).
    const QString made = qEnvironmentVariable("QUARROW_TEST_PACKAGES");
    if (!made.isEmpty()) {
        m_packages = made;
        return m_built.clear();
    }
    const Run packaged = run(vxtest::built(VX_SOURCE_DIR "/scripts/package"), {QStringLiteral("--out"), m_out.path()},
                             40 * kMinuteMs);
    QVERIFY2(packaged.status == 0, qPrintable((packaged.out + packaged.err).right(6000)));
    m_packages = m_out.path();
    m_built.clear();
}

QString tst_Packages::fileOf(const QString& pattern) const
{
    const QStringList found = QDir(m_packages).entryList({pattern}, QDir::Files);
    return found.size() == 1 ? QDir(m_packages).filePath(found.first()) : QString();
}

// The source package builds the same binaries anywhere: a native 3.0 source
// of the tracked files, debian/ inside, no build folder.
void tst_Packages::sourcePackageIsComplete()
{
    buildPackages();
    if (!m_built.isEmpty())
        QSKIP(qPrintable(m_built));
    const QString dsc = fileOf(QStringLiteral("quarrow_%1.dsc").arg(m_version));
    QVERIFY2(!dsc.isEmpty(), qPrintable(QDir(m_packages).entryList().join(QLatin1Char(' '))));
    QFile control(dsc);
    QVERIFY(control.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(control.readAll());
    for (const QString& field : {QStringLiteral("Format: 3.0 (native)"), QStringLiteral("Source: quarrow"),
                                 QStringLiteral("Version: ") + m_version})
        QVERIFY2(text.contains(field), qPrintable(field));
    QStringList binaries = text.section(QStringLiteral("\nBinary: "), 1).section(QLatin1Char('\n'), 0, 0).split(QStringLiteral(", "));
    binaries.sort();
    QCOMPARE(binaries, (QStringList{"libvxsyslog-dev", "libvxsyslog1", "quarrow", "vxlog"}));
    const Run listed = run(QStringLiteral("tar"), {QStringLiteral("-tf"), fileOf(QStringLiteral("quarrow_%1.tar.xz").arg(m_version))});
    QCOMPARE(listed.status, 0);
    for (const QString& file : {QStringLiteral("/debian/rules"), QStringLiteral("/debian/libvxsyslog1.symbols"),
                                QStringLiteral("/CMakeLists.txt"), QStringLiteral("/vxlog/systemd/vxlog-forward.service")})
        QVERIFY2(listed.out.contains(file + QLatin1Char('\n')), qPrintable(file));
    QVERIFY(!listed.out.contains(QStringLiteral("/build/")));
    QVERIFY(!listed.out.contains(QStringLiteral("/.git/")));
    QVERIFY(!fileOf(QStringLiteral("quarrow_%1_*.buildinfo").arg(m_version)).isEmpty());
    QVERIFY(!fileOf(QStringLiteral("quarrow_%1_*.changes").arg(m_version)).isEmpty());
}

void tst_Packages::packageHoldsAndDeclares_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("files");  // path endings each of which some file has
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QStringList>("fields"); // "Field: text" that the field holds
    QTest::newRow("quarrow")
        << QStringLiteral("quarrow")
        << QStringList{"/usr/bin/Quarrow", "/usr/bin/quarrow", "/usr/share/applications/io.github.quarrow.viewer.desktop",
                       "/usr/share/icons/hicolor/16x16/apps/io.github.quarrow.viewer.png",
                       "/usr/share/icons/hicolor/48x48/apps/io.github.quarrow.viewer.png",
                       "/usr/share/icons/hicolor/256x256/apps/io.github.quarrow.viewer.png",
                       "/usr/share/metainfo/io.github.quarrow.viewer.metainfo.xml", "/usr/share/man/man1/Quarrow.1.gz",
                       "/usr/share/man/man1/quarrow.1.gz", "/usr/share/man/zh_CN/man1/Quarrow.1.gz",
                       "/usr/share/doc/quarrow/copyright", "/usr/share/doc/quarrow/changelog.gz",
                       "/usr/share/doc/quarrow/examples/quarrow.conf"}
        << QStringList{"/usr/bin/vxlog", "libvxSyslog.so.1"}
        << QStringList{"Depends: libqt5sql5-sqlite", "Depends: libvxsyslog1 (>= " + m_symbolsVersion + ")", "Depends: libqt5widgets5",
                       "Section: non-free/utils", "Version: " + m_version};
    QTest::newRow("vxlog")
        << QStringLiteral("vxlog")
        << QStringList{"/usr/bin/vxlog", "/usr/share/bash-completion/completions/vxlog", "/usr/share/man/man1/vxlog.1.gz",
                       "/usr/share/man/zh_CN/man1/vxlog.1.gz", "/lib/systemd/system/vxlog-forward.service",
                       "/lib/systemd/system/vxlog-vacuum.service", "/lib/systemd/system/vxlog-vacuum.timer",
                       "/usr/lib/sysusers.d/vxlog.conf", "/usr/share/doc/vxlog/fleet.md",
                       "/usr/share/doc/vxlog/retention.md", "/usr/share/doc/vxlog/packaging.md",
                       "/usr/share/doc/vxlog/alarm-report.md", "/usr/share/doc/vxlog/examples/fleet_log.sql",
                       "/usr/share/doc/vxlog/examples/fleet_roles.sql", "/usr/share/doc/vxlog/examples/quarrow.conf",
                       "/usr/share/doc/vxlog/copyright"}
        << QStringList{"/usr/bin/Quarrow", "/usr/share/doc/Quarrow/", "/usr/share/doc/vxlog/vxlog-forward.service"}
        << QStringList{"Depends: libqt5sql5-sqlite", "Depends: libvxsyslog1 (>= " + m_symbolsVersion + ")", "Depends: librelp0",
                       "Depends: systemd | systemd-standalone-sysusers | systemd-sysusers", "Section: non-free/utils"};
    QTest::newRow("libvxsyslog1")
        << QStringLiteral("libvxsyslog1") << QStringList{"/libvxSyslog.so.1", "/libvxSyslog.so.1.0",
                                                         "/usr/share/doc/libvxsyslog1/copyright"}
        << QStringList{"/libvxSyslog.so", "/usr/include/vxSyslog/vxSysLog.h"}
        << QStringList{"Depends: libqt5core5a", "Depends: libsqlite3-0", "Depends: libqt5sql5-sqlite",
                       "Multi-Arch: same", "Section: non-free/libs"};
    QTest::newRow("libvxsyslog-dev")
        << QStringLiteral("libvxsyslog-dev")
        << QStringList{"/usr/include/vxSyslog/vxSysLog.h", "/usr/include/vxSyslog/vxSyslogExport.h", "/libvxSyslog.so",
                       "/cmake/vxSyslog/vxSyslogConfig.cmake", "/cmake/vxSyslog/vxSyslogTargets.cmake"}
        << QStringList{"/libvxSyslog.so.1.0", "/usr/include/vxSyslog/ListingSource.h"}
        << QStringList{"Depends: libvxsyslog1 (= " + m_version + ")", "Depends: qtbase5-dev", "Multi-Arch: same",
                       "Section: non-free/libdevel"};
}

void tst_Packages::packageHoldsAndDeclares()
{
    QFETCH(QString, package);
    QFETCH(QStringList, files);
    QFETCH(QStringList, absent);
    QFETCH(QStringList, fields);
    buildPackages();
    if (!m_built.isEmpty())
        QSKIP(qPrintable(m_built));
    const QString deb = fileOf(QStringLiteral("%1_%2_*.deb").arg(package, m_version));
    QVERIFY2(!deb.isEmpty(), qPrintable(package));
    const Run listed = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    QCOMPARE(listed.status, 0);
    // Each line ends in the path ("… ./usr/bin/vxlog"), a link's in "path -> target".
    QStringList paths;
    for (const QString& line : listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        paths << line.section(QStringLiteral(" -> "), 0, 0).section(QLatin1Char(' '), -1);
    // A guide is compressed once it is over 4 kB (dh_compress), so either.
    auto has = [&paths](const QString& piece) {
        return std::any_of(paths.begin(), paths.end(), [&piece](const QString& path) {
            return path.endsWith(piece) || path.endsWith(piece + QStringLiteral(".gz"))
                   || path.contains(piece + QLatin1Char('/'));
        });
    };
    for (const QString& file : files)
        QVERIFY2(has(file), qPrintable(file + QLatin1Char('\n') + listed.out));
    for (const QString& file : absent)
        QVERIFY2(!has(file), qPrintable(file));
    for (const QString& field : fields) {
        const Run value = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, field.section(QStringLiteral(": "), 0, 0)});
        QCOMPARE(value.status, 0);
        QVERIFY2(value.out.contains(field.section(QStringLiteral(": "), 1)), qPrintable(field + QStringLiteral(" in ") + value.out));
    }
}

void tst_Packages::installPackages()
{
    buildPackages();
    if (!m_built.isEmpty() || m_installTried)
        return;
    m_installTried = true;
    m_installed = QStringLiteral("the packages could not be installed");
    const QString cache = qEnvironmentVariable("QUARROW_TEST_CACHE", QStringLiteral("/var/cache/quarrow-tests"));
    const QString missing = m_root.make(cache);
    if (!missing.isEmpty())
        return (void)(m_installed = missing);
    QDir().mkpath(m_root.path(QStringLiteral("/tmp/debs")));
    for (const QString& deb : QDir(m_packages).entryList({QStringLiteral("*_%1_*.deb").arg(m_version)}, QDir::Files)) {
        if (!deb.contains(QLatin1String("-dbgsym_")))
            QVERIFY(QFile::copy(QDir(m_packages).filePath(deb), m_root.path(QStringLiteral("/tmp/debs/")) + deb));
    }
    // As an administrator does: the packages by their files, apt finding
    // every dependency.
    const Run installed =
        m_root.exec(QStringLiteral("apt-get update -q && apt-get install -y -q --no-install-recommends /tmp/debs/*.deb"),
                    20 * kMinuteMs);
    QVERIFY2(installed.status == 0, qPrintable((installed.out + installed.err).right(6000)));
    m_installed.clear();
}

void tst_Packages::installedRootAnswers_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("pieces"); // in standard output
    QTest::addColumn<bool>("quiet");         // nothing on standard error

    for (const char* unit : {"vxlog-forward.service", "vxlog-vacuum.service", "vxlog-vacuum.timer"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 verifies").arg(QLatin1String(unit))))
            << QStringLiteral("systemd-analyze verify /lib/systemd/system/%1").arg(QLatin1String(unit)) << 0 << QStringList()
            << true;
    }
    for (const char* unit : {"vxlog-forward.service", "vxlog-vacuum.service"}) {
        // Exposure below 5.0 of 10: the threshold counts tenths.
        QTest::newRow(qPrintable(QStringLiteral("%1 is safe").arg(QLatin1String(unit))))
            << QStringLiteral("systemd-analyze security --offline=true --threshold=49 /lib/systemd/system/%1")
                   .arg(QLatin1String(unit))
            << 0 << QStringList{"Overall exposure level"} << true;
    }
    QTest::newRow("the services are not enabled")
        << QStringLiteral("systemctl is-enabled vxlog-forward.service vxlog-vacuum.timer") << 1
        << QStringList{"disabled\ndisabled"} << true;
    QTest::newRow("the services' user exists") << QStringLiteral("getent passwd vxlog") << 0 << QStringList{"vxlog:"} << true;
    QTest::newRow("man vxlog in the C locale") << QStringLiteral("MANWIDTH=80 man --warnings vxlog") << 0
                                               << QStringList{"vxlog - command-line tool", "vxlog forward"} << true;
    QTest::newRow("man quarrow in the C locale") << QStringLiteral("MANWIDTH=80 man --warnings quarrow") << 0
                                                 << QStringList{"Quarrow, quarrow - viewer", "--machine-log"} << true;
    QTest::newRow("the Chinese page in Chinese") << QStringLiteral("LANG=C.UTF-8 MANWIDTH=80 man -L zh_CN --warnings vxlog") << 0
                                                 << QStringList{"vxlog - 系统日志（dbLog.db）的命令行工具"} << true;
    QTest::newRow("Quarrow --help without a display") << QStringLiteral("Quarrow --help") << 0
                                                      << QStringList{"--machine-log", "--version"} << true;
    QTest::newRow("quarrow --version without a display") << QStringLiteral("quarrow --version") << 0
                                                         << QStringList{"Quarrow " VX_VERSION} << true;
    QTest::newRow("vxlog writes and reads a log") << QStringLiteral("cd /tmp && vxlog write -p alarm 主轴过热 && vxlog query -o cat")
                                                  << 0 << QStringList{"主轴过热"} << true;
}

void tst_Packages::installedRootAnswers()
{
    QFETCH(QString, command);
    QFETCH(int, status);
    QFETCH(QStringList, pieces);
    QFETCH(bool, quiet);
    installPackages();
    if (!m_built.isEmpty())
        QSKIP(qPrintable(m_built));
    if (!m_installed.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no clean Debian root: ") + m_installed));
    const Run answered = m_root.exec(command);
    QVERIFY2(answered.status == status, qPrintable(QStringLiteral("status %1\n").arg(answered.status) + answered.out + answered.err));
    for (const QString& piece : pieces)
        QVERIFY2(answered.out.contains(piece), qPrintable(piece + QStringLiteral(" not in:\n") + answered.out.left(3000)));
    if (quiet)
        QVERIFY2(answered.err.isEmpty(), qPrintable(answered.err.left(3000)));
}

// Installed again over itself, then purged: nothing of the packages is left,
// and the services' state is gone with them.
void tst_Packages::reinstallsAndPurges()
{
    installPackages();
    if (!m_built.isEmpty())
        QSKIP(qPrintable(m_built));
    if (!m_installed.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no clean Debian root: ") + m_installed));
    const Run reinstalled = m_root.exec(QStringLiteral("apt-get install -y -q --reinstall /tmp/debs/*.deb"), 10 * kMinuteMs);
    QVERIFY2(reinstalled.status == 0, qPrintable(reinstalled.out + reinstalled.err));
    const Run purged = m_root.exec(QStringLiteral("apt-get purge -y -q quarrow vxlog libvxsyslog-dev libvxsyslog1"));
    QVERIFY2(purged.status == 0, qPrintable(purged.out + purged.err));
    for (const char* left : {"/usr/bin/vxlog", "/usr/bin/quarrow", "/lib/systemd/system/vxlog-forward.service",
                             "/usr/share/doc/vxlog", "/usr/share/man/zh_CN/man1/vxlog.1.gz",
                             "/etc/systemd/system/timers.target.wants/vxlog-vacuum.timer"})
        QVERIFY2(!QFileInfo::exists(m_root.path(QLatin1String(left))) && !QFileInfo(m_root.path(QLatin1String(left))).isSymLink(),
                 left);
    const Run listed = m_root.exec(QStringLiteral("dpkg -l quarrow vxlog libvxsyslog1 libvxsyslog-dev | grep '^[ir]i'"));
    QVERIFY2(listed.status != 0, qPrintable(listed.out));
}

QTEST_MAIN(tst_Packages)
#include "tst_packages.moc"
