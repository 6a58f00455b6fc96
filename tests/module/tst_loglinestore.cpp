#include <QtTest>

#include <string>

#include "StdoutCapture.h"
#include "TempWorkingDir.h"
#include "TestDatabase.h"
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

// A log line travels through the real service: its output function, the
// writer's queue and thread, and the record store, into dbLog.db.

using namespace SystemLog;

using BuildLine = void (*)();
Q_DECLARE_METATYPE(BuildLine)

class tst_LogLineStore : public QObject
{
    Q_OBJECT

private slots:
    void lineBecomesOneRow_data();
    void lineBecomesOneRow();
    void linesOutsideTheServiceStayOutOfTheStore();
};

void tst_LogLineStore::lineBecomesOneRow_data()
{
    QTest::addColumn<BuildLine>("build");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("type with text")
        << BuildLine([] { LogLine(1, "operator login"); }) << 1 << QByteArray("operator login \n");
    QTest::newRow("values streamed")
        << BuildLine([] { LogLine(3, "overheat").stream() << "motor " << 2 << " at " << 81.5; })
        << 3 << QByteArray("overheat motor 2 at 81.5\n");
    QTest::newRow("type outside 0..4") << BuildLine([] { LogLine(9, "x"); }) << 9 << QByteArray("x \n");
    QTest::newRow("UTF-8 text") << BuildLine([] { LogLine(2, "电机过热"); }) << 2 << QByteArray("电机过热 \n");
    static const std::string kFull(3999, 'w');
    QTest::newRow("3999 bytes, no newline")
        << BuildLine([] { LogLine(0).stream() << kFull.c_str(); }) << 0 << QByteArray::fromStdString(kFull);
}

void tst_LogLineStore::lineBecomesOneRow()
{
    QFETCH(BuildLine, build);
    QFETCH(int, type);
    QFETCH(QByteArray, text);

    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    vxSysLog::instance()->init();
    build();
    vxSysLog::release();   // writes everything queued before it returns

    const QVector<StoredRow> rows = TestDatabase(dir.filePath(QStringLiteral("dbLog.db"))).rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].type, type);
    QCOMPARE(rows[0].message, QString::fromUtf8(text));
}

void tst_LogLineStore::linesOutsideTheServiceStayOutOfTheStore()
{
    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    StdoutCapture capture(dir.filePath(QStringLiteral("stdout.txt")));
    LogLine(1, "before");
    vxSysLog::instance()->init();
    LogLine(1, "during");
    vxSysLog::release();
    LogLine(1, "after");
    QCOMPARE(capture.finish(), QByteArray("before \nafter \n"));

    const QVector<StoredRow> rows = TestDatabase(dir.filePath(QStringLiteral("dbLog.db"))).rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].message, QStringLiteral("during \n"));
}

QTEST_MAIN(tst_LogLineStore)
#include "tst_loglinestore.moc"
