#include "RelpClient.h"

#include <cstddef>

// librelp's header declares C functions without saying so.
extern "C" {
#include <librelp.h>
}

namespace {

// Faults of the TLS settings or of the receiver's certificate: trying again
// cannot help.
bool isSettingsFault(int code)
{
    switch (code) {
    case RELP_RET_ERR_TLS_SETUP:
    case RELP_RET_INVLD_TLS_PRIO:
    case RELP_RET_AUTH_ERR_FP:
    case RELP_RET_AUTH_ERR_NAME:
    case RELP_RET_AUTH_NO_CERT:
    case RELP_RET_AUTH_CERT_INVL:
    case RELP_RET_INVLD_AUTH_MD:
    case RELP_RET_INVLD_WILDCARD:
    case RELP_RET_ERR_NO_TLS:
    case RELP_RET_ERR_NO_TLS_AUTH:
        return true;
    default:
        return false;
    }
}

// The TCP connection was made and the other side ended it while the session
// started.
bool isBrokenAfterConnect(int code)
{
    return code == RELP_RET_SESSION_BROKEN || code == RELP_RET_ERR_TLS_HANDS || code == RELP_RET_ERR_TLS;
}

// GnuTLS's "unexpected packet" (-15) and "unexpected packet length" (-9):
// what came back to the TLS handshake was no TLS, as from a receiver that
// speaks plain RELP. librelp passes only GnuTLS's text on.
bool isPlainAnswer(const QString& librelpText)
{
    return librelpText.contains(QLatin1String("gnutls error -15:")) || librelpText.contains(QLatin1String("gnutls error -9:"));
}

// librelp takes texts as non-const pointers and copies them.
char* text(QByteArray& bytes)
{
    return bytes.data();
}

unsigned char* octets(QByteArray& bytes)
{
    return reinterpret_cast<unsigned char*>(bytes.data());
}

} // namespace

RelpClient::RelpClient(const Settings& settings)
    : m_settings(settings)
{
    relpEngineConstruct(&m_engine);
    // librelp calls its debug printer unconditionally: without one it crashes.
    relpEngineSetDbgprint(m_engine, &RelpClient::debugPrint);
    relpEngineSetOnErr(m_engine, &RelpClient::onError);
    relpEngineSetOnAuthErr(m_engine, &RelpClient::onAuthError);
    QByteArray syslog("syslog");
    relpEngineSetEnableCmd(m_engine, octets(syslog), eRelpCmdState_Required);
    // GnuTLS, librelp's default, is the one of its two that checks SHA-256
    // fingerprints.
    relpEngineSetTLSLib(m_engine, RELP_USE_GNUTLS);
}

RelpClient::~RelpClient()
{
    destroyClient();
    relpEngineDestruct(&m_engine);
}

void RelpClient::setAbortFlag(int* flag)
{
    relpEngineSetShutdownImmdtPtr(m_engine, flag);
}

void RelpClient::debugPrint(char*, ...)
{
}

void RelpClient::onError(void* user, char*, char* message, int code)
{
    static_cast<RelpClient*>(user)->note(code, QString::fromLocal8Bit(message));
}

void RelpClient::onAuthError(void* user, char* peer, char* message, int code)
{
    auto* client = static_cast<RelpClient*>(user);
    client->m_authFailed = true;
    client->note(code, QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(message), QString::fromLocal8Bit(peer)).trimmed());
}

void RelpClient::note(int code, const QString& text)
{
    if (m_error.isEmpty() && m_errorCode == 0) {
        m_error = text;
        m_errorCode = code;
    }
}

QString RelpClient::errorText() const
{
    if (m_error.isEmpty())
        return QStringLiteral("%1（librelp %2）").arg(explainHere()).arg(m_errorCode);
    return QStringLiteral("%1（librelp %2：%3）").arg(explainHere()).arg(m_errorCode).arg(m_error);
}

QString RelpClient::explainHere() const
{
    // librelp names a failed connect and a write into a session the receiver
    // has closed by the same code; which one it was depends on the session.
    if (m_errorCode == RELP_RET_IO_ERR && m_failedInSession)
        return explain(RELP_RET_SESSION_BROKEN);
    return explain(m_errorCode);
}

QString RelpClient::explain(int code)
{
    switch (code) {
    case RELP_RET_SESSION_BROKEN:
        return QStringLiteral("接收端关闭了连接，或连接中断");
    case RELP_RET_SESSION_CLOSED:
        return QStringLiteral("接收端关闭了会话");
    case RELP_RET_IO_ERR:
        return QStringLiteral("无法建立 TCP 连接（接收端没有运行、地址或端口不对，或被防火墙拦截）");
    case RELP_RET_TIMED_OUT:
        return QStringLiteral("等待接收端应答超时");
    case RELP_RET_DATA_TOO_LONG:
        return QStringLiteral("消息超过了接收端允许的长度");
    case RELP_RET_RSP_STATE_ERR:
        return QStringLiteral("接收端拒绝了这条消息");
    case RELP_RET_INVALID_FRAME:
    case RELP_RET_INVALID_RSPHDR:
        return QStringLiteral("接收端的应答不是有效的 RELP");
    case RELP_RET_INCOMPAT_OFFERS:
    case RELP_RET_RQD_FEAT_MISSING:
        return QStringLiteral("接收端不支持 syslog 命令或本机的 RELP 版本");
    case RELP_RET_ERR_TLS_SETUP:
    case RELP_RET_ERR_TLS_HANDS:
    case RELP_RET_ERR_TLS:
        return QStringLiteral("TLS 握手失败");
    case RELP_RET_AUTH_ERR_FP:
        return QStringLiteral("接收端证书的指纹不是 --peer 允许的");
    case RELP_RET_AUTH_ERR_NAME:
        return QStringLiteral("接收端证书中的名称不是 --peer（默认为 --to 中的主机）允许的");
    case RELP_RET_AUTH_NO_CERT:
        return QStringLiteral("接收端没有出示证书");
    case RELP_RET_AUTH_CERT_INVL:
        return QStringLiteral("接收端的证书无效（不是 --ca 签发的，或已过期）");
    case RELP_RET_OUT_OF_MEMORY:
        return QStringLiteral("内存不足");
    case 0:
        return QStringLiteral("原因不明");
    default:
        return QStringLiteral("librelp 报告错误");
    }
}

bool RelpClient::configureTls()
{
    QByteArray ca = m_settings.caFile.toLocal8Bit();
    QByteArray mode(m_settings.peersAreFingerprints ? "fingerprint" : "name");
    if (relpCltEnableTLS(m_client) != RELP_RET_OK || relpCltSetCACert(m_client, text(ca)) != RELP_RET_OK
        || relpCltSetAuthMode(m_client, text(mode)) != RELP_RET_OK)
        return false;
    if (!m_settings.certFile.isEmpty()) {
        QByteArray cert = m_settings.certFile.toLocal8Bit();
        QByteArray key = m_settings.keyFile.toLocal8Bit();
        if (relpCltSetOwnCert(m_client, text(cert)) != RELP_RET_OK || relpCltSetPrivKey(m_client, text(key)) != RELP_RET_OK)
            return false;
    }
    for (const QString& peer : m_settings.peers) {
        QByteArray name = peer.toUtf8();
        if (relpCltAddPermittedPeer(m_client, text(name)) != RELP_RET_OK)
            return false;
    }
    return true;
}

RelpClient::Connection RelpClient::open()
{
    destroyClient();
    m_error.clear();
    m_errorCode = 0;
    m_authFailed = false;
    m_failedInSession = false;
    if (relpEngineCltConstruct(m_engine, &m_client) != RELP_RET_OK) {
        m_client = nullptr;
        note(RELP_RET_OUT_OF_MEMORY, QStringLiteral("librelp could not make a client"));
        return Connection::Unreachable;
    }
    relpCltSetUsrPtr(m_client, this);
    relpCltSetTimeout(m_client, kTimeoutSeconds);
    relpCltSetConnTimeout(m_client, kTimeoutSeconds);
    relpCltSetWindowSize(m_client, kWindow);
    if (m_settings.tls && !configureTls()) {
        note(RELP_RET_ERR_TLS_SETUP, QStringLiteral("librelp refused the TLS settings"));
        destroyClient();
        return Connection::Rejected;
    }
    QByteArray port = QByteArray::number(m_settings.port);
    QByteArray host = m_settings.host.toUtf8();
    const int code = relpCltConnect(m_client, 0, octets(port), octets(host));
    if (code == RELP_RET_OK)
        return Connection::Open;
    note(code, QString());
    destroyClient();
    if (m_settings.tls && isPlainAnswer(m_error))
        return Connection::NoTlsThere;
    if (m_authFailed || isSettingsFault(code))
        return Connection::Rejected;
    if (m_settings.tls && isBrokenAfterConnect(code))
        return Connection::TlsBroken;
    if (!m_settings.tls && code == RELP_RET_SESSION_BROKEN)
        return Connection::ClosedAtOpen;
    return Connection::Unreachable;
}

bool RelpClient::send(const QByteArray& message)
{
    if (!m_client)
        return false;
    // librelp copies the message into its frame and never writes to it.
    auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(message.constData()));
    const bool noErrorYet = m_error.isEmpty() && m_errorCode == 0;
    const int code = relpCltSendSyslog(m_client, data, static_cast<size_t>(message.size()));
    if (code == RELP_RET_OK)
        return true;
    if (noErrorYet)
        m_failedInSession = true;
    note(code, QString());
    destroyClient();
    return false;
}

bool RelpClient::close()
{
    if (!m_client)
        return false;
    m_error.clear();
    m_errorCode = 0;
    destroyClient();
    return m_error.isEmpty() && m_errorCode == 0;
}

void RelpClient::destroyClient()
{
    if (m_client)
        relpEngineCltDestruct(m_engine, &m_client);
    m_client = nullptr;
}
