#include "Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "StdoutWriter.h"

using namespace SystemLog;

namespace {

const QString kDatabaseName = QStringLiteral("dbLog.db");

// Streams `text` into the line in pieces that fit, cut at UTF-8 character
// boundaries, keeping room for the line's closing newline. A text longer than
// a log line holds is therefore cut at the line's capacity, where a single
// oversized piece would be dropped whole.
void streamBounded(LogStream& stream, const QByteArray& text)
{
    std::string piece;
    int position = 0;
    while (position < text.size()) {
        int room = stream.buffer().available() - 2;
        int length = qMin(room, text.size() - position);
        while (length > 0 && position + length < text.size()
               && (static_cast<unsigned char>(text.at(position + length)) & 0xC0) == 0x80)
            --length;
        if (length <= 0)
            return;
        piece.assign(text.constData() + position, static_cast<size_t>(length));
        stream << piece.c_str();
        position += length;
    }
}

void logLine(int type, const QByteArray& text)
{
    LogLine line(type);
    streamBounded(line.stream(), text);
}

// What the log service will store for each line: the same LogLine, finished
// into a sink that keeps the text instead of queueing it.
QHash<QByteArray, int> expectedRows(int type, const std::vector<QByteArray>& texts)
{
    QHash<QByteArray, int> expected;
    QByteArray finished;
    LogLine::setSink([&finished](int, const char* text, int length) { finished = QByteArray(text, length); });
    for (const QByteArray& text : texts) {
        logLine(type, text);
        ++expected[finished];
    }
    LogLine::setSink(SinkFunc());
    return expected;
}

std::vector<QByteArray> readStandardInput()
{
    std::vector<QByteArray> lines;
    std::string text;
    while (std::getline(std::cin, text))
        lines.emplace_back(text.data(), static_cast<int>(text.size()));
    return lines;
}

// Counts the expected rows that reached the database (rows above `before`).
bool missingRows(LogReader& reader, qint64 before, int type, QHash<QByteArray, int> expected, qint64& missing)
{
    RecordFilter filter;
    filter.types = {type};
    filter.afterId = before;
    filter.order = RecordFilter::Order::Arrival;
    const bool ok = reader.read(filter, [&expected](const LogRecord& record) {
        auto it = expected.find(record.message);
        if (it != expected.end() && --it.value() == 0)
            expected.erase(it);
        return !expected.isEmpty();
    });
    missing = 0;
    for (int count : expected)
        missing += count;
    return ok;
}

} // namespace

int runWrite(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("write"),
                     QStringLiteral("通过日志服务写入记录，与使用日志模块的程序完全相同（过长的行同样被截断）："
                                    "有 MESSAGE 时把各词用空格连接写成一条记录，否则把标准输入的每一行写成一条记录。"
                                    "所有记录写入数据库后才返回；有记录未能写入时以状态 1 退出。"
                                    "数据库文件不存在时会被创建（文件名必须是 dbLog.db）。"));
    line.addDatabase();
    line.addSingleType(QStringLiteral("记录类型（一种，代码或名称），默认 4（其他信息）。"));
    line.addPositional(QStringLiteral("MESSAGE"), QStringLiteral("要写入的消息。"), QStringLiteral("[MESSAGE...]"));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;

    int type = 4;
    if (line.isSet(QStringLiteral("type")) && !line.singleType(type))
        return kExitUsage;
    // The log service always writes "dbLog.db" in the working directory.
    const QFileInfo database(line.databasePath());
    if (database.fileName() != kDatabaseName)
        return line.usageError(QStringLiteral("日志服务只写名为 dbLog.db 的文件，而不是“%1”").arg(database.fileName()));
    if (!database.absoluteDir().exists()) {
        printError(QStringLiteral("无法写入日志数据库 %1：文件夹不存在").arg(QDir::toNativeSeparators(database.filePath())));
        return kExitFailure;
    }

    std::vector<QByteArray> texts;
    if (line.positional().isEmpty())
        texts = readStandardInput();
    else
        texts.push_back(line.positional().join(QLatin1Char(' ')).toUtf8());
    if (texts.empty())
        return kExitSuccess;

    qint64 before = 0;
    if (database.exists()) {
        LogReader existing(database.absoluteFilePath());
        if (!existing.open() || !existing.lastId(before)) {
            printError(existing.errorText());
            return kExitFailure;
        }
    }
    const QHash<QByteArray, int> expected = expectedRows(type, texts);

    if (!QDir::setCurrent(database.absolutePath())) {
        printError(QStringLiteral("无法进入文件夹 %1").arg(QDir::toNativeSeparators(database.absolutePath())));
        return kExitFailure;
    }
    vxSysLog::instance()->init();
    for (const QByteArray& text : texts)
        logLine(type, text);
    // Writes everything still queued before it returns.
    vxSysLog::release();

    LogReader reader(kDatabaseName);
    qint64 missing = 0;
    if (!reader.open() || !missingRows(reader, before, type, expected, missing)) {
        printError(reader.errorText());
        return kExitFailure;
    }
    if (missing > 0) {
        printError(QStringLiteral("无法写入日志数据库 %1：%2 条记录没有写入（数据库被锁定、已满或不可写）")
                       .arg(QDir::toNativeSeparators(database.absoluteFilePath()))
                       .arg(missing));
        return kExitFailure;
    }
    return kExitSuccess;
}
