#include "ForwardOptions.h"

#include <QCommandLineOption>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

#include <limits>

#include "CommandLine.h"
#include "StdoutWriter.h"
#include "TimeArgument.h"

using SystemLog::SyslogFormatter;

namespace {

constexpr int kDefaultPort = 514;  // omrelp's default

QString forwardDescription()
{
    return QStringLiteral(
               "把日志记录转发到 syslog 服务器（如 rsyslog 的 imrelp）：按记录编号的顺序，每条记录作为一条 RFC 5424 "
               "消息经 RELP 发出，接收端确认后才算送达；随后持续转发新写入的记录，直到按 Ctrl-C（SIGINT）或收到 "
               "SIGTERM：那时发完手头的一批、等接收端确认、写好游标文件，以状态 0 退出。\n\n"
               "消息：<PRI>1 时间 主机名 quarrow - 类型名 [vxlog@32473 id=\"记录编号\" type=\"类型代码\"] 消息。"
               "时间是记录的本地时间加本机当时的 UTC 偏移；消息末尾的换行去掉，UTF-8 消息前加 BOM。"
               "严重级别按记录类型：报警记录 err，参数修改记录 notice，用户使用记录与系统状态记录 info，"
               "其他信息及其他类型 notice。类型名依次为 param、user、status、alarm、info（其他类型为 typeN）。\n\n"
               "至少送达一次：--cursor-file 记着最后送达的记录编号，重新启动后从它之后继续。接收端不可达时按加倍的间隔"
               "（至多 30 秒）重试，不跳过任何记录，每次中断只提示一次；接收端接受会话却不确认记录就断开的，"
               "同样按加倍的间隔重试，直到它确认了一个窗口的记录。RELP 窗口为 %1 条：接收端重启后至多重发 %1 条，"
               "进程被杀（或断电）后至多重发这 %1 条和被杀前 0.25 秒内确认的记录。没有游标文件时从 --since 的时间开始，否则只转发此后写入的记录（同 follow -n 0）。\n\n"
               "不加 --tls 时，记录以明文在网络上传输，网络上的任何人都能读到。加 --tls 时双方以证书互相验证"
               "（rsyslog 的 imrelp 设 tls=\"on\"）；证书未通过验证时不发送任何记录，以状态 1 退出。")
        .arg(RelpClient::kWindow);
}

void addOptions(CommandLine& line)
{
    line.addOption(QCommandLineOption(QStringLiteral("to"),
                                        QStringLiteral("接收端地址 relp://主机:端口（主机可以是名称、IPv4 地址或方括号中的 IPv6 "
                                                       "地址，如 relp://[::1]:2514；端口默认 %1）。必须给出。").arg(kDefaultPort),
                                        QStringLiteral("地址")));
    line.addOption(QCommandLineOption({QStringLiteral("S"), QStringLiteral("since")},
                                        QStringLiteral("只转发这个时间及以后的记录；没有游标文件时也从这里开始。写法同 query 的 --since。"),
                                        QStringLiteral("时间")));
    line.addOption(QCommandLineOption(QStringLiteral("cursor-file"),
                                        QStringLiteral("游标文件：记着最后送达的记录编号及它属于哪个日志；转发时每秒至多四次、日志无新记录时和退出时"
                                                       "原子地（先写新文件、同步到磁盘再改名）更新；启动时从它之后继续。不存在时新建；"
                                                       "属于另一个日志（日志被替换过）时提示一次，从该日志的第一条记录（或 --since）开始。"),
                                        QStringLiteral("文件")));
    line.addOption(QCommandLineOption(QStringLiteral("facility"),
                                        QStringLiteral("syslog 设施：local0（默认）至 local7、user、daemon 等名称，或 0 至 23。"),
                                        QStringLiteral("设施"), QStringLiteral("local0")));
    line.addOption(QCommandLineOption(QStringLiteral("hostname"),
                                        QStringLiteral("消息中的主机名，默认本机的名称。"), QStringLiteral("名称")));
    line.addOption(QCommandLineOption(QStringLiteral("max-message-size"),
                                        QStringLiteral("每条消息至多这么多字节，默认 %1（rsyslog 的 imrelp 不设 maxDataSize 时接收的上限）。"
                                                       "更长的记录截短后发送，在 UTF-8 字符之间截断，末尾加“…[截断，原长 N 字节]”，"
                                                       "并提示一次。接收端调大 maxDataSize 后把这里设成同样的值，长记录便完整送达。"
                                                       "至少 %2。")
                                            .arg(SyslogFormatter::kReceiverDefaultMaxSize)
                                            .arg(SyslogFormatter::kSmallestMaxSize),
                                        QStringLiteral("字节数"), QString::number(SyslogFormatter::kReceiverDefaultMaxSize)));
    line.addOption(QCommandLineOption(QStringLiteral("tls"), QStringLiteral("用 TLS 加密连接并验证双方证书。")));
    line.addOption(QCommandLineOption(QStringLiteral("ca"),
                                        QStringLiteral("与 --tls 同用：签发接收端证书的 CA 证书（PEM 文件），必须给出。"),
                                        QStringLiteral("文件")));
    line.addOption(QCommandLineOption(QStringLiteral("cert"),
                                        QStringLiteral("与 --tls 同用：本机的证书（PEM 文件），与 --key 一起给出。"),
                                        QStringLiteral("文件")));
    line.addOption(QCommandLineOption(QStringLiteral("key"),
                                        QStringLiteral("与 --tls 同用：本机证书的私钥（PEM 文件）。"), QStringLiteral("文件")));
    line.addOption(QCommandLineOption(QStringLiteral("peer"),
                                        QStringLiteral("与 --tls 同用：接收端证书中应有的名称（可用 *.example.com），或其指纹 "
                                                       "SHA256:AB:CD:…（SHA1: 亦可）；可多次给出。默认为 --to 中的主机。"),
                                        QStringLiteral("名称或指纹")));
}

bool parseReceiver(const CommandLine& line, ForwardOptions& options)
{
    const QString text = line.value(QStringLiteral("to"));
    if (text.isEmpty()) {
        line.usageError(QStringLiteral("需要 --to relp://主机:端口"));
        return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    const bool plain = url.userInfo().isEmpty() && (url.path().isEmpty() || url.path() == QLatin1String("/"))
                       && !url.hasQuery() && !url.hasFragment();
    const int port = url.port(kDefaultPort);
    if (!url.isValid() || url.scheme() != QLatin1String("relp") || url.host().isEmpty() || !plain || port <= 0) {
        line.usageError(QStringLiteral("--to 需要 relp://主机:端口 形式的地址（IPv6 地址写在方括号中），而不是“%1”").arg(text));
        return false;
    }
    options.receiver.host = url.host(QUrl::EncodeUnicode);
    options.receiver.port = static_cast<quint16>(port);
    options.receiverName = QStringLiteral("relp://%1:%2").arg(url.host().contains(QLatin1Char(':'))
                                                                 ? QStringLiteral("[%1]").arg(url.host()) : url.host())
                               .arg(port);
    return true;
}

// "SHA256:AB:CD:…" as librelp compares it; a null text for anything else.
QString fingerprint(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral("^(?:(sha1|sha256):)?((?:[0-9a-f]{2}:)+[0-9a-f]{2})$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return QString();
    const QString hex = match.captured(2).toUpper();
    const int bytes = (hex.size() + 1) / 3;
    QString algorithm = match.captured(1).toUpper();
    if (algorithm.isEmpty())
        algorithm = bytes == 20 ? QStringLiteral("SHA1") : bytes == 32 ? QStringLiteral("SHA256") : QString();
    if ((algorithm == QLatin1String("SHA1") && bytes != 20) || (algorithm == QLatin1String("SHA256") && bytes != 32)
        || algorithm.isEmpty())
        return QString();
    return algorithm + QLatin1Char(':') + hex;
}

bool parsePeers(CommandLine& line, ForwardOptions& options)
{
    int fingerprints = 0;
    for (const QString& peer : line.values(QStringLiteral("peer"))) {
        const QString asFingerprint = fingerprint(peer);
        if (!asFingerprint.isNull()) {
            ++fingerprints;
            options.receiver.peers << asFingerprint;
        } else if (peer.contains(QLatin1Char(':')) || peer.trimmed().isEmpty()) {
            line.usageError(QStringLiteral("--peer “%1”既不是名称，也不是 SHA1 或 SHA256 指纹").arg(peer));
            return false;
        } else {
            options.receiver.peers << peer.trimmed();
        }
    }
    if (fingerprints > 0 && fingerprints < options.receiver.peers.size()) {
        line.usageError(QStringLiteral("--peer 不能同时给出名称和指纹"));
        return false;
    }
    options.receiver.peersAreFingerprints = fingerprints > 0;
    // The host of --to as written there, an IPv6 address without its
    // brackets: a name the receiver's certificate must carry (subjectAltName
    // DNS:… with that text).
    if (options.receiver.peers.isEmpty())
        options.receiver.peers << options.receiver.host;
    return true;
}

// -1 to go on, or the status to exit with.
int parseTls(CommandLine& line, ForwardOptions& options)
{
    const QStringList tlsOnly{QStringLiteral("ca"), QStringLiteral("cert"), QStringLiteral("key"), QStringLiteral("peer")};
    options.receiver.tls = line.isSet(QStringLiteral("tls"));
    if (!options.receiver.tls) {
        for (const QString& name : tlsOnly) {
            if (line.isSet(name))
                return line.usageError(QStringLiteral("--%1 只能与 --tls 同用").arg(name));
        }
        return -1;
    }
    if (!line.isSet(QStringLiteral("ca")))
        return line.usageError(QStringLiteral("--tls 需要 --ca（签发接收端证书的 CA）"));
    if (line.isSet(QStringLiteral("cert")) != line.isSet(QStringLiteral("key")))
        return line.usageError(QStringLiteral("--cert 与 --key 要一起给出"));
    options.receiver.caFile = line.value(QStringLiteral("ca"));
    options.receiver.certFile = line.value(QStringLiteral("cert"));
    options.receiver.keyFile = line.value(QStringLiteral("key"));
    if (!parsePeers(line, options))
        return kExitUsage;
    for (const QString& name : {QStringLiteral("ca"), QStringLiteral("cert"), QStringLiteral("key")}) {
        const QFileInfo file(line.value(name));
        if (line.isSet(name) && !(file.isFile() && file.isReadable())) {
            printError(QStringLiteral("vxlog forward：无法读取 --%1 的文件 %2").arg(name, file.filePath()));
            return kExitFailure;
        }
    }
    return -1;
}

bool parseHeader(const CommandLine& line, ForwardOptions& options)
{
    options.format.facility = SyslogFormatter::facilityOfName(line.value(QStringLiteral("facility")));
    if (options.format.facility < 0) {
        line.usageError(QStringLiteral("未知的 syslog 设施“%1”，可用 local0 至 local7、kern、user、mail、daemon、auth、syslog、"
                                       "lpr、news、uucp、cron、authpriv、ftp，或 0 至 23")
                            .arg(line.value(QStringLiteral("facility"))));
        return false;
    }
    if (line.isSet(QStringLiteral("hostname"))) {
        options.format.hostname = line.value(QStringLiteral("hostname")).toUtf8();
        if (!SyslogFormatter::isHeaderField(options.format.hostname, 255)) {
            line.usageError(QStringLiteral("--hostname 只能由 1 至 255 个可打印的 ASCII 字符组成，不含空格"));
            return false;
        }
        return true;
    }
    const QByteArray machine = QUrl::toAce(QSysInfo::machineHostName());
    options.format.hostname = SyslogFormatter::isHeaderField(machine, 255) ? machine : QByteArray();
    return true;
}

bool parseMaxMessageSize(const CommandLine& line, ForwardOptions& options)
{
    const QString text = line.value(QStringLiteral("max-message-size"));
    bool isNumber = false;
    const qint64 size = text.toLongLong(&isNumber);
    if (!isNumber || size < SyslogFormatter::kSmallestMaxSize || size > std::numeric_limits<int>::max()
        || !text.at(0).isDigit()) {
        line.usageError(QStringLiteral("--max-message-size 需要 %1 至 %2 之间的字节数，而不是“%3”")
                            .arg(SyslogFormatter::kSmallestMaxSize)
                            .arg(std::numeric_limits<int>::max())
                            .arg(text));
        return false;
    }
    options.format.maxSize = static_cast<int>(size);
    return true;
}

bool parseSince(const CommandLine& line, ForwardOptions& options)
{
    options.sinceGiven = line.isSet(QStringLiteral("since"));
    if (!options.sinceGiven)
        return true;
    options.filter.since = timeArgument(line.value(QStringLiteral("since")), QDateTime::currentDateTime());
    if (options.filter.since.isNull()) {
        line.usageError(QStringLiteral("--since 无法识别的时间“%1”").arg(line.value(QStringLiteral("since"))));
        return false;
    }
    return true;
}

} // namespace

int parseForwardOptions(const QStringList& arguments, ForwardOptions& options)
{
    CommandLine line(QStringLiteral("forward"), forwardDescription());
    line.addDatabase();
    line.addTypes();
    line.addGrep();
    addOptions(line);
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    if (!line.filter(options.filter) || !parseSince(line, options) || !line.noExtraArguments()
        || !parseReceiver(line, options) || !parseHeader(line, options) || !parseMaxMessageSize(line, options))
        return kExitUsage;
    options.databasePath = line.databasePath();
    options.cursorPath = line.value(QStringLiteral("cursor-file"));
    options.quiet = line.isSet(QStringLiteral("quiet"));
    return parseTls(line, options);
}
