// Qt's own texts (standard buttons, the folder dialog) in Chinese once the
// viewer has installed Qt's translations, as main() does at start-up.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "QtTranslations.h"

class tst_QuarrowTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void standardButtonsReadInChinese_data();
    void standardButtonsReadInChinese();
    void folderDialogReadsInChinese();
};

void tst_QuarrowTranslations::initTestCase()
{
    const QString catalogue = QLibraryInfo::location(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
    if (!QFileInfo::exists(catalogue))
        QSKIP("Qt's Chinese translations are not installed (qttranslations5-l10n)");
    QVERIFY(installQtChineseTranslations(qApp) >= 1);
}

void tst_QuarrowTranslations::standardButtonsReadInChinese_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("OK") << int(QDialogButtonBox::Ok) << QStringLiteral("确定");
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << QStringLiteral("取消");
}

void tst_QuarrowTranslations::standardButtonsReadInChinese()
{
    QFETCH(int, button);
    QFETCH(QString, text);
    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("路径无效"),
                    QMessageBox::StandardButtons(button));
    QCOMPARE(box.button(QMessageBox::StandardButton(button))->text().remove(QLatin1Char('&')), text);
}

// Qt's own folder dialog (never a platform one): its labels are Chinese.
void tst_QuarrowTranslations::folderDialogReadsInChinese()
{
    QFileDialog dialog(nullptr, QStringLiteral("请选择文件存储路径"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        texts << label->text();
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        texts << button->text();
    QVERIFY2(!texts.contains(QStringLiteral("Look in:")) && !texts.contains(QStringLiteral("&Choose"))
                 && !texts.contains(QStringLiteral("Cancel")),
             qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY2(texts.contains(QStringLiteral("取消")), qPrintable(texts.join(QLatin1Char('|'))));
}

QTEST_MAIN(tst_QuarrowTranslations)
#include "tst_quarrow_translations.moc"
