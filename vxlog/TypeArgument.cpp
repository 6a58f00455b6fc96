#include "TypeArgument.h"

#include <QStringList>

#include <vxSyslog/RecordTypes.h>

bool typeArgument(const QString& text, int& type)
{
    const QString name = text.trimmed();
    bool isNumber = false;
    type = name.toInt(&isNumber);
    if (isNumber)
        return true;
    type = SystemLog::recordTypeOfCaption(name);
    if (type < 0)
        type = SystemLog::recordTypeOfAsciiName(name);
    return type >= 0;
}

QString typeArgumentList()
{
    QStringList pairs;
    for (int i = 0; i < SystemLog::kRecordTypeCount; ++i)
        pairs << QStringLiteral("%1=%2(%3)").arg(i).arg(SystemLog::recordTypeCaption(i), SystemLog::recordTypeAsciiName(i));
    return pairs.join(QStringLiteral("、"));
}
