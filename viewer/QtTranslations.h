#pragma once

class QCoreApplication;

// Qt's own Chinese texts for its standard dialogs and buttons (the folder
// dialog, "确定" in the message boxes), from the translations Qt was installed
// with (Debian: qttranslations5-l10n). The translators become children of
// `app`. Returns how many catalogues were loaded; 0 leaves Qt's English texts.
int installQtChineseTranslations(QCoreApplication* app);
