#pragma once

#include "compose/attachment_list.h"

#include <QObject>

#include <optional>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

// The attachment buttons of a mail window: "添付File" for the first file,
// "追加" for each further one, "取り消し" to drop them all and "リスト" to
// show or hide the list of file names. The compose and the reply window each
// hand theirs to one of these.
namespace lumora {

class UiServices;

class AttachmentControls : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QPushButton* first;  // AttachCommand "添付File"
        QPushButton* add;    // "追加"
        QPushButton* cancel; // "取り消し"
        QPushButton* list;   // "リスト", or none (the reply window has none)
        QListWidget* names;  // List2
        QLineEdit* text;     // AttachText
    };

    // listClicks is the process-wide click counter of "リスト".
    AttachmentControls(Controls controls, QWidget* window, UiServices& ui, int& listClicks);

    // The files to send: the list as chosen, or as the box was edited.
    QStringList files();
    // What the window's opening sets: all three buttons enabled, no list shown.
    void reset();
    // What a send does first: "追加" off, the list hidden, "添付File" on.
    void prepareSend();

public Q_SLOTS:
    void chooseFirst();
    void chooseMore();
    void cancelAll();
    void toggleList();

private:
    std::optional<QString> chooseFile();

    Controls c_;
    QWidget* window_;
    UiServices& ui_;
    int& listClicks_;
    compose::AttachmentList list_;
};

} // namespace lumora
