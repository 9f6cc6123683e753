#pragma once

#include "ui/editor_state.h"

#include <QString>

class QTextEdit;
class QWidget;

// The editor commands of a window's body editor (rtfEd), shared by the
// viewer and the compose window: each window hands its own editor, itself
// (for dialogs and the caption) and the desktop services; the state that
// both windows share is the process-wide EditorState.
namespace lumora {

class UiServices;

// The editor's text with CR LF line ends, as files and records keep it.
QString editorText(const QTextEdit* editor);
// Replaces the editor's text; line ends of any kind become line breaks.
void setEditorText(QTextEdit* editor, const QString& text);
// Puts text in at the editor's caret, replacing what is selected there; its
// line ends (CR LF, CR or LF) become the editor's line breaks.
void insertAtCaret(QTextEdit* editor, const QString& text);

// The filter of the open and save dialogs.
inline const QString kTextFileFilter = QStringLiteral("txtファイル(*.txt,*.ini) (*.txt *.ini)");

class EditorCommands {
public:
    EditorCommands(QTextEdit* editor, QWidget* window, UiServices& ui, EditorState& state);

    // Saves a changed document, empties the editor and starts the document
    // "新規作成.TXT" beside the current one (written empty), once a run.
    void newDocument();
    // Reads a text file chosen in the open dialog into the editor, every line
    // ended by CR LF. The current document stays the same.
    void openFile();
    // Prints the selection, or the whole text, in the editor's font, as many
    // copies as the print dialog asks for.
    void print();
    void selectAll();
    void caretToStart();
    void caretToEnd();
    void cut();
    void copy();
    // Puts the clipboard's text, trimmed of spaces, in place of the selection.
    void paste();
    void undo();
    // Turns the style on or off for the editor's whole font, as the shared
    // click counter says.
    void toggle(TextStyle style);

    // The command of a toolbar key ("New", "Open", "Print", "Cut", "Undo",
    // "Copy", "Paste", "Bold", "Italic", "Underline"); false for any other key.
    bool runToolKey(const QString& key);

    // Writes the editor's text to the current document.
    bool save();

private:
    void reportFailure(const QString& what, const QString& detail);

    QTextEdit* editor_;
    QWidget* window_;
    UiServices& ui_;
    EditorState& state_;
};

} // namespace lumora
