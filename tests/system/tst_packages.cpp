// scripts/package run on this build: the four Debian packages are built,
// hold what each must hold (dpkg-deb -c), depend on what their binaries link
// and on each other (dpkg-shlibdeps), and lintian finds no error in them.
// Needs a build with the shared log module and the Debian tools; elsewhere
// it is skipped with a message saying what is missing.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kPackageTimeoutMs = 240000;

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(kPackageTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("timed out");
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace

class tst_Packages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void packageHoldsAndDepends_data();
    void packageHoldsAndDepends();

private:
    QTemporaryDir m_out;
    QString debOf(const QString& package) const
    {
        return m_out.filePath(QStringLiteral("%1_" VX_VERSION "_%2.deb").arg(package, m_arch));
    }
    QString m_arch;
};

void tst_Packages::initTestCase()
{
    if (!VX_SHARED_BUILD)
        QSKIP("the packages carry the log module as a shared library: this build is static "
              "(CI packages in its -DBUILD_SHARED_LIBS=ON build; by hand: scripts/package)");
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "lintian", "chrpath"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/deps installs it)").arg(QLatin1String(tool))));
    }
    QVERIFY(m_out.isValid());
    m_arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
    QVERIFY(!m_arch.isEmpty());
    // lintian's verdict is the script's status: it fails on errors.
    const Run packaged = run(QStringLiteral(VX_SOURCE_DIR "/scripts/package"),
                             {QStringLiteral("--build-dir"), QStringLiteral(VX_BUILD_DIR), QStringLiteral("--no-build"),
                              QStringLiteral("--out"), m_out.path()});
    QVERIFY2(packaged.status == 0, qPrintable(packaged.out + packaged.err));
}

void tst_Packages::packageHoldsAndDepends_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("files");  // path endings each of which some file has
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QStringList>("depends");
    QTest::newRow("quarrow") << QStringLiteral("quarrow")
                             << QStringList{"/usr/bin/Quarrow", "/usr/share/applications/Quarrow.desktop",
                                            "/usr/share/icons/hicolor/256x256/apps/Quarrow.png",
                                            "/usr/share/metainfo/Quarrow.metainfo.xml", "/usr/share/man/man1/Quarrow.1.gz",
                                            "/usr/share/doc/quarrow/copyright", "/usr/share/doc/quarrow/changelog.gz"}
                             << QStringList{"/usr/bin/vxlog", "libvxSyslog.so.1"}
                             << QStringList{"libvxsyslog (>= " VX_VERSION ")", "libqt5widgets5", "libqt5sql5-sqlite", "libc6"};
    QTest::newRow("vxlog") << QStringLiteral("vxlog")
                           << QStringList{"/usr/bin/vxlog", "/usr/share/bash-completion/completions/vxlog",
                                          "/usr/share/man/man1/vxlog.1.gz", "/usr/share/doc/vxlog/fleet.md",
                                          "/usr/share/doc/vxlog/vxlog-forward.service", "/usr/share/doc/vxlog/retention.md",
                                          "/usr/share/doc/vxlog/vxlog-vacuum.service", "/usr/share/doc/vxlog/vxlog-vacuum.timer",
                                          "/usr/share/doc/vxlog/copyright"}
                           << QStringList{"/usr/bin/Quarrow", "/usr/share/doc/Quarrow/fleet.md"}
                           << QStringList{"libvxsyslog (>= " VX_VERSION ")", "librelp0", "libqt5sql5-sqlite", "libc6"};
    QTest::newRow("libvxsyslog") << QStringLiteral("libvxsyslog")
                                 << QStringList{"/libvxSyslog.so.1", "/libvxSyslog.so.1.0", "/usr/share/doc/libvxsyslog/copyright"}
                                 << QStringList{"/libvxSyslog.so", "/usr/include/vxSyslog/vxSysLog.h"}
                                 << QStringList{"libqt5core5a", "libqt5sql5 ", "libsqlite3-0", "libqt5sql5-sqlite"};
    QTest::newRow("libvxsyslog-dev") << QStringLiteral("libvxsyslog-dev")
                                     << QStringList{"/usr/include/vxSyslog/vxSysLog.h", "/usr/include/vxSyslog/vxSyslogExport.h",
                                                    "/libvxSyslog.so", "/cmake/vxSyslog/vxSyslogConfig.cmake",
                                                    "/cmake/vxSyslog/vxSyslogTargets.cmake"}
                                     << QStringList{"/libvxSyslog.so.1.0"}
                                     << QStringList{"libvxsyslog (= " VX_VERSION ")", "qtbase5-dev"};
}

void tst_Packages::packageHoldsAndDepends()
{
    QFETCH(QString, package);
    QFETCH(QStringList, files);
    QFETCH(QStringList, absent);
    QFETCH(QStringList, depends);
    const Run listed = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), debOf(package)});
    QCOMPARE(listed.status, 0);
    // Each line ends in the path ("… ./usr/bin/vxlog"), a link's in "path -> target".
    QStringList paths;
    for (const QString& line : listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        paths << line.section(QStringLiteral(" -> "), 0, 0).section(QLatin1Char(' '), -1);
    auto has = [&paths](const QString& ending) {
        return std::any_of(paths.begin(), paths.end(), [&ending](const QString& path) { return path.endsWith(ending); });
    };
    for (const QString& file : files)
        QVERIFY2(has(file), qPrintable(file + QLatin1Char('\n') + listed.out));
    for (const QString& file : absent)
        QVERIFY2(!has(file), qPrintable(file));
    const Run field = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), debOf(package), QStringLiteral("Depends")});
    QCOMPARE(field.status, 0);
    for (const QString& dependency : depends)
        QVERIFY2(field.out.contains(dependency), qPrintable(dependency + QStringLiteral(" not in ") + field.out));
}

QTEST_MAIN(tst_Packages)
#include "tst_packages.moc"
