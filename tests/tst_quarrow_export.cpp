// The day export, driven the way an operator would: the folder dialog and the
// information boxes are answered from a zero-delay timer. Covers the three
// messages, cancelling, overwriting, the byte-exact file, and the failure
// boxes for a file that cannot be opened or written.
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextCodec>
#include <QTextEdit>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

const QDate kDay(2024, 5, 1);
const QString kDayText = QStringLiteral("2024-05-01");

void pressOk(QWidget* modal)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    box->button(QMessageBox::Ok)->click();
}

ModalDriver::Handler chooseFolder(const QString& folder)
{
    return [folder](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        dialog->setDirectory(folder);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

void cancelDialog(QWidget* modal)
{
    QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
}

void pressExport(Viewer& v, const QDate& day, int typeIndex)
{
    v.widget<QDateEdit>("dateEdit")->setDate(day);
    v.widget<QComboBox>("comboBox")->setCurrentIndex(typeIndex);
    QTest::mouseClick(v.widget<QPushButton>("m_pbExport"), Qt::LeftButton);
}

QString exportPathIn(const QString& folder)
{
    return folder + QLatin1Char('/') + kDayText + QStringLiteral("系统日志.txt");
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray inLocaleEncoding(const QString& text)
{
    return QTextCodec::codecForLocale()->fromUnicode(text);
}

} // namespace

class TestQuarrowExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dayWithoutRecords();
    void failedQueryIsReportedAsFailure();
    void cancellingTheFolderDialog();
    void folderDialogAsTheOperatorSeesIt();
    void writesTheRecordBlocksByteExact();
    void replacesAnEarlierFile_data();
    void replacesAnEarlierFile();
    void usesTheSelectionAtPress();
    void leavesTheWindowAsItWas();
    void failureBoxes_data();
    void failureBoxes();
};

void TestQuarrowExport::initTestCase()
{
    // Qt's own folder dialog, never a platform one.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TestQuarrowExport::dayWithoutRecords()
{
    Viewer v;
    QVERIFY(seedRows({{"2020-09-22 10:00:00", 1, "another type"}, {"2020-09-23 10:00:00", 0, "another day"}}));
    ModalDriver modals;
    modals.then(pressOk);
    pressExport(v, QDate(2020, 9, 22), 0);

    QCOMPARE(modals.seen().size(), 1);
    QCOMPARE(modals.unexpected(), 0);
    const SeenModal& box = modals.seen().first();
    QCOMPARE(box.className, QStringLiteral("QMessageBox"));
    QCOMPARE(box.title, QStringLiteral("提示"));
    QCOMPARE(box.text, QStringLiteral("2020-09-22没用记录可以导出"));
    QCOMPARE(box.parent, v.window.get());
    QCOMPARE(QDir(v.dir.path()).entryList(QStringList{QStringLiteral("*.txt")}, QDir::Files), QStringList());
}

void TestQuarrowExport::failedQueryIsReportedAsFailure()
{
    Viewer v;
    QVERIFY(dropRecordTable());
    ModalDriver modals;
    modals.then(pressOk);
    pressExport(v, kDay, 0);

    QCOMPARE(modals.seen().size(), 1);
    QCOMPARE(modals.unexpected(), 0);
    const QString text = modals.seen().first().text;
    QVERIFY2(text.startsWith(kDayText + QStringLiteral("的记录查询失败")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("SystemInfo")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("没用记录可以导出")));
}

void TestQuarrowExport::cancellingTheFolderDialog()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "m"}}));
    ModalDriver modals;
    modals.then(cancelDialog);
    modals.then(pressOk);
    pressExport(v, kDay, 0);

    QCOMPARE(modals.seen().size(), 2);
    QCOMPARE(modals.unexpected(), 0);
    QCOMPARE(modals.seen().at(1).title, QStringLiteral("提示"));
    QCOMPARE(modals.seen().at(1).text, QStringLiteral("路径无效"));
}

void TestQuarrowExport::folderDialogAsTheOperatorSeesIt()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "m"}}));
    QString caption;
    bool dirsOnly = false;
    bool directoryMode = false;
    ModalDriver modals;
    modals.then([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        caption = dialog->windowTitle();
        dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
        // Qt 5 turns ShowDirsOnly into its (deprecated) DirectoryOnly mode.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        directoryMode = dialog->fileMode() == QFileDialog::Directory || dialog->fileMode() == QFileDialog::DirectoryOnly;
        QT_WARNING_POP
        dialog->reject();
    });
    modals.then(pressOk);
    pressExport(v, kDay, 0);

    QCOMPARE(modals.seen().size(), 2);
    QCOMPARE(caption, QStringLiteral("请选择文件存储路径"));
    QVERIFY(dirsOnly);
    QVERIFY(directoryMode);
    QCOMPARE(modals.seen().first().parent, v.window.get());
}

void TestQuarrowExport::writesTheRecordBlocksByteExact()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 00:00:00", 2, "at midnight, outside"},
                      {"2024-05-01 08:15:00", 2, "电源电压正常\n风扇转速 1200\n"},
                      {"2024-05-01 12:00:00", 3, "other type"},
                      {"2024-05-01 20:30:45", 2, "最后一条 100%"},
                      {"2024-05-01 23:59:59", 2, "last second, outside"}}));
    const QString folder = v.dir.filePath(QStringLiteral("exports"));
    QVERIFY(QDir().mkdir(folder));

    ModalDriver modals;
    modals.then(chooseFolder(folder));
    modals.then(pressOk);
    pressExport(v, kDay, 2);

    QCOMPARE(modals.seen().size(), 2);
    QCOMPARE(modals.unexpected(), 0);
    const QString path = exportPathIn(folder);
    QCOMPARE(modals.seen().at(1).title, QStringLiteral("提示"));
    QCOMPARE(modals.seen().at(1).text, QStringLiteral("数据导出完成，路径如下：\n") + path);
    const QString expected = QStringLiteral("2024-05-01 08:15:00:\n电源电压正常\n风扇转速 1200\n"
                                            "2024-05-01 20:30:45:\n最后一条 100%");
    QCOMPARE(fileBytes(path), inLocaleEncoding(expected));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 1);
}

void TestQuarrowExport::replacesAnEarlierFile_data()
{
    QTest::addColumn<int>("secondType");
    QTest::newRow("same type again") << 0;
    QTest::newRow("another type, same file name") << 1;
}

void TestQuarrowExport::replacesAnEarlierFile()
{
    QFETCH(int, secondType);
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 09:00:00", 0, "zero, a rather long message to be cut away"},
                      {"2024-05-01 09:00:00", 1, "one"}}));
    const QString folder = v.dir.path();
    const QString path = exportPathIn(folder);
    {
        ModalDriver modals;
        modals.then(chooseFolder(folder));
        modals.then(pressOk);
        pressExport(v, kDay, 0);
        QCOMPARE(modals.seen().size(), 2);
    }
    QFile longer(path);
    QVERIFY(longer.open(QIODevice::Append));
    longer.write(QByteArray(4096, 'x'));
    longer.close();

    ModalDriver modals;
    modals.then(chooseFolder(folder));
    modals.then(pressOk);
    pressExport(v, kDay, secondType);
    QCOMPARE(modals.seen().size(), 2);
    QCOMPARE(modals.unexpected(), 0);
    const QString message = secondType == 0 ? QStringLiteral("zero, a rather long message to be cut away")
                                            : QStringLiteral("one");
    QCOMPARE(fileBytes(path), inLocaleEncoding(QStringLiteral("2024-05-01 09:00:00:\n") + message));
}

void TestQuarrowExport::usesTheSelectionAtPress()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-04-30 10:00:00", 4, "shown in the pane"}, {"2024-05-01 11:00:00", 3, "exported"}}));
    v.widget<QDateEdit>("dateEdit")->setDate(QDate(2024, 4, 30));
    v.widget<QComboBox>("comboBox")->setCurrentIndex(4);
    v.widget<QPushButton>("pushButton")->click();
    QVERIFY(v.widget<QTextEdit>("textEdit")->toPlainText().contains(QStringLiteral("shown in the pane")));

    ModalDriver modals;
    modals.then(chooseFolder(v.dir.path()));
    modals.then(pressOk);
    pressExport(v, kDay, 3);
    QCOMPARE(fileBytes(exportPathIn(v.dir.path())), inLocaleEncoding(QStringLiteral("2024-05-01 11:00:00:\nexported")));
}

void TestQuarrowExport::leavesTheWindowAsItWas()
{
    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "m"}}));
    auto* pane = v.widget<QTextEdit>("textEdit");
    pane->setPlainText(QStringLiteral("operator's notes"));

    ModalDriver modals;
    modals.then(chooseFolder(v.dir.path()));
    modals.then(pressOk);
    pressExport(v, kDay, 0);

    QCOMPARE(modals.seen().size(), 2);
    QCOMPARE(pane->toPlainText(), QStringLiteral("operator's notes"));
    QCOMPARE(v.widget<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("Quarrow.ini")));
}

void TestQuarrowExport::failureBoxes_data()
{
    QTest::addColumn<bool>("folderInTheWay");
    QTest::addColumn<QString>("expectedStart");
    // Tests run as root, where permission bits stop no write: the faults are
    // made with a folder standing where the file goes, and a link to a full disk.
    QTest::newRow("a folder stands at the export path") << true << QStringLiteral("无法创建导出文件，路径如下：\n");
    QTest::newRow("the export path links to /dev/full") << false << QStringLiteral("数据导出失败，路径如下：\n");
}

void TestQuarrowExport::failureBoxes()
{
    QFETCH(bool, folderInTheWay);
    QFETCH(QString, expectedStart);
    if (!folderInTheWay && !QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("this system has no /dev/full");

    Viewer v;
    QVERIFY(seedRows({{"2024-05-01 10:00:00", 0, "m"}}));
    const QString path = exportPathIn(v.dir.path());
    if (folderInTheWay)
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));

    ModalDriver modals;
    modals.then(chooseFolder(v.dir.path()));
    modals.then(pressOk);
    pressExport(v, kDay, 0);

    QCOMPARE(modals.seen().size(), 2);
    QCOMPARE(modals.unexpected(), 0);
    const SeenModal& box = modals.seen().at(1);
    QCOMPARE(box.title, QStringLiteral("提示"));
    QVERIFY2(box.text.startsWith(expectedStart + path + QStringLiteral("\n原因：")), qPrintable(box.text));
    QVERIFY(box.text.length() > (expectedStart + path + QStringLiteral("\n原因：")).length());
    QVERIFY(!box.text.contains(QStringLiteral("导出完成")));
}

QTEST_MAIN(TestQuarrowExport)
#include "tst_quarrow_export.moc"
