#include "sources/LocationSecrets.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace SystemLog {
namespace Locations {

namespace {

// "scheme://", any scheme: a mistyped one must not show a password either.
int authorityStart(const QString& location)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const QRegularExpressionMatch match = scheme.match(location);
    return match.hasMatch() ? match.capturedEnd() : -1;
}

// "user:secret@host" becomes "user@host". The user information ends at the
// last '@' before the query, so that a password holding '/' or '@'
// (which libpq would misread) is found whole.
QString withoutUserPassword(const QString& url, int start)
{
    const int query = url.indexOf(QLatin1Char('?'), start);
    const int end = query < 0 ? url.size() : query;
    const int at = url.lastIndexOf(QLatin1Char('@'), end - 1);
    if (at < start)
        return url;
    int colon = url.indexOf(QLatin1Char(':'), start);
    const int encoded = url.indexOf(QLatin1String("%3a"), start, Qt::CaseInsensitive);
    if (colon < 0 || colon > at || (encoded >= 0 && encoded < colon))
        colon = encoded;
    if (colon < 0 || colon > at)
        return url;
    return url.left(colon) + url.mid(at);
}

QString withoutPasswordParameters(const QString& url, int start)
{
    const int query = url.indexOf(QLatin1Char('?'), start);
    if (query < 0)
        return url;
    QStringList kept;
    for (const QString& parameter : url.mid(query + 1).split(QLatin1Char('&'))) {
        const QString name = QUrl::fromPercentEncoding(parameter.section(QLatin1Char('='), 0, 0).toUtf8());
        if (!name.contains(QLatin1String("password"), Qt::CaseInsensitive))
            kept << parameter;
    }
    return url.left(query) + (kept.isEmpty() ? QString() : QLatin1Char('?') + kept.join(QLatin1Char('&')));
}

// libpq's "key = value" form: a value is a word or a quoted text with
// backslash escapes.
QString withoutPasswordKeywords(const QString& location)
{
    static const QRegularExpression keyword(QStringLiteral("(^|\\s)[A-Za-z_]*password\\s*=\\s*(?:'(?:[^'\\\\]|\\\\.)*'?|\\S*)"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString shown = location;
    return shown.replace(keyword, QStringLiteral("\\1"));
}

} // namespace

QString withoutPassword(const QString& location)
{
    QString shown = location;
    const int start = authorityStart(location);
    if (start >= 0)
        shown = withoutPasswordParameters(withoutUserPassword(shown, start), start);
    return withoutPasswordKeywords(shown);
}

bool holdsPassword(const QString& location)
{
    return withoutPassword(location) != location;
}

QString passwordRefusedText()
{
    return QStringLiteral("数据库地址中不能写密码（命令行对本机其他用户可见）：把密码写入 ~/.pgpass（或 PGPASSFILE 指定的文件）"
                          "或环境变量 PGPASSWORD");
}

} // namespace Locations
} // namespace SystemLog
