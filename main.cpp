#include <QApplication>
#include <QCommandLineParser>

#include "Quarrow.h"
#include "QtTranslations.h"

// The icon resource registers itself before main (see CMakeLists.txt). Qt
// takes its own arguments first; what is left may name one log database to
// show instead of ./dbLog.db, read-only.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    installQtChineseTranslations(&app);
    QCommandLineParser arguments;
    arguments.setApplicationDescription(Quarrow::defaultTitle());
    arguments.addHelpOption();
    arguments.addPositionalArgument(QStringLiteral("FILE"),
                                    QStringLiteral("要查看的日志数据库文件，只读打开（默认为当前文件夹的 dbLog.db）"),
                                    QStringLiteral("[FILE]"));
    arguments.process(app);
    if (arguments.positionalArguments().size() > 1)
        arguments.showHelp(2);
    Quarrow window(arguments.positionalArguments().value(0));
    window.show();
    return app.exec();
}
