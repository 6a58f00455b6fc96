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

} // namespace SystemLog
