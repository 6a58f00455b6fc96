// The manual pages: the Chinese vxlog(1), made at build time, holds every
// command and every option its --help lists, in that command's section, so
// the page cannot drift from the program; the English one, written by hand,
// names each of those options in that section too. Quarrow(1) holds the
// viewer's own help. Every page renders with man without a warning: the
// English ones also in the C locale (an ASCII terminal, what a minimal root,
// cron or a plain service gets), the Chinese ones in a UTF-8 locale.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include "BuiltPath.h"

namespace {

constexpr int kTimeoutMs = 60000;

QString output(const QString& program, const QStringList& arguments, QString* errors = nullptr, int* status = nullptr,
               const QString& locale = QStringLiteral("C.UTF-8"))
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.insert(QStringLiteral("LANG"), locale);
    environment.insert(QStringLiteral("LC_ALL"), locale);
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

// A page as the build made it: "vxlog" English, "zh_CN/vxlog" Chinese.
QString page(const QString& name)
{
    QFile file(vxtest::built(VX_MAN_DIR "/%1.1").arg(name));
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
    void examplesStandApart_data();
    void examplesStandApart();
};

void tst_Manpages::vxlogPageHoldsEveryOption_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("page");
    const QString help = output(vxtest::built(VXLOG_BINARY), {QStringLiteral("--help")});
    const QRegularExpression commandLine(QStringLiteral("\n  ([a-z]+)\n"));
    int commands = 0;
    for (auto match = commandLine.globalMatch(help); match.hasNext(); ++commands) {
        const QString command = match.next().captured(1);
        QTest::newRow(qPrintable(command + QStringLiteral(" in Chinese"))) << command << QStringLiteral("zh_CN/vxlog");
        QTest::newRow(qPrintable(command + QStringLiteral(" in English"))) << command << QStringLiteral("vxlog");
    }
    QVERIFY(commands >= 7);
}

// The Chinese page has each option's help line as its term; the English one
// names each long option (the general --help and --version apart, described
// once) in the command's section.
void tst_Manpages::vxlogPageHoldsEveryOption()
{
    QFETCH(QString, command);
    QFETCH(QString, page);
    const QString section = commandSection(::page(page), command);
    QVERIFY2(!section.isEmpty(), qPrintable(command));
    const QString help = output(vxtest::built(VXLOG_BINARY), {command, QStringLiteral("--help")});
    const QRegularExpression optionLine(QStringLiteral("^  (-\\S.*)$"), QRegularExpression::MultilineOption);
    const QRegularExpression longOption(QStringLiteral("--[a-z-]+"));
    int options = 0;
    for (auto match = optionLine.globalMatch(help); match.hasNext(); ++options) {
        const QString term = match.next().captured(1);
        if (page.startsWith(QLatin1String("zh_CN/"))) {
            QVERIFY2(section.contains(roffTerm(term) + QLatin1Char('\n')), qPrintable(term));
            continue;
        }
        for (auto name = longOption.globalMatch(term); name.hasNext();) {
            const QString option = name.next().captured();
            if (option == QLatin1String("--help") || option == QLatin1String("--version"))
                continue;
            QVERIFY2(section.contains(QString(option).replace(QLatin1Char('-'), QStringLiteral("\\-"))),
                     qPrintable(option));
        }
    }
    QVERIFY(options >= 5);
}

void tst_Manpages::pagesRender_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("pieces");
    const QStringList vxlog{"VXLOG(1)", "NAME", "vxlog - command-line tool", "COMMANDS", "vxlog vacuum", "--time",
                            "SEE ALSO"};
    const QStringList quarrow{"QUARROW(1)", "Quarrow [--machine-log|--here] [file...]", "--help-all", "3 alarms",
                              "/etc/quarrow/quarrow.conf", "vxlog(1)"};
    QTest::newRow("vxlog, C locale") << QStringLiteral("vxlog") << QStringLiteral("C")
                                     << (QStringList(vxlog) << "\"type N\" (in Chinese)");
    QTest::newRow("vxlog, UTF-8") << QStringLiteral("vxlog") << QStringLiteral("C.UTF-8")
                                  << (QStringList(vxlog) << "“类型 N”");
    QTest::newRow("Quarrow, C locale") << QStringLiteral("Quarrow") << QStringLiteral("C") << quarrow;
    QTest::newRow("Quarrow, UTF-8") << QStringLiteral("Quarrow") << QStringLiteral("C.UTF-8")
                                    << (QStringList(quarrow) << "3 alarms (报警记录)");
    QTest::newRow("vxlog in Chinese") << QStringLiteral("zh_CN/vxlog") << QStringLiteral("C.UTF-8")
                                      << QStringList{"VXLOG(1)", "vxlog - 系统日志（dbLog.db）的命令行工具",
                                                     "vxlog [选项] 命令 [选项]", "vxlog vacuum", "--time", "SEE ALSO"};
    QTest::newRow("Quarrow in Chinese") << QStringLiteral("zh_CN/Quarrow") << QStringLiteral("C.UTF-8")
                                        << QStringList{"QUARROW(1)", "Quarrow [选项] [FILE…]", "--machine-log", "报警记录",
                                                       "/etc/quarrow/quarrow.conf", "vxlog(1)"};
}

void tst_Manpages::pagesRender()
{
    QFETCH(QString, name);
    QFETCH(QString, locale);
    QFETCH(QStringList, pieces);
    if (QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty())
        QSKIP("man is not installed (Debian: man-db)");
    QString errors;
    int status = -1;
    const QString shown = output(QStringLiteral("man"),
                                 {QStringLiteral("--warnings"), QStringLiteral("-l"), vxtest::built(VX_MAN_DIR "/%1.1").arg(name)},
                                 &errors, &status, locale);
    QCOMPARE(status, 0);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.left(2000)));
    for (const QString& piece : pieces)
        QVERIFY2(shown.contains(piece), qPrintable(piece));
}

// An example of the help (a line "例：vxlog …" under a command, a line of a
// command's 例子) is a block of its own in the page, unfilled, not a run-on
// of the sentence before it.
void tst_Manpages::examplesStandApart_data()
{
    QTest::addColumn<QString>("example");
    const QString help = output(vxtest::built(VXLOG_BINARY), {QStringLiteral("--help")});
    const QRegularExpression underCommand(QStringLiteral("^      例：(.+)$"), QRegularExpression::MultilineOption);
    for (auto match = underCommand.globalMatch(help); match.hasNext();) {
        const QString example = match.next().captured(1);
        QTest::newRow(qPrintable(example)) << example;
    }
    const QString queryHelp = output(vxtest::built(VXLOG_BINARY), {QStringLiteral("query"), QStringLiteral("--help")});
    const QString examples = queryHelp.section(QStringLiteral("例子：\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    QVERIFY(!examples.isEmpty());
    for (const QString& line : examples.split(QLatin1Char('\n')))
        QTest::newRow(qPrintable(QStringLiteral("query: ") + line.trimmed())) << line.trimmed();
}

void tst_Manpages::examplesStandApart()
{
    QFETCH(QString, example);
    QString roff = example;
    roff.replace(QLatin1Char('\\'), QStringLiteral("\\e")).replace(QLatin1Char('-'), QStringLiteral("\\-"));
    QVERIFY2(page(QStringLiteral("zh_CN/vxlog")).contains(QStringLiteral("\n.EX\n") + roff + QStringLiteral("\n.EE\n")),
             qPrintable(roff));
}

QTEST_MAIN(tst_Manpages)
#include "tst_manpages.moc"
