// The manual pages made at build time: vxlog(1) holds every command and
// every option its --help lists, in that command's section, so the page
// cannot drift from the program; Quarrow(1) holds the viewer's own help; both
// render with man without a warning.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

constexpr int kTimeoutMs = 60000;

QString output(const QString& program, const QStringList& arguments, QString* errors = nullptr, int* status = nullptr)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(kTimeoutMs))
        return QString();
    if (errors)
        *errors = QString::fromUtf8(process.readAllStandardError());
    if (status)
        *status = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString page(const char* name)
{
    QFile file(QStringLiteral(VX_MAN_DIR "/%1.1").arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A help term as the page writes it: bold, hyphens as minus signs.
QString roffTerm(const QString& term)
{
    QString text = term;
    return QStringLiteral(".B ") + text.replace(QLatin1Char('-'), QStringLiteral("\\-"));
}

// The part of the page from the section of `command` to the next one.
QString commandSection(const QString& text, const QString& command)
{
    const int start = text.indexOf(QStringLiteral(".SS \"vxlog %1\"").arg(command));
    if (start < 0)
        return QString();
    const int end = text.indexOf(QStringLiteral("\n.S"), start + 1);
    return text.mid(start, end < 0 ? -1 : end - start);
}

} // namespace

class tst_Manpages : public QObject
{
    Q_OBJECT

private slots:
    void vxlogPageHoldsEveryOption_data();
    void vxlogPageHoldsEveryOption();
    void pagesRender_data();
    void pagesRender();
};

void tst_Manpages::vxlogPageHoldsEveryOption_data()
{
    QTest::addColumn<QString>("command");
    const QString help = output(QStringLiteral(VXLOG_BINARY), {QStringLiteral("--help")});
    const QRegularExpression commandLine(QStringLiteral("\n  ([a-z]+)\n"));
    int commands = 0;
    for (auto match = commandLine.globalMatch(help); match.hasNext(); ++commands) {
        const QString command = match.next().captured(1);
        QTest::newRow(qPrintable(command)) << command;
    }
    QVERIFY(commands >= 7);
}

void tst_Manpages::vxlogPageHoldsEveryOption()
{
    QFETCH(QString, command);
    const QString section = commandSection(page("vxlog"), command);
    QVERIFY2(!section.isEmpty(), qPrintable(command));
    const QString help = output(QStringLiteral(VXLOG_BINARY), {command, QStringLiteral("--help")});
    const QRegularExpression optionLine(QStringLiteral("^  (-\\S.*)$"), QRegularExpression::MultilineOption);
    int options = 0;
    for (auto match = optionLine.globalMatch(help); match.hasNext(); ++options) {
        const QString term = roffTerm(match.next().captured(1));
        QVERIFY2(section.contains(term + QLatin1Char('\n')), qPrintable(term));
    }
    QVERIFY(options >= 5);
}

void tst_Manpages::pagesRender_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("vxlog") << QStringLiteral("vxlog")
                           << QStringList{"VXLOG(1)", "NAME", "vxlog - command-line tool", "COMMANDS", "vxlog vacuum",
                                          "--time", "SEE ALSO"};
    QTest::newRow("Quarrow") << QStringLiteral("Quarrow")
                             << QStringList{"QUARROW(1)", "Quarrow [选项] [FILE…]", "--help-all", "报警记录", "Quarrow.ini",
                                            "vxlog(1)"};
}

void tst_Manpages::pagesRender()
{
    QFETCH(QString, name);
    QFETCH(QStringList, pieces);
    if (QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty())
        QSKIP("man is not installed (Debian: man-db)");
    QString errors;
    int status = -1;
    const QString shown = output(QStringLiteral("man"), {QStringLiteral("-l"), QStringLiteral(VX_MAN_DIR "/%1.1").arg(name)},
                                 &errors, &status);
    QCOMPARE(status, 0);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
    for (const QString& piece : pieces)
        QVERIFY2(shown.contains(piece), qPrintable(piece));
}

QTEST_MAIN(tst_Manpages)
#include "tst_manpages.moc"
