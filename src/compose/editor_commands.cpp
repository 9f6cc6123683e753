#include "compose/editor_commands.h"

#include "store/text_codec.h"
#include "store/text_file.h"
#include "ui/ui_services.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <functional>

namespace lumora {
namespace {

// Text with the editor's paragraph separators as line feeds.
QString withLineFeeds(QString text)
{
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

} // namespace

QString editorText(const QTextEdit* editor)
{
    // The raw text keeps no-break spaces, which toPlainText() would turn
    // into plain spaces.
    return textfile::withCrLf(withLineFeeds(editor->document()->toRawText()));
}

void setEditorText(QTextEdit* editor, const QString& text)
{
    editor->setPlainText(text);
}

void insertAtCaret(QTextEdit* editor, const QString& text)
{
    QString lines = textfile::withCrLf(text);
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor = editor->textCursor();
    cursor.insertText(lines);
    editor->setTextCursor(cursor);
}

EditorCommands::EditorCommands(QTextEdit* editor, QWidget* window, UiServices& ui,
                               EditorState& state)
    : editor_(editor), window_(window), ui_(ui), state_(state)
{
}

void EditorCommands::newDocument()
{
    if (state_.CurrentFilePath.contains(kNewDocumentName)) {
        return;
    }
    if (state_.EditorModified && !state_.CurrentFilePath.isEmpty()) {
        save();
    }
    editor_->clear();
    state_.CurrentFilePath = EditorState::newDocumentPath(state_.CurrentFilePath);
    save();
    state_.EditorModified = false;
    window_->setWindowTitle(kNewDocumentName + QStringLiteral("      ") + state_.CurrentFilePath);
}

bool EditorCommands::save()
{
    const Status status = textfile::write(state_.CurrentFilePath, editorText(editor_));
    if (!status.ok()) {
        reportFailure(QStringLiteral("ファイルを保存できませんでした。"), state_.CurrentFilePath);
        return false;
    }
    state_.EditorModified = false;
    return true;
}

void EditorCommands::openFile()
{
    const std::optional<QString> chosen =
        ui_.openFileName(window_, QStringLiteral("開く"), {}, kTextFileFilter);
    if (!chosen) {
        return;
    }
    const Result<QString> contents = textfile::read(*chosen);
    if (!contents.ok()) {
        reportFailure(QStringLiteral("ファイルを読み込めませんでした。"), *chosen);
        return;
    }
    // Every line, the last included, ends with a line break.
    QString text = textfile::withCrLf(contents.value());
    if (!text.isEmpty() && !text.endsWith(QStringLiteral("\r\n"))) {
        text += QStringLiteral("\r\n");
    }
    setEditorText(editor_, text);
    editor_->setFocus();
}

void EditorCommands::print()
{
    const QTextCursor cursor = editor_->textCursor();
    const bool selection = cursor.hasSelection();
    const QString text =
        selection ? withLineFeeds(cursor.selectedText()) : editor_->document()->toRawText();
    QPrinter printer(QPrinter::HighResolution);
    if (!ui_.choosePrinter(window_, printer, selection)) {
        return;
    }
    QTextDocument document;
    QFont font(editor_->font().family());
    font.setPointSizeF(editor_->font().pointSizeF());
    font.setBold(editor_->font().bold());
    font.setItalic(editor_->font().italic());
    document.setDefaultFont(font);
    document.setPlainText(withLineFeeds(text));
    // The text is printed once for each copy asked for, in one job.
    const int copies = std::max(1, printer.copyCount());
    printer.setCopyCount(1);
    QPainter painter;
    bool printed = painter.begin(&printer);
    if (printed) {
        document.documentLayout()->setPaintDevice(&printer);
        const QSizeF page = printer.pageRect(QPrinter::DevicePixel).size();
        document.setPageSize(page);
        const int pages = document.pageCount();
        for (int copy = 0; copy < copies && printed; ++copy) {
            for (int p = 0; p < pages && printed; ++p) {
                if ((copy > 0 || p > 0) && !printer.newPage()) {
                    printed = false;
                    break;
                }
                painter.save();
                painter.translate(0, -p * page.height());
                document.drawContents(&painter, QRectF(QPointF(0, p * page.height()), page));
                painter.restore();
            }
        }
        printed = painter.end() && printed;
    }
    if (!printed || printer.printerState() == QPrinter::Error) {
        reportFailure(QStringLiteral("印刷できませんでした。"), printer.outputFileName().isEmpty()
                                                                    ? printer.printerName()
                                                                    : printer.outputFileName());
    }
}

void EditorCommands::selectAll()
{
    editor_->selectAll();
}

void EditorCommands::caretToStart()
{
    QTextCursor cursor = editor_->textCursor();
    cursor.movePosition(QTextCursor::Start);
    editor_->setTextCursor(cursor);
    editor_->setFocus();
}

void EditorCommands::caretToEnd()
{
    QTextCursor cursor = editor_->textCursor();
    cursor.movePosition(QTextCursor::End);
    editor_->setTextCursor(cursor);
    editor_->setFocus();
}

void EditorCommands::cut()
{
    QTextCursor cursor = editor_->textCursor();
    ui_.setClipboardText(withLineFeeds(cursor.selectedText()));
    cursor.removeSelectedText();
    editor_->setTextCursor(cursor);
    editor_->setFocus();
}

void EditorCommands::copy()
{
    QTextCursor cursor = editor_->textCursor();
    const int end = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    ui_.setClipboardText(withLineFeeds(cursor.selectedText()));
    cursor.clearSelection();
    cursor.setPosition(end);
    editor_->setTextCursor(cursor);
    editor_->setFocus();
}

void EditorCommands::paste()
{
    QTextCursor cursor = editor_->textCursor();
    // Pasted text takes the editor's own format, not the one of the text it
    // lands beside.
    cursor.insertText(text::trimSpaces(ui_.clipboardText()), QTextCharFormat());
    editor_->setTextCursor(cursor);
    editor_->setFocus();
}

bool EditorCommands::runToolKey(const QString& key)
{
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"New",
         [this] {
             newDocument();
         }},
        {"Open",
         [this] {
             openFile();
         }},
        {"Print",
         [this] {
             print();
         }},
        {"Cut",
         [this] {
             cut();
         }},
        {"Undo",
         [this] {
             undo();
         }},
        {"Copy",
         [this] {
             copy();
         }},
        {"Paste",
         [this] {
             paste();
         }},
        {"Bold",
         [this] {
             toggle(TextStyle::Bold);
         }},
        {"Italic",
         [this] {
             toggle(TextStyle::Italic);
         }},
        {"Underline",
         [this] {
             toggle(TextStyle::Underline);
         }},
    };
    for (const auto& [name, command] : commands) {
        if (key == QLatin1String(name)) {
            command();
            return true;
        }
    }
    return false;
}

void EditorCommands::undo()
{
    editor_->undo();
}

void EditorCommands::toggle(TextStyle style)
{
    const bool on = state_.toggle(style);
    QFont font = editor_->font();
    switch (style) {
    case TextStyle::Bold:
        font.setBold(on);
        break;
    case TextStyle::Italic:
        font.setItalic(on);
        break;
    case TextStyle::Underline:
        font.setUnderline(on);
        break;
    }
    editor_->setFont(font);
}

void EditorCommands::reportFailure(const QString& what, const QString& detail)
{
    ui_.inform(window_, what + QLatin1Char('\n') + detail, {}, MessageIcon::Warning);
}

} // namespace lumora
