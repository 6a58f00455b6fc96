#pragma once

#include <QString>
#include <QStringList>

// Which log the viewer shows when it starts, from its arguments, the
// machine's setting and the working folder:
//   Quarrow FILE…          those logs, read-only
//   Quarrow                the machine's log when the setting names it,
//                          else ./dbLog.db when there is one (the log service
//                          starts on it), else a pane that says what to set
//   Quarrow --machine-log  the machine's log, else that pane: never the
//                          working folder, which is the user's home when the
//                          desktop's menu starts it (the desktop entry does)
//   Quarrow --here         ./dbLog.db, made when missing (scripts/run)
// The setting is the line `QUARROW_LOG=/path/to/dbLog.db` of
// /etc/quarrow/quarrow.conf, a file the vxlog services read as their
// EnvironmentFile; QUARROW_CONF names another file.
struct StartLog
{
    enum class Mode { Default, MachineLog, Here };
    enum class Kind { Logs, WorkingFolder, NotSet };

    Kind kind = Kind::NotSet;
    QStringList logs;
    // For NotSet: what the pane says instead of a log.
    QString hint;

    static StartLog ofLogs(const QStringList& logs) { return {Kind::Logs, logs, QString()}; }
    static StartLog ofWorkingFolder() { return {Kind::WorkingFolder, QStringList(), QString()}; }

    static QString settingFile();
    // QUARROW_LOG of that file: an absolute path or a postgresql:// address;
    // empty when the file or the line is missing. `problem` says what is
    // wrong with a line that is there but unusable.
    static QString machineLog(const QString& settingFile, QString* problem = nullptr);
    static StartLog choose(const QStringList& files, Mode mode, const QString& settingFile,
                           const QString& workingFolder);
};
