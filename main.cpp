#include <QApplication>

#include "Quarrow.h"
#include "QtTranslations.h"

// The icon resource registers itself before main (see CMakeLists.txt); the
// program takes no options of its own and hands its arguments to Qt.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    installQtChineseTranslations(&app);
    Quarrow window;
    window.show();
    return app.exec();
}
