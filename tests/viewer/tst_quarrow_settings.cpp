// The remembered record type: read from ./Quarrow.ini at start-up, written
// only by the day query, and never by start-up, closing or the other actions.
#include <QSettings>
#include <QtTest>

#include "QuarrowTestSupport.h"

using namespace QuarrowTest;

namespace {

const QString kIni = QStringLiteral("Quarrow.ini");

} // namespace

class tst_QuarrowSettings : public QObject
{
    Q_OBJECT

private slots:
    void startUpReadsOnly_data();
    void startUpReadsOnly();
    void dayQueryStoresIndex_data();
    void dayQueryStoresIndex();
};

void tst_QuarrowSettings::startUpReadsOnly_data()
{
    QTest::addColumn<QByteArray>("iniText"); // null: no file
    QTest::addColumn<int>("expectedIndex");

    QTest::newRow("no file selects parameter changes") << QByteArray() << 0;
    QTest::newRow("3 selects the alarm records") << QByteArray("comBoxIndex=3\n") << 3;
    QTest::newRow("4, the last entry") << QByteArray("comBoxIndex=4\n") << 4;
    QTest::newRow("5 is every type") << QByteArray("comBoxIndex=5\n") << 5;
    QTest::newRow("6 is past the list, falls back to 0") << QByteArray("comBoxIndex=6\n") << 0;
    QTest::newRow("-1 falls back to 0") << QByteArray("comBoxIndex=-1\n") << 0;
    QTest::newRow("huge value falls back to 0") << QByteArray("comBoxIndex=99999\n") << 0;
    QTest::newRow("text is not a number, counts as 0") << QByteArray("comBoxIndex=abc\n") << 0;
    QTest::newRow("key in a group is not the key") << QByteArray("[other]\ncomBoxIndex=2\n") << 0;
}

// Both lists show the remembered type; starting, a range query, page switches
// and closing leave the file as it was (or absent).
void tst_QuarrowSettings::startUpReadsOnly()
{
    QFETCH(QByteArray, iniText);
    QFETCH(int, expectedIndex);

    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    if (!iniText.isNull()) {
        QFile file(kIni);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(iniText);
    }
    {
        Quarrow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char* name : {"comboBox", "comboBox_2"}) {
            auto* list = window.findChild<QComboBox*>(QString::fromLatin1(name));
            QCOMPARE(list->currentIndex(), expectedIndex);
            QCOMPARE(list->currentText(), caption(expectedIndex));
        }
        window.findChild<QComboBox*>(QStringLiteral("comboBox_2"))->setCurrentIndex(2);
        for (const char* name : {"toolButton", "pushButton_2", "toolButton_2"})
            window.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
        ResultPane* pane = window.findChild<ResultPane*>();
        QTRY_VERIFY_WITH_TIMEOUT(!pane->isBusy(), kQueryTimeoutMs);
        QCOMPARE(pane->toPlainText(), QStringLiteral("没有找到相关记录"));
        QVERIFY(window.close());
    }
    QCOMPARE(QFile::exists(kIni), !iniText.isNull());
    QCOMPARE(fileBytes(kIni), iniText);
}

void tst_QuarrowSettings::dayQueryStoresIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("queryFails");
    QTest::newRow("nothing found, index 2") << 2 << false;
    QTest::newRow("query fails, index 4") << 4 << true;
}

// Stored before the query runs, whatever it finds, and selected in both lists
// on the next start; a later change of the list without a query is not.
void tst_QuarrowSettings::dayQueryStoresIndex()
{
    QFETCH(int, index);
    QFETCH(bool, queryFails);

    Viewer v;
    if (queryFails)
        QVERIFY(v.breakStore());
    v.widget<QComboBox>("comboBox")->setCurrentIndex(index);
    v.click("pushButton");
    QVERIFY(v.queryEnded());
    const QVariant stored = QSettings(QStringLiteral("./Quarrow.ini"), QSettings::IniFormat).value(QStringLiteral("comBoxIndex"));
    QVERIFY(stored.isValid());
    QCOMPARE(stored.toInt(), index);
    QCOMPARE(v.widget<QComboBox>("comboBox_2")->currentIndex(), 0);

    v.widget<QComboBox>("comboBox")->setCurrentIndex(1);
    v.window.reset();
    v.window.reset(new Quarrow);
    QCOMPARE(v.widget<QComboBox>("comboBox")->currentIndex(), index);
    QCOMPARE(v.widget<QComboBox>("comboBox_2")->currentIndex(), index);
}

QTEST_MAIN(tst_QuarrowSettings)
#include "tst_quarrow_settings.moc"
