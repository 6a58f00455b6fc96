#include "Forwarder.h"

#include <QDir>

#include <algorithm>
#include <chrono>

#include <vxSyslog/LogTail.h>

#include "CommandLine.h"
#include "CursorFile.h"
#include "RelpClient.h"
#include "StdoutWriter.h"
#include "StopSignals.h"

using SystemLog::LogRecord;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr int kQuietPollsBeforeConfirm = 5;
// A synced cursor costs a rename and an fdatasync on the cursor's disk: made
// durable a few times a second while records flow, and whenever the log is
// quiet, not per window (that cost two thirds of the rate on ext4).
constexpr qint64 kCursorSyncIntervalMs = 250;
// Every session costs a TLS handshake, and librelp keeps a few bytes of each
// TLS client for good: a session is closed to confirm its tail at most once
// a minute.
constexpr qint64 kShortestConfirmedSessionMs = 60000;
constexpr auto kFirstRetry = std::chrono::milliseconds(500);
constexpr auto kLongestRetry = std::chrono::milliseconds(30000);
// A receiver that ends the TLS session this many times in a row refuses it.
constexpr int kTlsBreaksToGiveUp = 3;

} // namespace

Forwarder::Forwarder(SystemLog::LogTail& tail, RelpClient& client, const SystemLog::SyslogFormatter::Options& format,
                     const QString& receiverName, CursorFile* cursor)
    : m_tail(tail)
    , m_client(client)
    , m_formatter(format)
    , m_maxMessageSize(format.maxSize)
    , m_receiverName(receiverName)
    , m_cursor(cursor)
    , m_retryWait(kFirstRetry)
{
    m_batch.reserve(RelpClient::kWindow);
}

void Forwarder::report(const QString& text)
{
    printError(QStringLiteral("vxlog forward：%1").arg(text));
}

void Forwarder::notice(const QString& text)
{
    if (!m_quiet)
        report(text);
}

int Forwarder::run(qint64 start)
{
    m_delivered = start;
    m_stored = start;
    m_tail.seekAfter(start);
    // Connected before anything is read, so that a receiver or certificate
    // that will not do is reported at once, also with nothing to send.
    Connect connected = connect();
    while (connected == Connect::Open && !stopRequested()) {
        readBatch();
        if (m_batch.empty()) {
            idle();
            continue;
        }
        m_quietPolls = 0;
        if (!m_client.isOpen() && (connected = connect()) != Connect::Open)
            break;
        if (!sendBatch())
            sessionFailed();
        else if (!m_lastStore.isValid() || m_lastStore.elapsed() >= kCursorSyncIntervalMs)
            storeCursor();
    }
    return finish(connected == Connect::Failed ? kExitFailure : kExitSuccess);
}

Forwarder::Connect Forwarder::connect()
{
    int tlsBreaks = 0;
    int closedAtOpen = 0;
    while (!stopRequested()) {
        // A session that opens and then fails has not ended the outage: only
        // acknowledged records do (acknowledged()), so a receiver that accepts
        // sessions and drops them is retried no faster than one that refuses.
        if (m_retryDue) {
            sleepUnlessStopped(m_retryWait);
            m_retryWait = std::min(m_retryWait * 2, kLongestRetry);
            if (stopRequested())
                break;
        }
        m_retryDue = true;
        const RelpClient::Connection connection = m_client.open();
        if (connection == RelpClient::Connection::Open) {
            m_session.start();
            m_acknowledgedInSession = 0;
            return Connect::Open;
        }
        if (connection == RelpClient::Connection::Rejected) {
            report(QStringLiteral("与 %1 的 TLS 连接未通过验证，没有发送任何记录：请检查接收端的证书与本机的 --ca、--cert、--key、"
                                  "--peer。%2")
                       .arg(m_receiverName, m_client.errorText()));
            return Connect::Failed;
        }
        if (connection == RelpClient::Connection::NoTlsThere) {
            report(QStringLiteral("接收端不支持 TLS：%1 以明文 RELP 应答了 TLS 握手（它的 imrelp 没有设 tls=\"on\"），"
                                  "没有发送任何记录。请在接收端开启 TLS，或连接它的 TLS 端口。%2")
                       .arg(m_receiverName, m_client.errorText()));
            return Connect::Failed;
        }
        const bool tlsBroken = connection == RelpClient::Connection::TlsBroken;
        tlsBreaks = tlsBroken ? tlsBreaks + 1 : 0;
        if (tlsBreaks >= kTlsBreaksToGiveUp) {
            report(QStringLiteral("%1 连续 %2 次在建立 TLS 会话时断开连接，没有发送任何记录：它多半不接受本机的证书"
                                  "（--cert 不是它信任的 CA 签发的，或名称不在它的 tls.permittedpeer 中）。%3")
                       .arg(m_receiverName)
                       .arg(kTlsBreaksToGiveUp)
                       .arg(m_client.errorText()));
            return Connect::Failed;
        }
        // A broken TLS start is said only when it keeps happening (above).
        if (!m_outageReported && !tlsBroken)
            notice(outageText(connection));
        m_outageReported = m_outageReported || !tlsBroken;
        // A receiver that is stopping closes a session at its start too: TLS
        // is suspected only when it keeps happening.
        closedAtOpen = connection == RelpClient::Connection::ClosedAtOpen ? closedAtOpen + 1 : 0;
        if (closedAtOpen == kTlsBreaksToGiveUp && !m_tlsSuspected) {
            notice(QStringLiteral("%1 连续 %2 次在 RELP 会话开始时就关闭了连接：多半是接收端要求 TLS（它的 imrelp 设了 "
                                  "tls=\"on\"），请加 --tls 及 --ca、--cert、--key 再启动；仍在重试。%3")
                       .arg(m_receiverName)
                       .arg(kTlsBreaksToGiveUp)
                       .arg(m_client.errorText()));
            m_tlsSuspected = true;
        }
    }
    return Connect::Stopped;
}

QString Forwarder::outageText(RelpClient::Connection connection) const
{
    const QString retry = QStringLiteral("将每隔至多 %1 秒重试，记录不会丢失")
                              .arg(std::chrono::duration_cast<std::chrono::seconds>(kLongestRetry).count());
    if (connection == RelpClient::Connection::ClosedAtOpen)
        return QStringLiteral("无法连接到 %1：它在 RELP 会话开始时就关闭了连接（正在停止、连接数已满，或要求 TLS）；%2。%3")
            .arg(m_receiverName, retry, m_client.errorText());
    return QStringLiteral("无法连接到 %1：请确认接收端在运行、地址和端口无误；%2。%3").arg(m_receiverName, retry, m_client.errorText());
}

void Forwarder::acknowledged(int count)
{
    m_acknowledgedInSession += count;
    if (m_acknowledgedInSession < RelpClient::kWindow && m_client.isOpen())
        return;
    if (m_outageReported)
        notice(QStringLiteral("已重新连接到 %1，接收端已确认到记录 %2，照常转发").arg(m_receiverName).arg(m_delivered));
    m_outageReported = false;
    m_retryDue = false;
    m_retryWait = kFirstRetry;
}

void Forwarder::readBatch()
{
    m_batch.clear();
    const int restarts = m_tail.restartCount();
    m_tail.fetch(RelpClient::kWindow, [this](const LogRecord& record) {
        Outgoing outgoing{{record.id, QByteArray(record.datetime.constData(), record.datetime.size()),
                            QByteArray(record.message.constData(), record.message.size())},
                           QByteArray()};
        if (m_formatter.append(record, outgoing.message))
            noteCut(record.id);
        m_batch.push_back(std::move(outgoing));
        return true;
    });
    if (m_tail.restartCount() != restarts)
        startOver();
}

void Forwarder::noteCut(qint64 id)
{
    // A record sent again after a failure was counted the first time.
    if (id <= m_lastCut && m_lastCut != 0)
        return;
    m_lastCut = id;
    if (m_cut++ == 0)
        notice(QStringLiteral("记录 %1 超过 --max-message-size（%2 字节），已截短发送，末尾标有“…[截断，原长 N 字节]”；"
                              "更长的记录同样处理，退出时说明共有多少条。要完整送达，请调大接收端 imrelp 的 maxDataSize"
                              "（见 docs/fleet.md），再以同样的值启动 --max-message-size")
                   .arg(id)
                   .arg(m_maxMessageSize));
}

void Forwarder::startOver()
{
    // A failed close loses only records that the old file no longer has.
    if (!m_inFlight.empty() && m_client.isOpen())
        m_client.close();
    m_inFlight.clear();
    delivered(Sent());
    m_lastCut = 0;
    storeCursor();
}

void Forwarder::delivered(const Sent& record)
{
    m_delivered = record.id;
    m_deliveredRecord = record;
}

bool Forwarder::sendBatch()
{
    for (const Outgoing& outgoing : m_batch) {
        if (!m_client.send(outgoing.message))
            return false;
        m_inFlight.push_back(outgoing.record);
        if (static_cast<int>(m_inFlight.size()) > RelpClient::kWindow) {
            delivered(m_inFlight.front());
            m_inFlight.pop_front();
            acknowledged(1);
        }
    }
    return true;
}

void Forwarder::sessionFailed()
{
    if (!m_outageReported)
        notice(QStringLiteral("与 %1 的连接中断，未确认的记录没有送达：接收端关闭了会话（例如重启，或拒收某条消息），"
                              "或网络中断。重新连接后从记录 %2 之后重发，将每隔至多 %3 秒重试。%4")
                   .arg(m_receiverName)
                   .arg(m_delivered)
                   .arg(std::chrono::duration_cast<std::chrono::seconds>(kLongestRetry).count())
                   .arg(m_client.errorText()));
    m_outageReported = true;
    m_inFlight.clear();
    m_tail.seekAfter(m_delivered);
}

void Forwarder::idle()
{
    // Nothing to send: a good moment to make the cursor durable.
    storeCursor();
    if (!m_inFlight.empty() && ++m_quietPolls >= kQuietPollsBeforeConfirm
        && m_session.elapsed() >= kShortestConfirmedSessionMs)
        confirmByClosing();
    sleepUnlessStopped(kPollInterval);
}

void Forwarder::confirmByClosing()
{
    if (m_inFlight.empty())
        return;
    const Sent lastSent = m_inFlight.back();
    const int count = static_cast<int>(m_inFlight.size());
    if (!m_client.close()) {
        sessionFailed();
        return;
    }
    m_inFlight.clear();
    delivered(lastSent);
    acknowledged(count);
    storeCursor();
}

QString Forwarder::resendText() const
{
    if (m_cursor)
        return QStringLiteral("下次启动时从记录 %1 之后发送（游标文件 %2 记着它）")
            .arg(m_delivered)
            .arg(QDir::toNativeSeparators(m_cursor->path()));
    return QStringLiteral("没有 --cursor-file，下次启动时不会补发记录 %1 之后的记录：请用 --since 从它们的时间开始").arg(m_delivered);
}

bool Forwarder::storeCursor()
{
    if (!m_cursor || m_delivered == m_stored)
        return true;
    const QByteArray mark = m_delivered > 0 ? CursorFile::markOf(m_deliveredRecord.datetime, m_deliveredRecord.message)
                                            : QByteArray();
    if (!m_cursor->store(m_delivered, mark)) {
        if (!m_cursorFaultReported)
            report(m_cursor->errorText() + QStringLiteral("；记录照常转发，之后再试"));
        m_cursorFaultReported = true;
        return false;
    }
    m_cursorFaultReported = false;
    m_stored = m_delivered;
    m_lastStore.start();
    return true;
}

int Forwarder::finish(int status)
{
    if (m_cut > 0)
        notice(QStringLiteral("本次运行共有 %1 条记录超过 --max-message-size（%2 字节），已截短发送").arg(m_cut).arg(m_maxMessageSize));
    if (!m_inFlight.empty()) {
        const Sent lastSent = m_inFlight.back();
        const int count = static_cast<int>(m_inFlight.size());
        m_inFlight.clear();
        if (m_client.close()) {
            delivered(lastSent);
            acknowledged(count);
        } else {
            notice(QStringLiteral("正在退出：已发出的 %1 条记录没有得到 %2 的确认；%3。%4")
                       .arg(count)
                       .arg(m_receiverName, resendText(), m_client.errorText()));
        }
    } else if (m_outageReported) {
        notice(QStringLiteral("正在退出：%1 仍不可用；%2").arg(m_receiverName, resendText()));
    }
    m_client.close();
    if (!storeCursor())
        return kExitFailure;
    return status;
}
