// The remembered record type: read from ./Quarrow.ini at start-up, written
// only by the day query, and never by start-up, closing or the other actions.
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

const QString kIni = QStringLiteral("Quarrow.ini");

void writeIniText(const QByteArray& text)
{
    QFile file(kIni);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QVariant storedIndex()
{
    return QSettings(QStringLiteral("./Quarrow.ini"), QSettings::IniFormat).value(QStringLiteral("comBoxIndex"));
}

} // namespace

class TestQuarrowSettings : public QObject
{
    Q_OBJECT

private slots:
    void firstStartSelectsFirstTypeAndCreatesNoFile();
    void rememberedIndex_data();
    void rememberedIndex();
    void dayQueryStoresIndex_data();
    void dayQueryStoresIndex();
    void dayQueryIndexSelectedOnNextStart();
    void rangeQueryAndPageSwitchesWriteNothing();
};

void TestQuarrowSettings::firstStartSelectsFirstTypeAndCreatesNoFile()
{
    WorkDir dir;
    QVERIFY(dir.isValid());
    {
        Quarrow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.findChild<QComboBox*>("comboBox")->currentIndex(), 0);
        QCOMPARE(window.findChild<QComboBox*>("comboBox")->currentText(), QStringLiteral("参数修改记录"));
        QCOMPARE(window.findChild<QComboBox*>("comboBox_2")->currentIndex(), 0);
        QVERIFY(window.close());
    }
    QVERIFY(!QFile::exists(kIni));
}

void TestQuarrowSettings::rememberedIndex_data()
{
    QTest::addColumn<QByteArray>("iniText");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<QString>("expectedCaption");

    QTest::newRow("3 selects the alarm records") << QByteArray("comBoxIndex=3\n") << 3 << QStringLiteral("报警记录");
    QTest::newRow("4 selects other information") << QByteArray("comBoxIndex=4\n") << 4 << QStringLiteral("其他信息");
    QTest::newRow("0 selects parameter changes") << QByteArray("comBoxIndex=0\n") << 0 << QStringLiteral("参数修改记录");
    QTest::newRow("5 is past the list, falls back to 0") << QByteArray("comBoxIndex=5\n") << 0
                                                         << QStringLiteral("参数修改记录");
    QTest::newRow("-1 falls back to 0") << QByteArray("comBoxIndex=-1\n") << 0 << QStringLiteral("参数修改记录");
    QTest::newRow("huge value falls back to 0") << QByteArray("comBoxIndex=99999\n") << 0
                                                << QStringLiteral("参数修改记录");
    QTest::newRow("text is not a number, counts as 0") << QByteArray("comBoxIndex=abc\n") << 0
                                                       << QStringLiteral("参数修改记录");
    QTest::newRow("empty value counts as 0") << QByteArray("comBoxIndex=\n") << 0 << QStringLiteral("参数修改记录");
    QTest::newRow("key in a group is not the key") << QByteArray("[other]\ncomBoxIndex=2\n") << 0
                                                   << QStringLiteral("参数修改记录");
}

void TestQuarrowSettings::rememberedIndex()
{
    QFETCH(QByteArray, iniText);
    QFETCH(int, expectedIndex);
    QFETCH(QString, expectedCaption);

    WorkDir dir;
    writeIniText(iniText);
    Quarrow window;
    for (const char* name : {"comboBox", "comboBox_2"}) {
        auto* list = window.findChild<QComboBox*>(name);
        QCOMPARE(list->currentIndex(), expectedIndex);
        QCOMPARE(list->currentText(), expectedCaption);
    }
    // Start-up only reads the file.
    QFile file(kIni);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), iniText);
}

void TestQuarrowSettings::dayQueryStoresIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("queryFails");
    QTest::newRow("nothing found, index 2") << 2 << false;
    QTest::newRow("nothing found, index 0") << 0 << false;
    QTest::newRow("query fails, index 4") << 4 << true;
}

void TestQuarrowSettings::dayQueryStoresIndex()
{
    QFETCH(int, index);
    QFETCH(bool, queryFails);

    Viewer v;
    if (queryFails)
        QVERIFY(dropRecordTable());
    v.widget<QComboBox>("comboBox")->setCurrentIndex(index);
    QVERIFY(!QFile::exists(kIni));

    v.widget<QPushButton>("pushButton")->click();

    QVERIFY(storedIndex().isValid());
    QCOMPARE(storedIndex().toInt(), index);
    // The range list is not touched by the day query.
    QCOMPARE(v.widget<QComboBox>("comboBox_2")->currentIndex(), 0);
}

void TestQuarrowSettings::dayQueryIndexSelectedOnNextStart()
{
    WorkDir dir;
    {
        Quarrow first;
        first.findChild<QComboBox*>("comboBox")->setCurrentIndex(3);
        first.findChild<QPushButton*>("pushButton")->click();
        // A later change of the list without a query is not remembered.
        first.findChild<QComboBox*>("comboBox")->setCurrentIndex(1);
    }
    Quarrow second;
    QCOMPARE(second.findChild<QComboBox*>("comboBox")->currentIndex(), 3);
    QCOMPARE(second.findChild<QComboBox*>("comboBox_2")->currentIndex(), 3);
}

void TestQuarrowSettings::rangeQueryAndPageSwitchesWriteNothing()
{
    Viewer v;
    v.widget<QComboBox>("comboBox_2")->setCurrentIndex(2);
    v.widget<QAbstractButton>("toolButton")->click();
    v.widget<QPushButton>("pushButton_2")->click();
    v.widget<QAbstractButton>("toolButton_2")->click();
    QCOMPARE(v.widget<QTextEdit>("textEdit")->toPlainText(), QStringLiteral("没有找到相关记录"));
    v.window->close();
    QVERIFY(!QFile::exists(kIni));
}

QTEST_MAIN(TestQuarrowSettings)
#include "tst_quarrow_settings.moc"
