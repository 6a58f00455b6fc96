#include "Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <utility>

#include "CommandLine.h"
#include "StdoutWriter.h"

using namespace SystemLog;

namespace {

// Lines are handed to the service in parts of about this much queue memory
// (a line costs its text in UTF-16 and about a hundred bytes around it), each
// stored before the next is logged, so that no input overflows the service's
// queue, which holds 64 MiB.
constexpr std::uint64_t kBytesBetweenFlushes = std::uint64_t(16) * 1024 * 1024;
constexpr std::uint64_t kLineOverheadBytes = 100;

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

// The texts to write: the words of the command line as one, or else each
// line of standard input in turn.
class InputTexts
{
public:
    explicit InputTexts(const QStringList& words)
        : m_words(words.join(QLatin1Char(' ')).toUtf8())
        , m_fromWords(!words.isEmpty())
    {
    }

    bool next(QByteArray& text)
    {
        if (m_fromWords) {
            text = m_words;
            return !std::exchange(m_wordsTaken, true);
        }
        if (!std::getline(std::cin, m_line))
            return false;
        text = QByteArray(m_line.data(), static_cast<int>(m_line.size()));
        return true;
    }

private:
    QByteArray m_words;
    bool m_fromWords;
    bool m_wordsTaken = false;
    std::string m_line;
};

QString reasonsOf(const FlushResult& result)
{
    QStringList reasons;
    for (int reason = 0; reason < kDropReasonCount; ++reason)
        if (result.droppedFor[reason] > 0)
            reasons << dropReasonText(DropReason(reason));
    return reasons.join(QStringLiteral("、"));
}

} // namespace

int runWrite(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("write"),
                     QStringLiteral("通过日志服务写入记录，与使用日志模块的程序完全相同（过长的行同样被截断）："
                                    "有 MESSAGE 时把各词用空格连接写成一条记录，否则把标准输入的每一行写成一条记录。"
                                    "所有记录写入数据库后才返回；有记录未能写入时以状态 1 退出。"
                                    "含 NUL 字节的行只写入 NUL 之前的部分，并在最后提示、以状态 1 退出。"
                                    "数据库文件不存在时会被创建。"));
    line.addDatabase();
    line.addSingleType(QStringLiteral("记录类型（一种，代码或名称），默认 4（其他信息）。"));
    line.addPositional(QStringLiteral("MESSAGE"), QStringLiteral("要写入的消息。"), QStringLiteral("[MESSAGE...]"));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;

    int type = 4;
    if (line.isSet(QStringLiteral("type")) && !line.singleType(type))
        return kExitUsage;
    const QFileInfo database(line.databasePath());
    if (!database.absoluteDir().exists()) {
        printError(QStringLiteral("无法写入日志数据库 %1：文件夹不存在").arg(QDir::toNativeSeparators(database.filePath())));
        return kExitFailure;
    }

    InputTexts input(line.positional());
    QByteArray text;
    if (!input.next(text))
        return kExitSuccess;
    vxSysLog::Session log(database.absoluteFilePath());
    std::uint64_t logged = 0;
    std::uint64_t sinceFlush = 0;
    std::uint64_t cutAtNul = 0;
    std::uint64_t firstCutLine = 0;
    do {
        // A log line is a C string: a NUL byte ends it. What comes before is
        // stored, the run ends with status 1 and says which lines were cut.
        const int nul = text.indexOf('\0');
        if (nul >= 0) {
            text.truncate(nul);
            if (cutAtNul++ == 0)
                firstCutLine = logged + 1;
        }
        logLine(type, text);
        ++logged;
        sinceFlush += kLineOverheadBytes + 2 * std::uint64_t(text.size());
        if (sinceFlush >= kBytesBetweenFlushes) {
            log.service()->flush();
            sinceFlush = 0;
        }
    } while (input.next(text));
    const FlushResult result = log.service()->flush();
    if (result.stored < logged) {
        printError(QStringLiteral("无法写入日志数据库 %1：%2 条记录没有写入（%3）")
                       .arg(QDir::toNativeSeparators(database.absoluteFilePath()))
                       .arg(logged - result.stored)
                       .arg(reasonsOf(result)));
        return kExitFailure;
    }
    if (cutAtNul > 0) {
        printError(QStringLiteral("vxlog write：%1 行含 NUL 字节（第一处在第 %2 行），只写入了 NUL 之前的部分；"
                                  "请先去掉或转义输入中的 NUL 字节（如 tr -d '\\000'）")
                       .arg(cutAtNul)
                       .arg(firstCutLine));
        return kExitFailure;
    }
    return kExitSuccess;
}
