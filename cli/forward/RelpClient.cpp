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

void RelpClient::onError(void* user, char*, char* message, int)
{
    static_cast<RelpClient*>(user)->note(QString::fromLocal8Bit(message));
}

void RelpClient::onAuthError(void* user, char* peer, char* message, int)
{
    auto* client = static_cast<RelpClient*>(user);
    client->m_authFailed = true;
    client->note(QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(message), QString::fromLocal8Bit(peer)).trimmed());
}

void RelpClient::note(const QString& text)
{
    if (m_error.isEmpty())
        m_error = text;
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
    m_authFailed = false;
    if (relpEngineCltConstruct(m_engine, &m_client) != RELP_RET_OK) {
        m_client = nullptr;
        note(QStringLiteral("librelp could not make a client"));
        return Connection::Unreachable;
    }
    relpCltSetUsrPtr(m_client, this);
    relpCltSetTimeout(m_client, kTimeoutSeconds);
    relpCltSetConnTimeout(m_client, kTimeoutSeconds);
    relpCltSetWindowSize(m_client, kWindow);
    if (m_settings.tls && !configureTls()) {
        note(QStringLiteral("librelp refused the TLS settings"));
        destroyClient();
        return Connection::Rejected;
    }
    QByteArray port = QByteArray::number(m_settings.port);
    QByteArray host = m_settings.host.toUtf8();
    const int code = relpCltConnect(m_client, 0, octets(port), octets(host));
    if (code == RELP_RET_OK)
        return Connection::Open;
    if (m_error.isEmpty())
        note(QStringLiteral("librelp error %1").arg(code));
    destroyClient();
    if (m_authFailed || isSettingsFault(code))
        return Connection::Rejected;
    if (m_settings.tls && isBrokenAfterConnect(code))
        return Connection::TlsBroken;
    return Connection::Unreachable;
}

bool RelpClient::send(const QByteArray& message)
{
    if (!m_client)
        return false;
    // librelp copies the message into its frame and never writes to it.
    auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(message.constData()));
    const int code = relpCltSendSyslog(m_client, data, static_cast<size_t>(message.size()));
    if (code == RELP_RET_OK)
        return true;
    if (m_error.isEmpty())
        note(QStringLiteral("librelp error %1").arg(code));
    destroyClient();
    return false;
}

bool RelpClient::close()
{
    if (!m_client)
        return false;
    m_error.clear();
    destroyClient();
    return m_error.isEmpty();
}

void RelpClient::destroyClient()
{
    if (m_client)
        relpEngineCltDestruct(m_engine, &m_client);
    m_client = nullptr;
}
