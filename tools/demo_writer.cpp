// Fills ./dbLog.db with a realistic history for trying the viewer:
// - today: COUNT records of all five types, written the way the machine's
//   programs log (LogLine statements routed by the log service into its
//   writer thread), so every row is stamped now;
// - the seven days before, and today's hours before now: a few hundred
//   records a day at spread-out times of day, written directly into
//   SystemInfo with those time stamps, so the range page, earlier days and
//   the result pane's strip show something too.
// Exits 1 with a Chinese message when any line could not be stored, 2
// (writing nothing) for an option or a count it does not know.
//
//   quarrow_demo_writer [COUNT]     (default 300)
//   quarrow_demo_writer --help
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

using SystemLog::LogLine;
using SystemLog::vxSysLog;

namespace {

const QString kDatabase = QStringLiteral("dbLog.db");
const QString kConnection = QStringLiteral("demo_history");
const QString kStampFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// The message of the i-th sample of a type, as the machine would word it.
QString sampleText(int type, int i)
{
    switch (type) {
    case 0:
        return QStringLiteral("参数修改：主轴转速由 %1 改为 %2 转/分").arg(1200 + 10 * i).arg(1250 + 10 * i);
    case 1:
        return i % 2 ? QStringLiteral("用户 operator%1 登录").arg(i % 7)
                     : QStringLiteral("用户 operator%1 打开加工程序 P%2").arg(i % 7).arg(1000 + i);
    case 2:
        return QStringLiteral("系统状态：CPU 占用 %1%，内存占用 %2%").arg(20 + i % 50).arg(40 + i % 30);
    case 3:
        return QStringLiteral("报警：%1 轴伺服过载，报警号 %2").arg(i % 2 ? "X" : "Z").arg(4000 + i % 17);
    default:
        return QStringLiteral("其他信息：自动备份完成，共 %1 个文件").arg(10 + i);
    }
}

void fail(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// Today's records through the log service; false if the service dropped any.
bool logToday(int count)
{
    vxSysLog::instance()->init();
    for (int i = 0; i < count; ++i) {
        LogLine line(i % 5);
        const QByteArray text = sampleText(i % 5, i / 5).toUtf8();
        line.stream() << text.constData();
        if (i % 50 == 49)
            QThread::msleep(300); // spread the rows over a few seconds
    }
    const std::uint64_t dropped = vxSysLog::instance()->droppedCount();
    // Stops the writer, which writes everything still queued first.
    vxSysLog::release();
    if (dropped > 0) {
        fail(QStringLiteral("日志服务未能写入 %1 条记录（./dbLog.db 无法写入）").arg(dropped));
        return false;
    }
    return true;
}

// A working day's times: most records between 06:00 and 22:00, sorted.
std::vector<QTime> spreadTimes(QRandomGenerator& random, int count)
{
    std::vector<QTime> times;
    for (int i = 0; i < count; ++i) {
        const bool night = random.bounded(10) == 0;
        const int second = night ? random.bounded(86400) : 6 * 3600 + random.bounded(16 * 3600);
        times.push_back(QTime(0, 0).addSecs(second));
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Mostly status and user records, fewer alarms and parameter changes.
int weightedType(QRandomGenerator& random)
{
    static const int kWeights[] = {1, 3, 4, 2, 1};
    int pick = random.bounded(11);
    for (int type = 0; type < 5; ++type) {
        if (pick < kWeights[type])
            return type;
        pick -= kWeights[type];
    }
    return 4;
}

// The day's records stamped before `until` (the end of the day: all of them).
bool insertHistoryDay(QSqlQuery& insert, QRandomGenerator& random, const QDate& day, const QTime& until = QTime())
{
    int sample = 0;
    for (const QTime& time : spreadTimes(random, 200 + random.bounded(200))) {
        if (until.isValid() && time >= until)
            break;
        const int type = weightedType(random);
        insert.addBindValue(QDateTime(day, time).toString(kStampFormat));
        insert.addBindValue(type);
        // Stored as the service stores a line: the text and a line feed.
        insert.addBindValue(sampleText(type, sample++) + QLatin1Char('\n'));
        if (!insert.exec())
            return false;
    }
    return true;
}

// The tool's own connection to ./dbLog.db, beside the service's.
QSqlDatabase demoConnection()
{
    if (QSqlDatabase::contains(kConnection))
        return QSqlDatabase::database(kConnection, false);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(kDatabase);
    return db;
}

// The seven days before today and today until a minute ago, in one transaction.
bool writeHistory()
{
    QSqlDatabase db = demoConnection();
    QSqlError error;
    if (db.open() && db.transaction()) {
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)"));
        QRandomGenerator random(20261208);
        const QDate today = QDate::currentDate();
        bool written = true;
        for (int back = 7; back >= 1 && written; --back)
            written = insertHistoryDay(insert, random, today.addDays(-back));
        const QTime minuteAgo = QTime::currentTime().addSecs(-60);
        if (written && minuteAgo < QTime::currentTime())
            written = insertHistoryDay(insert, random, today, minuteAgo);
        error = written ? QSqlError() : insert.lastError();
        if (written && !db.commit())
            error = db.lastError();
        else if (!written)
            db.rollback();
    } else {
        error = db.lastError();
    }
    db.close();
    if (error.isValid()) {
        fail(QStringLiteral("前七天的示例记录未能写入：%1").arg(SystemLog::describeFailure(error)));
        return false;
    }
    return true;
}

// Today's rows as the store holds them afterwards, or -1 if it cannot be read.
int storedToday()
{
    QSqlDatabase db = demoConnection();
    if (!db.open())
        return -1;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM SystemInfo WHERE datetime >= ?"));
    query.addBindValue(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    const int rows = query.exec() && query.next() ? query.value(0).toInt() : -1;
    db.close();
    return rows;
}

// The count of today's records to log, or -1 after a usage error was
// said; 0 with `helpShown` after --help.
int countFromArguments(const QCoreApplication& app, bool& helpShown)
{
    QCommandLineParser arguments;
    arguments.setApplicationDescription(
        QStringLiteral("在当前文件夹的 dbLog.db 中写入示例记录，供试用系统日志查询工具：今天的 COUNT 条记录"
                       "（经日志服务写入，时间为现在），以及今天此前各小时和前七天每天几百条记录。"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示这段帮助并退出，不写入任何记录。"));
    arguments.addOption(help);
    arguments.addPositionalArgument(QStringLiteral("COUNT"), QStringLiteral("今天要写入的记录条数（默认 300）。"),
                                    QStringLiteral("[COUNT]"));
    helpShown = false;
    if (!arguments.parse(app.arguments())) {
        QStringList unknown;
        for (const QString& name : arguments.unknownOptionNames())
            unknown << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        const QString what = unknown.isEmpty() ? arguments.errorText() : QStringLiteral("未知的选项：%1").arg(unknown.join(QStringLiteral("、")));
        fail(QStringLiteral("%1\n用法：quarrow_demo_writer [COUNT]，详见 --help").arg(what));
        return -1;
    }
    if (arguments.isSet(help)) {
        std::printf("%s", arguments.helpText().toLocal8Bit().constData());
        helpShown = true;
        return 0;
    }
    const QStringList rest = arguments.positionalArguments();
    if (rest.isEmpty())
        return 300;
    bool ok = false;
    const int count = rest.first().toInt(&ok);
    if (rest.size() > 1 || !ok || count < 0) {
        fail(QStringLiteral("无法识别的参数“%1”\n用法：quarrow_demo_writer [COUNT]，COUNT 为非负整数，详见 --help")
                 .arg(rest.join(QLatin1Char(' '))));
        return -1;
    }
    return count;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    bool helpShown = false;
    const int count = countFromArguments(app, helpShown);
    if (helpShown)
        return 0;
    if (count < 0)
        return 2;
    if (!logToday(count))
        return 1;
    const int today = storedToday();
    if (today < count) {
        fail(QStringLiteral("今天的 %1 条示例记录只存入了 %2 条（./dbLog.db 无法写入）").arg(count).arg(std::max(today, 0)));
        return 1;
    }
    if (!writeHistory())
        return 1;
    std::printf("%s\n", QStringLiteral("已写入今天的 %1 条示例记录和前七天的记录：./dbLog.db").arg(count).toLocal8Bit().constData());
    return 0;
}
