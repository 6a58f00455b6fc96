#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>
#include <cstring>

#include "Quarrow.h"
#include "QtTranslations.h"
#include "StartLog.h"

namespace {

const QString kMachineLogOption = QStringLiteral("machine-log");
const QString kHereOption = QStringLiteral("here");

void describeArguments(QCommandLineParser& arguments)
{
    arguments.setApplicationDescription(Quarrow::defaultTitle());
    arguments.addHelpOption();
    arguments.addVersionOption();
    arguments.addOption({kMachineLogOption,
                         QStringLiteral("显示本机的日志（%1 中 QUARROW_LOG= 一行给出的文件）；没有设置时只显示应当设置什么，"
                                        "不读取也不创建当前文件夹中的 dbLog.db。菜单中的“%2”就是这样启动的")
                             .arg(StartLog::settingFile(), Quarrow::defaultTitle())});
    arguments.addOption({kHereOption, QStringLiteral("显示并写入当前文件夹中的 dbLog.db（没有时创建），不看本机的设置")});
    arguments.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("要查看的日志数据库文件，只读打开。给出几个文件时按时间合并列出，"
                       "每条记录注明机器（文件名去掉 .db，或写成 名称=文件）；也可以给出一个 "
                       "postgresql://用户@主机:端口/数据库 地址，查看全厂的中央日志库。不给出时显示本机的日志"
                       "（见 --machine-log），没有设置时显示当前文件夹中的 dbLog.db"),
        QStringLiteral("[FILE…]"));
}

// Help and version need no display: they are answered before the GUI starts,
// which would end the process where there is none.
bool asksHelpOrVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

[[noreturn]] void answerHelpOrVersion(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    installQtChineseTranslations(&app);
    QCommandLineParser arguments;
    describeArguments(arguments);
    // Qt's own options (-platform, -style …) are unknown here; the answer is the same.
    arguments.parse(app.arguments());
    if (arguments.isSet(QStringLiteral("version")))
        arguments.showVersion();
    if (arguments.isSet(QStringLiteral("help-all")))
        arguments.process(app); // prints Qt's options too and exits
    arguments.showHelp(0);
}

StartLog::Mode startMode(const QCommandLineParser& arguments)
{
    if (arguments.isSet(kMachineLogOption))
        return StartLog::Mode::MachineLog;
    return arguments.isSet(kHereOption) ? StartLog::Mode::Here : StartLog::Mode::Default;
}

} // namespace

// The icon resource registers itself before main (see CMakeLists.txt). Qt
// takes its own arguments first; what is left chooses the log (StartLog.h).
int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Quarrow"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARROW_VERSION));
    if (asksHelpOrVersion(argc, argv))
        answerHelpOrVersion(argc, argv);
    QApplication app(argc, argv);
    installQtChineseTranslations(&app);
    QCommandLineParser arguments;
    describeArguments(arguments);
    arguments.process(app);
    if (arguments.isSet(kMachineLogOption) && arguments.isSet(kHereOption)) {
        fputs(qPrintable(QStringLiteral("--machine-log 与 --here 不能同时使用\n")), stderr);
        return 2;
    }
    const StartLog start = StartLog::choose(arguments.positionalArguments(), startMode(arguments),
                                            StartLog::settingFile(), QDir::currentPath());
    Quarrow window(start);
    window.show();
    return app.exec();
}
