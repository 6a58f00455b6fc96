#include "SizeArgument.h"

#include <QLocale>
#include <QRegularExpression>

#include <limits>

qint64 sizeArgument(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,15})\\s*(([KMGT])(i?B)?|B)?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return -1;
    qint64 bytes = match.captured(1).toLongLong();
    const QString unit = match.captured(3).toUpper();
    for (const QChar step : QStringLiteral("KMGT")) {
        if (unit.isEmpty())
            break;
        if (bytes > std::numeric_limits<qint64>::max() / 1024)
            return -1;
        bytes *= 1024;
        if (unit == step)
            break;
    }
    return bytes;
}

QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    return QStringLiteral("%1（%2 字节）").arg(QLocale::system().formattedDataSize(bytes)).arg(bytes);
}
