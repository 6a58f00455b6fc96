#include "sources/PgConnection.h"

#include <libpq-fe.h>

namespace SystemLog {

namespace {

QString detailOf(const char* text)
{
    return QString::fromUtf8(text).trimmed().replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// libpq says why a connection failed only in English: the cases an
// operator can act on are told in Chinese before it.
QString connectHeadline(const QString& detail)
{
    if (detail.contains(QLatin1String("password")) || detail.contains(QLatin1String("authentication")))
        return QStringLiteral("数据库拒绝了登录（检查用户名，密码只从 ~/.pgpass 或 PGPASSWORD 读取）");
    if (detail.contains(QLatin1String("does not exist")))
        return QStringLiteral("数据库或用户不存在");
    if (detail.contains(QLatin1String("timeout")))
        return QStringLiteral("连接数据库服务器超时");
    return QStringLiteral("无法连接数据库服务器");
}

} // namespace

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

bool PgConnection::fail(const QString& headline, const QString& detail)
{
    m_reason = detail.isEmpty() ? headline : QStringLiteral("%1（数据库信息：%2）").arg(headline, detail);
    return false;
}

bool PgConnection::connect(const QString& url)
{
    PQfinish(m_conn);
    const QByteArray dbname = url.toUtf8();
    // Messages come as they were stored: no conversion on the way.
    const char* const keys[] = {"dbname", "client_encoding", "connect_timeout", "application_name", nullptr};
    const char* const values[] = {dbname.constData(), "UTF8", "10", "vxlog", nullptr};
    m_conn = PQconnectdbParams(keys, values, 1);
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return true;
    const QString detail = m_conn ? detailOf(PQerrorMessage(m_conn)) : QString();
    return fail(connectHeadline(detail), detail);
}

void PgConnection::cancel()
{
    if (PGcancel* request = PQgetCancel(m_conn)) {
        char error[256];
        PQcancel(request, error, sizeof error);
        PQfreeCancel(request);
    }
}

bool PgConnection::stream(const QByteArray& sql, const std::vector<QByteArray>& parameters, const Row& row,
                          const std::function<bool()>& stopRequested)
{
    m_sqlState.clear();
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return fail(QStringLiteral("与数据库服务器的连接已断开"), m_conn ? detailOf(PQerrorMessage(m_conn)) : QString());
    std::vector<const char*> values;
    for (const QByteArray& parameter : parameters)
        values.push_back(parameter.isNull() ? nullptr : parameter.constData());
    if (!PQsendQueryParams(m_conn, sql.constData(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0)
        || !PQsetSingleRowMode(m_conn)) {
        return fail(QStringLiteral("与数据库服务器的连接已断开"), detailOf(PQerrorMessage(m_conn)));
    }
    bool stopped = false;
    bool ok = true;
    QString headline;
    QString detail;
    std::vector<QByteArray> fields;
    std::vector<bool> nulls;
    while (PGresult* result = PQgetResult(m_conn)) {
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_SINGLE_TUPLE && !stopped) {
            const int columns = PQnfields(result);
            fields.resize(static_cast<size_t>(columns));
            nulls.resize(static_cast<size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                nulls[static_cast<size_t>(c)] = PQgetisnull(result, 0, c);
                fields[static_cast<size_t>(c)] = QByteArray::fromRawData(PQgetvalue(result, 0, c), PQgetlength(result, 0, c));
            }
            if (!row(fields, nulls) || (stopRequested && stopRequested())) {
                stopped = true;
                cancel();
            }
        } else if (status == PGRES_FATAL_ERROR && !stopped && ok) {
            ok = false;
            m_sqlState = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE));
            detail = detailOf(PQresultErrorMessage(result));
            const bool lost = PQstatus(m_conn) != CONNECTION_OK || m_sqlState.startsWith(QLatin1String("08"))
                              || m_sqlState.startsWith(QLatin1String("57P"));
            headline = lost ? QStringLiteral("与数据库服务器的连接已断开") : QStringLiteral("查询失败");
        }
        PQclear(result);
    }
    if (ok && !stopped && PQstatus(m_conn) != CONNECTION_OK) {
        ok = false;
        headline = QStringLiteral("与数据库服务器的连接已断开");
        detail = detailOf(PQerrorMessage(m_conn));
    }
    return ok || fail(headline, detail);
}

} // namespace SystemLog
