#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

int installQtChineseTranslations(QCoreApplication* app)
{
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    int loaded = 0;
    // qtbase holds the widgets' texts; qt_zh_CN, where present, the rest of Qt's.
    for (const char* catalogue : {"qtbase_zh_CN", "qt_zh_CN"}) {
        auto* translator = new QTranslator(app);
        if (translator->load(QLatin1String(catalogue), folder) && QCoreApplication::installTranslator(translator))
            ++loaded;
        else
            delete translator;
    }
    return loaded;
}
