#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// Qt's own texts (the buttons of message boxes, the file and print dialogs)
// in Japanese, as the rest of the interface is, whatever the user's locale.
namespace lumora::ui {

// Where Qt's translation files are looked for, first match wins: Qt's own
// folder, then the folder Debian's package of them uses.
QStringList qtTranslationFolders();

// Installs Qt's Japanese translations into app. False, and nothing
// installed, when no translation file is found; the program still runs,
// with Qt's texts in English.
bool installJapaneseQtTexts(QCoreApplication& app, const QStringList& folders);

} // namespace lumora::ui
