#include "TypeArgument.h"

#include <QStringList>

#include <vxSyslog/RecordTypes.h>

namespace {

// The English names of types 0 to 4, in that order.
const char* const kTypeNames[SystemLog::kRecordTypeCount] = {"param", "user", "status", "alarm", "info"};

} // namespace

bool typeArgument(const QString& text, int& type)
{
    const QString name = text.trimmed();
    bool isNumber = false;
    type = name.toInt(&isNumber);
    if (isNumber)
        return true;
    type = SystemLog::recordTypeOfCaption(name);
    for (int i = 0; i < SystemLog::kRecordTypeCount && type < 0; ++i) {
        if (name.compare(QLatin1String(kTypeNames[i]), Qt::CaseInsensitive) == 0)
            type = i;
    }
    return type >= 0;
}

QString typeArgumentList()
{
    QStringList pairs;
    for (int i = 0; i < SystemLog::kRecordTypeCount; ++i)
        pairs << QStringLiteral("%1=%2(%3)").arg(i).arg(SystemLog::recordTypeCaption(i), QLatin1String(kTypeNames[i]));
    return pairs.join(QStringLiteral("、"));
}
