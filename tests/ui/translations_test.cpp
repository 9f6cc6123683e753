// Qt's own buttons speak Japanese once its translations are installed.

#include "ui/translations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

class TranslationsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void withoutTheFilesNothingIsInstalled();
    void messageBoxButtonsAreJapanese();
};

void TranslationsTest::withoutTheFilesNothingIsInstalled()
{
    QVERIFY(!lumora::ui::installJapaneseQtTexts(*qApp, {QStringLiteral("/nonexistent")}));
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                    QMessageBox::Yes | QMessageBox::No);
    QVERIFY(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("Yes")));
}

void TranslationsTest::messageBoxButtonsAreJapanese()
{
    QVERIFY(lumora::ui::installJapaneseQtTexts(*qApp, lumora::ui::qtTranslationFolders()));
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    QVERIFY2(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")),
             qPrintable(box.button(QMessageBox::Yes)->text()));
    QVERIFY(box.button(QMessageBox::No)->text().startsWith(QStringLiteral("いいえ")));
    QVERIFY(box.button(QMessageBox::Cancel)->text().startsWith(QStringLiteral("キャンセル")));
    QDialogButtonBox buttons(QDialogButtonBox::Open);
    QVERIFY2(!buttons.button(QDialogButtonBox::Open)->text().contains(QStringLiteral("Open")),
             qPrintable(buttons.button(QDialogButtonBox::Open)->text()));
}

QTEST_MAIN(TranslationsTest)
#include "translations_test.moc"
