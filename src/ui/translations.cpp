#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace lumora::ui {

QStringList qtTranslationFolders()
{
    QStringList folders = {QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    const QString debian = QStringLiteral("/usr/share/qt6/translations");
    if (!folders.contains(debian)) {
        folders.append(debian);
    }
    return folders;
}

bool installJapaneseQtTexts(QCoreApplication& app, const QStringList& folders)
{
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    for (const QString& folder : folders) {
        auto* translator = new QTranslator(&app);
        // "qt_ja" pulls in qtbase_ja and the other modules' files.
        if (translator->load(japanese, QStringLiteral("qt"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
        delete translator;
    }
    return false;
}

} // namespace lumora::ui
