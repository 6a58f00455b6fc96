#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct relpEngine_s;
struct relpClt_s;

// One RELP session to a syslog receiver (rsyslog's imrelp), through librelp.
//
// Acknowledgements: librelp keeps at most kWindow messages waiting for the
// receiver's answer and holds back a send until there is room; the receiver
// answers in the order the messages came. So once send() has returned, every
// message sent before the last kWindow has been acknowledged, and close()
// waits for the answers to the rest. Whatever was not acknowledged when the
// session failed is the caller's to send again.
// Blocking: every call waits at most kTimeoutSeconds for the receiver (and a
// connect as long for the TCP connection), or less when the flag given to
// setAbortFlag() becomes non-zero.
// Not thread-safe: one client belongs to one thread.
class RelpClient
{
public:
    static constexpr int kWindow = 128;
    static constexpr int kTimeoutSeconds = 10;

    struct Settings
    {
        QString host;        // a name, an IPv4 or an IPv6 address (without brackets)
        quint16 port = 514;
        bool tls = false;
        QString caFile;      // PEM: the CA that signed the receiver's certificate
        QString certFile;    // PEM: this machine's certificate and key; both or neither
        QString keyFile;
        QStringList peers;   // the receiver's permitted names, or fingerprints "SHA256:AB:…"
        bool peersAreFingerprints = false;  // names may hold ':' too (an IPv6 address)
    };

    enum class Connection {
        Open,
        Unreachable,   // no connection: try again later
        ClosedAtOpen,  // without TLS, the receiver ended the connection before the session opened
                       // (what a receiver that wants TLS does, or one that is stopping): try again later
        TlsBroken,     // the receiver ended the connection while the TLS session started
        NoTlsThere,    // the receiver answered the TLS handshake in plain RELP: it has no TLS
        Rejected,      // the receiver's certificate did not verify, or the TLS settings are unusable
    };

    explicit RelpClient(const Settings& settings);
    ~RelpClient();
    RelpClient(const RelpClient&) = delete;
    RelpClient& operator=(const RelpClient&) = delete;

    void setAbortFlag(int* flag);

    Connection open();
    bool isOpen() const { return m_client != nullptr; }
    // False when the session failed; it is then closed.
    bool send(const QByteArray& message);
    // Ends the session; true when the receiver acknowledged everything sent.
    bool close();

    // The first problem librelp reported since the last open(): its code
    // explained in Chinese, then librelp's own words, e.g. "接收端关闭了连接
    // （librelp 10007：server closed relp session, session broken）".
    QString errorText() const;
    // The Chinese explanation of a librelp return code.
    static QString explain(int code);

private:
    static void onError(void* user, char* object, char* message, int code);
    static void onAuthError(void* user, char* peer, char* message, int code);
    static void debugPrint(char* format, ...);
    void note(int code, const QString& text);
    QString explainHere() const;
    bool configureTls();
    void destroyClient();

    Settings m_settings;
    relpEngine_s* m_engine = nullptr;
    relpClt_s* m_client = nullptr;
    QString m_error;
    int m_errorCode = 0;
    bool m_errorReported = false;
    bool m_authFailed = false;
    bool m_failedInSession = false;
};
