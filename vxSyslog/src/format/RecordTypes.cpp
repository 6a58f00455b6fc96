#include <vxSyslog/RecordTypes.h>

namespace SystemLog {

QStringList recordTypeCaptions()
{
    return {
        QStringLiteral("参数修改记录"),
        QStringLiteral("用户使用记录"),
        QStringLiteral("系统状态记录"),
        QStringLiteral("报警记录"),
        QStringLiteral("其他信息"),
    };
}

QString recordTypeCaption(int type)
{
    static const QStringList captions = recordTypeCaptions();
    if (type < 0 || type >= captions.size())
        return QString();
    return captions.at(type);
}

int recordTypeOfCaption(const QString& caption)
{
    return recordTypeCaptions().indexOf(caption);
}

namespace {

const char* const kTypeNames[kRecordTypeCount] = {"param", "user", "status", "alarm", "info"};

} // namespace

QString recordTypeAsciiName(int type)
{
    if (type < 0 || type >= kRecordTypeCount)
        return QString();
    return QLatin1String(kTypeNames[type]);
}

int recordTypeOfAsciiName(const QString& name)
{
    for (int type = 0; type < kRecordTypeCount; ++type) {
        if (name.compare(QLatin1String(kTypeNames[type]), Qt::CaseInsensitive) == 0)
            return type;
    }
    return -1;
}

} // namespace SystemLog
