#include "compose/write_form.h"

#include "addressbook/address_book.h"
#include "compose/attachment_controls.h"
#include "store/background_job.h"
#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/ui_services.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolBar>

namespace lumora {
namespace {

constexpr int kHelpTop = 3600;
constexpr int kHelpHiddenTop = -4000;
constexpr int kNormalClientHeight = 7600;

const char* const kGreetings[] = {
    "御社益々ご清祥の事とお慶び申し上げます。",
    "平素のご愛顧誠にありがとうございます。",
    "平素は格別のご愛顧を賜り深謝申し上げます。",
    "いつもお世話になっております。",
    "メールありがとうございました。確かに受け取りました。",
    "はじめまして、突然のメールで恐縮です。",
    "こんにちわ。はじめてメールいたします。",
    "こんにちわ。お変わりなく、お元気ですか？",
};

} // namespace

WriteForm::WriteForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context),
      runner_(std::make_unique<compose::SendRunner>(context.mail)),
      job_(std::make_unique<BackgroundJob>())
{
    client_ = ui::makeForm(this, QStringLiteral("WriteForm"), QStringLiteral("新規作成"));
    setAccessibleName(windowTitle());
    setAccessibleDescription(QStringLiteral("新しいメールを書いて送信します。"));
    createControls();
    ui::setFormMenuBar(this, menuBar);
    editor_ = std::make_unique<EditorCommands>(rtfEd, this, context.ui, context.editor);
    attachments_ =
        new AttachmentControls({AttachCommand, Command9, Command10, Command16, List2, AttachText},
                               this, context.ui, context.attachmentListClicks);
    explanations_ = explanationTable();
    quietControls_ = {Frame1, rtfEd, rtfEd->viewport(), Picture3};
    nameControls();
    showStatus(QString());
    connectSignals();
    prepareKeyboard();
    normalHeight_ = ui::twips(kNormalClientHeight) + menuBar->sizeHint().height();
    setWidthTwips(kSmallWidth);
}

WriteForm::~WriteForm()
{
    // A held-mail deletion in hand finishes first; a send in hand ends with
    // the mail it is sending (the runner waits for it).
    job_->wait();
}

void WriteForm::connectSignals()
{
    connect(Command1, &QPushButton::clicked, this, &WriteForm::send);
    connect(Command3, &QPushButton::clicked, this, &WriteForm::stopOrClose);
    connect(Command4, &QPushButton::clicked, this, &WriteForm::showAddressPane);
    connect(Command6, &QPushButton::clicked, this, &WriteForm::narrow);
    connect(Command5, &QPushButton::clicked, this, &WriteForm::pasteIntoBody);
    connect(Command7, &QPushButton::clicked, this, &WriteForm::pasteIntoRecipient);
    connect(Command2, &QPushButton::clicked, this, &WriteForm::pasteHidden);
    connect(Command8, &QPushButton::clicked, this, &WriteForm::emoticonsRequested);
    connect(Command17, &QPushButton::clicked, this, &WriteForm::toggleDrafts);
    connect(Command13, &QPushButton::clicked, this, &WriteForm::hold);
    connect(Command14, &QPushButton::clicked, this, &WriteForm::recall);
    connect(Command15, &QPushButton::clicked, this, &WriteForm::deleteHeld);
    // Clicked by the mouse, the space bar or a screen reader's Toggle alike.
    connect(Option2, &QRadioButton::clicked, this, &WriteForm::chooseBulk);
    connect(Option1, &QRadioButton::clicked, this, &WriteForm::chooseSingle);
    connect(List1, &QListWidget::itemSelectionChanged, this, &WriteForm::listRowSelected);
    connect(Combo1, &QComboBox::activated, this, &WriteForm::greetingChosen);
    connect(Combo1, &QComboBox::editTextChanged, this, &WriteForm::greetingChosen);
    connect(tbToolBar, &QToolBar::actionTriggered, this, &WriteForm::toolbarClicked);
    connect(runner_.get(), &compose::SendRunner::progress, this, &WriteForm::sendProgress);
    connect(runner_.get(), &compose::SendRunner::finished, this, &WriteForm::sendFinished);

    connect(mnew, &QAction::triggered, this, [this] { editor_->newDocument(); });
    connect(mopen, &QAction::triggered, this, [this] { editor_->openFile(); });
    connect(mprint, &QAction::triggered, this, [this] { editor_->print(); });
    connect(mend, &QAction::triggered, this, &QWidget::close);
    connect(mall, &QAction::triggered, this, [this] { editor_->selectAll(); });
    connect(matamajump, &QAction::triggered, this, [this] { editor_->caretToStart(); });
    connect(mbunmatujump, &QAction::triggered, this, [this] { editor_->caretToEnd(); });
    connect(mcut, &QAction::triggered, this, [this] { editor_->cut(); });
    connect(mcopy, &QAction::triggered, this, [this] { editor_->copy(); });
    connect(mpaste, &QAction::triggered, this, [this] { editor_->paste(); });

    // Focus of the greeting box, the status line's double-click, a click or
    // Enter on List1's chosen row, and the mouse over every control with a
    // help text.
    Combo1->installEventFilter(this);
    Label7->installEventFilter(this);
    List1->installEventFilter(this);
    List1->viewport()->installEventFilter(this);
    ui::followMouse({Frame1, rtfEd->viewport(), Picture3}, this);
    ui::followMouse(explanations_, this);
}

void WriteForm::load(bool explanationsShown)
{
    Picture7->setVisible(false);
    ui::setBackgroundColour(List1, ui::paletteColour(15));
    ui::setBackgroundColour(ToText, ui::paletteColour(15));
    List1->setEnabled(true);
    ToText->setEnabled(true);
    attachments_->reset();
    recordIndex_.clear();
    Option2->setEnabled(true);

    Combo1->clear();
    for (const char* phrase : kGreetings) {
        Combo1->addItem(QString::fromUtf8(phrase));
    }
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
    greetingTouched_ = false;

    ui::placeTwips(Text14, 360, explanationsShown ? kHelpTop : kHelpHiddenTop, 6300, 2100);
    listAddressBook();
    takeAsStart();
}

QString WriteForm::explanationFor(const QObject* control) const
{
    return ui::explanationOf(explanations_, control);
}

bool WriteForm::sending() const
{
    return runner_->running();
}

bool WriteForm::busy() const
{
    return runner_->running() || job_->running();
}

void WriteForm::stopSending()
{
    runner_->stop();
    runner_->wait();
}

QStringList WriteForm::attachments() const
{
    return attachments_->files();
}

void WriteForm::insertIntoBody(const QString& text)
{
    insertAtCaret(rtfEd, text);
}

void WriteForm::setWidthTwips(int width)
{
    // The hidden mode's height stays until the window closes.
    setFixedSize(ui::twips(width), hiddenMode_ ? ui::twips(kHiddenModeHeight) : normalHeight_);
    // The address pane is the user's only while the window is wide.
    for (QWidget* pane : {static_cast<QWidget*>(List1), static_cast<QWidget*>(Text1)}) {
        ui::keepFromUser(pane, width < kWideWidth);
    }
}

void WriteForm::listAddressBook()
{
    context_.listMode = 0;
    List1->clear();
    recordIndex_.clear();
    const AddressBook book(context_.paths.addressFile(), context_.paths.addressTemp());
    const Result<QList<AddressEntry>> entries = book.entries();
    if (!entries.ok()) {
        reportFailure(QStringLiteral("アドレス帳を読み込めませんでした。"),
                      entries.status().detail());
    } else {
        qint16 n = 0;
        for (const AddressEntry& entry : entries.value()) {
            List1->addItem(entry.name);
            recordIndex_.append(++n);
        }
    }
    Text1->setText(QString::number(List1->count()));
}

void WriteForm::closeEvent(QCloseEvent* event)
{
    if (busy()) {
        showStatus(runner_->running() ? QStringLiteral("送信中は閉じられません。")
                                      : QStringLiteral("保存が終わるまでお待ち下さい。"));
        event->ignore();
        return;
    }
    if (!std::exchange(discardAgreed_, false) && !mayDiscard()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void WriteForm::toolbarClicked(QAction* action)
{
    // "Save" and "SaveAs" do nothing in this window.
    editor_->runToolKey(action->objectName());
}

void WriteForm::showAddressPane()
{
    ui::setBackgroundColour(List1, ui::paletteColour(15));
    setWidthTwips(kWideWidth);
    listAddressBook();
}

void WriteForm::narrow()
{
    setWidthTwips(kSmallWidth);
    ui::setBackgroundColour(List1, ui::paletteColour(15));
}

void WriteForm::pasteIntoBody()
{
    QTextCursor cursor = rtfEd->textCursor();
    cursor.insertText(text::trimSpaces(context_.ui.clipboardText()));
    rtfEd->setTextCursor(cursor);
}

void WriteForm::pasteIntoRecipient()
{
    ToText->insert(text::trimSpaces(context_.ui.clipboardText()));
}

void WriteForm::pasteHidden()
{
    Text4->setText(context_.ui.clipboardText());
}

void WriteForm::greetingChosen()
{
    greetingTouched_ = true;
}

void WriteForm::applyGreeting()
{
    if (!greetingTouched_) {
        return;
    }
    greetingTouched_ = false;
    // The phrase goes at the start of the body, once; what the user wrote
    // stays after it. One edit of the document, so Undo takes it back.
    const QString phrase = Combo1->currentText();
    const QString body = editorText(rtfEd);
    if (phrase.trimmed().isEmpty() || body.startsWith(phrase)) {
        return;
    }
    QTextCursor cursor(rtfEd->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(body.isEmpty() ? phrase : phrase + u'\n');
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        if (watched == Combo1) {
            // The phrase list's own pop-up takes the focus for a moment.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason) {
                if (event->type() == QEvent::FocusIn) {
                    greetingTouched_ = false;
                } else {
                    applyGreeting();
                }
            }
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == Label7 && ToText->text() == QLatin1String("tobi")) {
            hiddenMode_ = true;
            setFixedSize(width(), ui::twips(kHiddenModeHeight));
            Command2->setVisible(true);
            Command2->setEnabled(true);
            ui::keepFromUser(Text4, false);
        }
        break;
    case QEvent::MouseButtonPress:
        if (watched == List1->viewport()) {
            rowSelectedByPress_ = false;
            pressOnList_ = true;
        }
        break;
    case QEvent::MouseButtonRelease:
        // A press that chose a new row has acted already; a click on the
        // chosen row acts again, as it always did.
        if (watched == List1->viewport() && std::exchange(pressOnList_, false) &&
            !rowSelectedByPress_) {
            listClicked();
        }
        break;
    case QEvent::KeyPress:
        if (watched == List1) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                // The row under the focus frame is chosen (its selection
                // acts), or chosen again.
                QListWidgetItem* current = List1->currentItem();
                if (current && !current->isSelected()) {
                    current->setSelected(true);
                } else {
                    listClicked();
                }
                return true;
            }
        }
        break;
    case QEvent::MouseMove:
        pointerOver(watched, static_cast<QMouseEvent*>(event)->position().toPoint());
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void WriteForm::listRowSelected()
{
    // A screen reader selects a row without making it the current one.
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    if (List1->currentItem() != selected.first()) {
        List1->setCurrentItem(selected.first(), QItemSelectionModel::NoUpdate);
    }
    rowSelectedByPress_ = pressOnList_;
    listClicked();
}

void WriteForm::pointerOver(QObject* watched, const QPoint& position)
{
    for (QWidget* quiet : quietControls_) {
        if (watched == quiet) {
            // A move a control inside passed on to its frame is that
            // control's: its help text stays.
            if (!quiet->childAt(position)) {
                Text14->setVisible(false);
            }
            return;
        }
    }
    const QString help = explanationFor(watched);
    if (!help.isEmpty()) {
        Text14->setVisible(true);
        Text14->setPlainText(help);
    }
}

void WriteForm::reportFailure(const QString& what, const QString& detail)
{
    context_.ui.inform(this,
                       detail.isEmpty() ? what : what + QStringLiteral("\n（") + detail + u'）',
                       QString(), MessageIcon::Critical);
}

} // namespace lumora
