#include "emoticons/kao_form.h"

#include "emoticons/emoticon_page.h"
#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/ui_services.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

namespace lumora {

KaoForm::KaoForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context)
{
    client_ = ui::makeForm(this, QStringLiteral("KaoForm"), QStringLiteral("絵・顔文字"));
    createControls();
    nameControls();
    connectSignals();
    // Tab moves on from the page: a tab typed into it would be saved with it.
    Kao1->setTabChangesFocus(true);
    ui::prepareKeyboard(this, ui::EscapeKey::Closes);
    ui::setTabChain({Kao1, Command1, Command2, Command3});
    setFixedSize(ui::twips(8460), ui::twips(6660));
}

void KaoForm::createControls()
{
    Label1 = ui::label(client_, "Label1", QStringLiteral("①挿入した範囲をマウスで選択（青色反転）"),
                       120, 90, 8220, 300);
    Label2 = ui::label(client_, "Label2",
                       QStringLiteral("①挿入する場所を選択。「新規作成」または「返事を書く」"), 120,
                       390, 8220, 300);
    Kao1 = new QPlainTextEdit(client_);
    Kao1->setObjectName(QStringLiteral("Kao1"));
    Kao1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Kao1->setFont(ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 10.5));
    ui::placeTwips(Kao1, 120, 720, 8220, 4380);
    Command1 = ui::pushButton(client_, "Command1", QStringLiteral("挿入（新規作成）"), 120, 5220,
                              2500, 420);
    Command2 = ui::pushButton(client_, "Command2", QStringLiteral("挿入（返事を書く）"), 2740, 5220,
                              2500, 420);
    Command3 =
        ui::pushButton(client_, "Command3", QStringLiteral("編集（貼付）"), 5360, 5220, 2000, 420);
    Label3 = ui::label(client_, "Label3",
                       QStringLiteral("※名前他を編集すると自動で保存されます。新データの追加は編集"
                                      "　　　（貼付）で行います。"),
                       120, 5760, 8220, 600);
    Label3->setWordWrap(true);
}

void KaoForm::nameControls()
{
    ui::nameCaptionedControls(this);
    Kao1->setAccessibleName(QStringLiteral("顔文字"));
    Kao1->setAccessibleDescription(Label1->text() + u'\n' + Label2->text());
    for (QLabel* label : {Label1, Label2, Label3}) {
        label->setAccessibleName(label->text());
    }
    Command1->setAccessibleDescription(
        QStringLiteral("選択した範囲を新規作成の本文に挿入します。"));
    Command2->setAccessibleDescription(QStringLiteral("選択した範囲を返事の本文に挿入します。"));
    Command3->setAccessibleDescription(Label3->text());
}

void KaoForm::connectSignals()
{
    connect(Command1, &QPushButton::clicked, this, &KaoForm::insertIntoCompose);
    connect(Command2, &QPushButton::clicked, this, &KaoForm::insertIntoReply);
    connect(Command3, &QPushButton::clicked, this, &KaoForm::pasteIntoPage);
    connect(Kao1, &QPlainTextEdit::textChanged, this, [this] { writeBack_ = true; });
}

void KaoForm::load()
{
    const QString path = context_.paths.emoticonFile();
    const Result<QString> page = emoticons::readPage(path);
    Kao1->setPlainText(page.ok() ? page.value() : QString());
    if (page.ok()) {
        return;
    }
    if (page.status().error() == StoreError::NotFound) {
        context_.ui.inform(
            this, QStringLiteral("顔文字データ（%1）が見つかりません。空のページで開きます。"
                                 "閉じるときに新しく保存されます。")
                      .arg(path));
        return;
    }
    // A page that is there but cannot be read is not replaced by an empty one.
    writeBack_ = false;
    context_.ui.inform(
        this,
        QStringLiteral("顔文字データを読み込めませんでした。\n（%1）").arg(page.status().detail()),
        QString(), MessageIcon::Critical);
}

bool KaoForm::savePage()
{
    if (!writeBack_) {
        return true;
    }
    const Status status = emoticons::writePage(context_.paths.emoticonFile(), Kao1->toPlainText());
    if (status.ok()) {
        return true;
    }
    context_.ui.inform(this,
                       QStringLiteral("顔文字データを保存できませんでした。ページはそのまま開いて"
                                      "います。\n（%1）")
                           .arg(status.detail()),
                       QString(), MessageIcon::Critical);
    return false;
}

QString KaoForm::takeMarkedPiece()
{
    Kao1->setVisible(false);
    QTextCursor cursor = Kao1->textCursor();
    const int after = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    QString marked = cursor.selectedText();
    marked.replace(QChar::ParagraphSeparator, u'\n');
    context_.ui.setClipboardText(marked);
    cursor.clearSelection();
    cursor.setPosition(after);
    Kao1->setTextCursor(cursor);
    Kao1->setVisible(true);
    Kao1->setFocus();
    return text::trimSpaces(context_.ui.clipboardText());
}

void KaoForm::insertIntoCompose()
{
    Q_EMIT insertForCompose(takeMarkedPiece());
    close();
}

void KaoForm::insertIntoReply()
{
    Q_EMIT insertForReply(takeMarkedPiece());
    close();
}

void KaoForm::pasteIntoPage()
{
    Kao1->setFocus();
    Kao1->setVisible(false);
    Kao1->insertPlainText(text::trimSpaces(context_.ui.clipboardText()));
    Kao1->setVisible(true);
    Kao1->setFocus();
}

void KaoForm::closeEvent(QCloseEvent* event)
{
    if (!savePage()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace lumora
