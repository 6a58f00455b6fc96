#include <QApplication>
#include <QCommandLineParser>

#include "Quarrow.h"
#include "QtTranslations.h"

// The icon resource registers itself before main (see CMakeLists.txt). Qt
// takes its own arguments first; what is left may name log databases to
// show instead of ./dbLog.db, read-only: one file, several merged into one
// timeline, or the fleet's central PostgreSQL.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    installQtChineseTranslations(&app);
    QCommandLineParser arguments;
    arguments.setApplicationDescription(Quarrow::defaultTitle());
    arguments.addHelpOption();
    arguments.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("要查看的日志数据库文件，只读打开（默认为当前文件夹的 dbLog.db）。给出几个文件时按时间合并列出，"
                       "每条记录注明机器（文件名去掉 .db，或写成 名称=文件）；也可以给出一个 "
                       "postgresql://用户@主机:端口/数据库 地址，查看全厂的中央日志库"),
        QStringLiteral("[FILE…]"));
    arguments.process(app);
    Quarrow window(arguments.positionalArguments());
    window.show();
    return app.exec();
}
