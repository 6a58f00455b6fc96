// The window on the fleet's central PostgreSQL (a server of the test's own):
// the machine list, a day and a range of every machine or of one, find, the
// day export of one machine byte for byte its own file's, and a server that
// goes away named in the pane.
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTextCodec>
#include <QtTest>

#include <vxSyslog/DayExport.h>
#include <vxSyslog/LogReader.h>

#include "BuiltPath.h"
#include "MachineChooser.h"
#include "PostgresServer.h"
#include "QuarrowTestSupport.h"
#include "TypeChooser.h"

using namespace QuarrowTest;

namespace {

const QList<Row> kPlc7 = {{"2024-05-01 08:00:00", 3, "主轴温度过高"}, {"2024-05-01 09:00:00", 2, "motor ok\n"}};
const QList<Row> kPlc8 = {{"2024-05-01 08:00:00", 3, "Motor 过载"},
                          {"2024-05-01 08:30:00", 0, "进给 80%"},
                          {"2024-05-02 07:00:00", 3, "次日"}};

} // namespace

class tst_QuarrowFleet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fleetInTheWindow_data();
    void fleetInTheWindow();
    void todayIsFollowed_data();
    void todayIsFollowed();
    void aLostServerIsNamedInThePane();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PostgresServer> m_server;
    QString m_url;
};

// Both machines' records in the central table and each in a file of its
// own, with the same ids.
void tst_QuarrowFleet::initTestCase()
{
    m_server = std::make_unique<PostgresServer>(m_dir.path());
    QString why;
    if (!m_server->start(why))
        QSKIP(qPrintable(QStringLiteral("PostgreSQL cannot start here: ") + why));
    QVERIFY2(m_server->psql(QStringLiteral("postgres"), {"-c", "CREATE DATABASE fleet TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C'"}, why),
             qPrintable(why));
    QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-f", vxtest::built(VX_SOURCE_DIR "/docs/fleet_log.sql")}, why), qPrintable(why));
    for (const auto& machine : {qMakePair(QStringLiteral("plc-7"), kPlc7), qMakePair(QStringLiteral("plc-8"), kPlc8)}) {
        QVERIFY(makeLog(m_dir.filePath(machine.first + ".db"), machine.second));
        QStringList values;
        for (int i = 0; i < machine.second.size(); ++i) {
            const Row& row = machine.second[i];
            values << QStringLiteral("('%1', %2, '%3', %4, $m$%5$m$)")
                          .arg(machine.first).arg(i + 1).arg(row.datetime).arg(row.type).arg(row.message);
        }
        QVERIFY2(m_server->psql(QStringLiteral("fleet"),
                                {"-c", "INSERT INTO fleet_log(host, id, datetime, type, message) VALUES " + values.join(',')}, why),
                 qPrintable(why));
    }
    m_url = m_server->url(QStringLiteral("fleet"));
}

void tst_QuarrowFleet::fleetInTheWindow_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<bool>("range");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("lineStart");
    const QString url = QStringLiteral("postgresql://fleet@127.0.0.1");
    QTest::newRow("a day of every machine")
        << QStringList() << false
        << QStringLiteral("2024-05-01 08:00:00 plc-7 [报警记录]:\n主轴温度过高\n"
                          "2024-05-01 08:00:00 plc-8 [报警记录]:\nMotor 过载\n"
                          "2024-05-01 08:30:00 plc-8 [参数修改记录]:\n进给 80%\n"
                          "2024-05-01 09:00:00 plc-7 [系统状态记录]:\nmotor ok\n")
        << QStringLiteral(" · 全部机器 · 全部类型 · 2024-05-01 · 共 4 条");
    QTest::newRow("a range of one machine, as its own log")
        << QStringList{"plc-8"} << true
        << QStringLiteral("2024-05-01 08:00:00 [报警记录]:\nMotor 过载\n2024-05-01 08:30:00 [参数修改记录]:\n进给 80%\n"
                          "2024-05-02 07:00:00 [报警记录]:\n次日")
        << QStringLiteral(" · plc-8 · 全部类型 · 2024-05-01 00:00:00 至 2024-05-02 23:59:59 · 共 3 条");
}

void tst_QuarrowFleet::fleetInTheWindow()
{
    QFETCH(QStringList, chosen);
    QFETCH(bool, range);
    QFETCH(QString, listed);
    QFETCH(QString, lineStart);
    Viewer v;
    v.window->openLogs({m_url});
    QVERIFY(v.queryEnded());
    QCOMPARE(v.window->machineChooser()->machines(), (QStringList{"plc-7", "plc-8"}));
    v.window->machineChooser()->setChosen(chosen);
    if (range)
        QVERIFY(v.queryRange(at("2024-05-01 00:00:00"), at("2024-05-02 23:59:59"), TypeChooser::kAllTypesIndex));
    else
        QVERIFY(v.queryDay(kDay, TypeChooser::kAllTypesIndex));
    QCOMPARE(v.pane()->toPlainText(), listed);
    const QString line = v.widget<QLabel>("listingLabel")->text();
    QVERIFY2(line.startsWith(m_url + lineStart), qPrintable(line));

    QSignalSpy found(v.pane(), &ResultPane::findEnded);
    v.pane()->find(QStringLiteral("过载"));
    QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, kQueryTimeoutMs);
    QCOMPARE(v.pane()->selectedText(), QStringLiteral("过载"));

    const QByteArray exported = exportEveryTypeOf(v, kDay, v.dir.filePath(QStringLiteral("fleet-export")));
    QVERIFY(!exported.isEmpty());
    if (chosen.size() == 1) {
        Viewer own;
        own.window->openLogFile(m_dir.filePath(chosen.first() + ".db"));
        QVERIFY(own.queryEnded());
        QCOMPARE(exported, exportEveryTypeOf(own, kDay, own.dir.filePath(QStringLiteral("own-export"))));
    }
}

void tst_QuarrowFleet::todayIsFollowed_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QString>("listed"); // %1: today
    QTest::newRow("every machine") << QStringList()
                                   << QStringLiteral("%1 00:00:01 plc-7:\n今天\n%1 00:00:02 plc-8:\n后来的\n%1 00:00:03 plc-7:\n也来了");
    QTest::newRow("one machine") << QStringList{"plc-8"} << QStringLiteral("%1 00:00:02:\n后来的");
}

// Today's alarms of the fleet, listed live: what the receiver stores later
// appears once, in the order it came.
void tst_QuarrowFleet::todayIsFollowed()
{
    QFETCH(QStringList, chosen);
    QFETCH(QString, listed);
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    QString why;
    auto store = [&](const char* host, int id, int second, const char* message) {
        return m_server->psql(QStringLiteral("fleet"),
                              {"-c", QStringLiteral("INSERT INTO fleet_log(host, id, datetime, type, message) "
                                                    "VALUES ('%1', %2, '%3 00:00:%4', 3, '%5')")
                                         .arg(QLatin1String(host)).arg(id).arg(today).arg(second, 2, 10, QLatin1Char('0'))
                                         .arg(QString::fromUtf8(message))},
                              why);
    };
    QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-c", "DELETE FROM fleet_log WHERE id > 3"}, why), qPrintable(why));
    QVERIFY2(store("plc-7", 10, 1, "今天"), qPrintable(why));
    Viewer v;
    v.window->openLogs({m_url});
    QVERIFY(v.queryEnded());
    v.window->machineChooser()->setChosen(chosen);
    QVERIFY(v.queryDay(QDate::currentDate(), 3));
    QVERIFY(v.pane()->isLive());
    QVERIFY2(store("plc-8", 10, 2, "后来的"), qPrintable(why));
    QVERIFY2(store("plc-7", 11, 3, "也来了"), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(v.pane()->toPlainText(), listed.arg(today), kQueryTimeoutMs);
}

// Runs last: the server goes for good.
void tst_QuarrowFleet::aLostServerIsNamedInThePane()
{
    Viewer v;
    v.window->openLogs({m_url});
    QVERIFY(v.queryEnded());
    m_server->stop(true);
    QVERIFY(v.queryDay(kDay, TypeChooser::kAllTypesIndex));
    QVERIFY2(v.pane()->toPlainText().startsWith(QStringLiteral("查询失败")), qPrintable(v.pane()->toPlainText()));
    QVERIFY2(v.pane()->toPlainText().contains(QStringLiteral("连接")), qPrintable(v.pane()->toPlainText()));
    QVERIFY(v.widget<QLabel>("listingLabel")->text().endsWith(QStringLiteral("查询失败")));
}

QTEST_MAIN(tst_QuarrowFleet)
#include "tst_quarrow_fleet.moc"
