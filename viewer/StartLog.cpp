#include "StartLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <vxSyslog/LogSource.h>

namespace {

const QString kDefaultSettingFile = QStringLiteral("/etc/quarrow/quarrow.conf");
const QString kLogKey = QStringLiteral("QUARROW_LOG");

// The value of `key` as systemd reads an EnvironmentFile: lines KEY=VALUE,
// blanks around both, '#' or ';' comments, the value in quotes or not; the
// last assignment counts. Empty when the key is not assigned.
QString assignedValue(const QString& path, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream lines(&file);
    lines.setCodec("UTF-8");
    QString value;
    while (!lines.atEnd()) {
        const QString line = lines.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || line.left(equals).trimmed() != key)
            continue;
        QString assigned = line.mid(equals + 1).trimmed();
        if (assigned.size() >= 2 && (assigned.startsWith(QLatin1Char('"')) || assigned.startsWith(QLatin1Char('\'')))
            && assigned.endsWith(assigned.at(0)))
            assigned = assigned.mid(1, assigned.size() - 2);
        value = assigned;
    }
    return value;
}

QString notSetHint(const QString& settingFile, const QString& problem, bool lookedInFolder)
{
    const QString reason = !problem.isEmpty() ? problem
                           : lookedInFolder   ? QStringLiteral("没有设置本机的日志，当前文件夹中也没有 dbLog.db。")
                                              : QStringLiteral("没有设置本机的日志。");
    return reason
           + QStringLiteral("\n\n请管理员在 %1 中写入一行\n    %2=日志文件的完整路径\n"
                            "（例如 %2=/srv/quarrow/dbLog.db），此后从菜单启动即显示本机的日志。\n\n"
                            "也可以把日志文件拖到这个窗口上，或用命令 Quarrow 文件 打开它。")
                 .arg(QDir::toNativeSeparators(settingFile), kLogKey);
}

} // namespace

QString StartLog::settingFile()
{
    const QString named = qEnvironmentVariable("QUARROW_CONF");
    return named.isEmpty() ? kDefaultSettingFile : named;
}

QString StartLog::machineLog(const QString& settingFile, QString* problem)
{
    const QString value = assignedValue(settingFile, kLogKey);
    if (value.isEmpty())
        return QString();
    if (SystemLog::LogSource::isDatabaseUrl(value) || (QDir::isAbsolutePath(value) && !QFileInfo(value).isDir()))
        return value;
    if (problem) {
        *problem = QStringLiteral("%1 中的 %2=%3 不是日志文件的完整路径。")
                       .arg(QDir::toNativeSeparators(settingFile), kLogKey, value);
    }
    return QString();
}

StartLog StartLog::choose(const QStringList& files, Mode mode, const QString& settingFile, const QString& workingFolder)
{
    StartLog start;
    if (!files.isEmpty()) {
        start.kind = Kind::Logs;
        start.logs = files;
        return start;
    }
    const bool ownFolderCounts = mode == Mode::Here
                                 || (mode == Mode::Default
                                     && QFileInfo::exists(QDir(workingFolder).filePath(QStringLiteral("dbLog.db"))));
    QString problem;
    const QString machine = mode == Mode::Here ? QString() : machineLog(settingFile, &problem);
    if (!machine.isEmpty()) {
        start.kind = Kind::Logs;
        start.logs = QStringList(machine);
    } else if (ownFolderCounts) {
        start.kind = Kind::WorkingFolder;
    } else {
        start.hint = notSetHint(settingFile, problem, mode == Mode::Default);
    }
    return start;
}
