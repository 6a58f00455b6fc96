// The day export, driven the way an operator would: the folder dialog and the
// information boxes are answered from a zero-delay timer. Covers the three
// messages, cancelling, overwriting, the byte-exact file, and the failure
// boxes for a file that cannot be opened or written.
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTextCodec>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

void pressOk(QWidget* modal)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    QVERIFY(!QApplication::overrideCursor()); // the busy cursor is gone before any box
    box->button(QMessageBox::Ok)->click();
}

// Checks the folder dialog as the operator sees it, then picks `folder` in it
// (a null folder cancels the dialog).
ModalDriver::Handler chooseFolder(const QString& folder)
{
    return [folder](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("请选择文件存储路径"));
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        // Qt 5 turns ShowDirsOnly into its (deprecated) DirectoryOnly mode.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QVERIFY(dialog->fileMode() == QFileDialog::Directory || dialog->fileMode() == QFileDialog::DirectoryOnly);
        QT_WARNING_POP
        if (folder.isNull()) {
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        dialog->setDirectory(folder);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

// Presses the export button with this day and type selected, answering the
// dialogs in turn; returns every dialog that came up.
QList<SeenModal> exportDay(Viewer& v, const QDate& day, int type, const QList<ModalDriver::Handler>& answers)
{
    ModalDriver modals(answers);
    v.selectDay(day, type);
    v.click("m_pbExport");
    return modals.seen();
}

QString exportPathIn(const QString& folder)
{
    return folder + QStringLiteral("/2024-05-01系统日志.txt");
}

QByteArray inLocaleEncoding(const QString& text)
{
    return QTextCodec::codecForLocale()->fromUnicode(text);
}

} // namespace

class tst_QuarrowExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneMessageNoFile_data();
    void oneMessageNoFile();
    void writesTheRecordBlocksByteExact_data();
    void writesTheRecordBlocksByteExact();
    void replacesAnEarlierFileWithTheSelectionAtPress();
    void severalTypesAreNamedInTheFile();
};

void tst_QuarrowExport::initTestCase()
{
    // Qt's own folder dialog, never a platform one.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void tst_QuarrowExport::oneMessageNoFile_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("answer"); // the folder dialog: 0 not expected, 1 cancelled, 2 folder chosen
    QTest::addColumn<QString>("pattern"); // %1: the export path
    QTest::newRow("no records of the type on the day") << 1 << QString() << 0 << "^2024-05-01没用记录可以导出$";
    QTest::newRow("failed query is not taken for no records")
        << 0 << "broken store" << 0 << "^2024-05-01的记录查询失败，无法导出：.*SystemInfo";
    QTest::newRow("cancelling the folder dialog") << 0 << QString() << 1 << "^路径无效$";
    // Tests run as root, where permission bits stop no write: the faults are
    // made with a folder standing where the file goes, and a link to a full disk.
    QTest::newRow("a folder stands at the export path")
        << 0 << "folder" << 2 << "^无法创建导出文件，路径如下：\\n%1\\n原因：.+";
    QTest::newRow("the export path links to /dev/full")
        << 0 << "/dev/full" << 2 << "^数据导出失败，路径如下：\\n%1\\n原因：.+";
}

// The information box that ends each of these exports, over the window; no
// export file is written.
void tst_QuarrowExport::oneMessageNoFile()
{
    QFETCH(int, type);
    QFETCH(QString, fault);
    QFETCH(int, answer);
    QFETCH(QString, pattern);
    if (fault == QLatin1String("/dev/full") && !QFile::exists(fault))
        QSKIP("this system has no /dev/full");

    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 10:00:00", 0, "m"}, {"2024-05-02 10:00:00", 1, "another day"}}));
    const QString path = exportPathIn(v.dir.path());
    if (fault == QLatin1String("broken store"))
        QVERIFY(v.breakStore());
    else if (fault == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    else if (!fault.isEmpty())
        QVERIFY(QFile::link(fault, path));
    QList<ModalDriver::Handler> answers{pressOk};
    if (answer)
        answers.prepend(chooseFolder(answer == 2 ? v.dir.path() : QString()));
    const QList<SeenModal> seen = exportDay(v, kDay, type, answers);

    QCOMPARE(seen.size(), answers.size());
    QCOMPARE(seen.last().className, QStringLiteral("QMessageBox"));
    QCOMPARE(seen.last().title, QStringLiteral("提示"));
    QCOMPARE(seen.last().parent, v.window.get());
    const QRegularExpression expected(pattern.replace(QLatin1String("%1"), QRegularExpression::escape(path)));
    QVERIFY2(expected.match(seen.last().text).hasMatch(), qPrintable(seen.last().text));
    QVERIFY(!QFileInfo(path).isFile());
}

// Only the day's records of the type, both ends of the day included, back to back;
// the window is left as it was.
void tst_QuarrowExport::writesTheRecordBlocksByteExact_data()
{
    QTest::addColumn<bool>("openedFile"); // the records in a log file opened by name, not ./dbLog.db
    QTest::newRow("from the working folder's log") << false;
    QTest::newRow("from a log file opened by name") << true;
}

void tst_QuarrowExport::writesTheRecordBlocksByteExact()
{
    QFETCH(bool, openedFile);
    Viewer v;
    // Messages without a final line feed (as programs other than the log
    // module write them) and with one; a drop record of another type.
    const QList<Row> rows = {{"2024-05-01 00:00:00", 2, "at midnight"},
                             {"2024-05-01 03:00:00", 4, "日志过多：已丢弃 3 条记录（2024-05-01 02:59:58 至 03:00:00）"},
                             {"2024-05-01 08:15:00", 2, "电源电压正常\n风扇转速 1200\n"},
                             {"2024-05-01 12:00:00", 3, "other type"},
                             {"2024-05-01 20:30:45", 2, "最后一条 100%"},
                             {"2024-05-01 23:59:59", 2, "last second\n"}};
    if (openedFile) {
        QVERIFY(v.seed({{"2024-05-01 09:00:00", 2, "this machine's own, not exported"}}));
        const QString other = v.dir.filePath(QStringLiteral("other.db"));
        TestDatabase log(other);
        QVERIFY(log.exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                        "datetime DATETIME, type INT, message TEXT)")));
        for (const Row& row : rows)
            QVERIFY(log.insertRow(row.datetime, row.type, row.message));
        v.window->openLogFile(other);
    } else {
        QVERIFY(v.seed(rows));
    }
    const QString folder = v.dir.filePath(QStringLiteral("exports"));
    QVERIFY(QDir().mkdir(folder));
    v.pane()->showRecords({{QStringLiteral("shown"), QStringLiteral("before")}});

    const QList<SeenModal> seen = exportDay(v, kDay, 2, {chooseFolder(folder), pressOk});
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.first().parent, v.window.get());
    const QString path = exportPathIn(folder);
    QCOMPARE(seen.at(1).title, QStringLiteral("提示"));
    QCOMPARE(seen.at(1).text, QStringLiteral("数据导出完成，路径如下：\n%1\n共导出 4 条 · 1 处空缺").arg(path));
    // The blocks the pane lists; each header starts a line.
    const QByteArray expected = inLocaleEncoding(QStringLiteral("2024-05-01 00:00:00:\nat midnight\n"
                                                                "2024-05-01 03:00:00:\n此期间有 3 条日志未能写入：日志过多"
                                                                "（2024-05-01 02:59:58 至 03:00:00）\n"
                                                                "2024-05-01 08:15:00:\n电源电压正常\n风扇转速 1200\n"
                                                                "2024-05-01 20:30:45:\n最后一条 100%\n"
                                                                "2024-05-01 23:59:59:\nlast second\n"));
    QCOMPARE(fileBytes(path), expected);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);

    QCOMPARE(v.pane()->toPlainText(), QStringLiteral("shown:\nbefore"));
    QCOMPARE(v.widget<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("Quarrow.ini")));
}

// The second export writes a shorter file over a longer one; each exports what
// is selected when the button is pressed, not what the pane shows.
void tst_QuarrowExport::replacesAnEarlierFileWithTheSelectionAtPress()
{
    Viewer v;
    QVERIFY(v.seed({{"2024-04-30 10:00:00", 1, "shown in the pane"},
                    {"2024-05-01 09:00:00", 0, "zero, a rather long message to be cut away"},
                    {"2024-05-01 09:00:00", 1, "one"}}));
    QVERIFY(v.queryDay(QDate(2024, 4, 30), 1));
    const QString path = exportPathIn(v.dir.path());
    QCOMPARE(exportDay(v, kDay, 0, {chooseFolder(v.dir.path()), pressOk}).size(), 2);
    QCOMPARE(fileBytes(path), inLocaleEncoding(QStringLiteral("2024-05-01 09:00:00:\nzero, a rather long message to be cut away\n")));
    QFile longer(path);
    QVERIFY(longer.open(QIODevice::Append));
    longer.write(QByteArray(4096, 'x'));
    longer.close();

    QCOMPARE(exportDay(v, kDay, 1, {chooseFolder(v.dir.path()), pressOk}).size(), 2);
    QCOMPARE(fileBytes(path), inLocaleEncoding(QStringLiteral("2024-05-01 09:00:00:\none\n")));
}

// Every type: each block names its type after the time, in time order; a
// drop record reads as the pane lists it.
void tst_QuarrowExport::severalTypesAreNamedInTheFile()
{
    Viewer v;
    QVERIFY(v.seed({{"2024-05-01 08:00:00", 3, "主轴温度过高"},
                    {"2024-05-01 07:00:00", 0, "进给倍率 80%"},
                    {"2024-05-01 09:00:00", 4, "日志过多：已丢弃 3 条记录（2024-05-01 08:59:58 至 09:00:00）"}}));
    const QString folder = v.dir.filePath(QStringLiteral("exports"));
    QVERIFY(QDir().mkdir(folder));
    const QList<SeenModal> seen = exportDay(v, kDay, 5, {chooseFolder(folder), pressOk});
    QCOMPARE(seen.size(), 2);
    QCOMPARE(fileBytes(exportPathIn(folder)),
             inLocaleEncoding(QStringLiteral("2024-05-01 07:00:00 [参数修改记录]:\n进给倍率 80%\n"
                                             "2024-05-01 08:00:00 [报警记录]:\n主轴温度过高\n"
                                             "2024-05-01 09:00:00 [其他信息]:\n此期间有 3 条日志未能写入：日志过多"
                                             "（2024-05-01 08:59:58 至 09:00:00）\n")));
    QCOMPARE(seen.at(1).text.section(QLatin1Char('\n'), 2), QStringLiteral("共导出 2 条 · 1 处空缺"));
}

QTEST_MAIN(tst_QuarrowExport)
#include "tst_quarrow_export.moc"
