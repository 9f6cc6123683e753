#include "viewer/tyaku_form.h"

#include "store/background_job.h"
#include "store/numeric_text.h"
#include "store/paths.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "store/text_file.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/list_header.h"
#include "ui/ui_services.h"
#include "viewer/mail_list_model.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <algorithm>

namespace lumora {
namespace {

// Where the explanation box sits when explanations are shown, and out of
// sight otherwise (twips from the top).
constexpr int kExplanationTop = 3600;
constexpr int kExplanationHiddenTop = -4000;
constexpr int kStatusBarHeight = 375;
// How often the load step tries a failing step again when the user says OK.
constexpr int kLoadTries = 3;

const QColor kListColour(210, 250, 250);

QString shownText(const QString& field)
{
    return text::trimSpaces(text::CutAtNul(field));
}

// Shows the start of a long text, not its end.
void setField(QLineEdit* box, const QString& text)
{
    box->setText(text);
    box->setCursorPosition(0);
}

} // namespace

TyakuForm::TyakuForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context),
      model_(std::make_unique<MailListModel>(context.paths.receivedFile())),
      job_(std::make_unique<BackgroundJob>()), lossJob_(std::make_unique<BackgroundJob>()),
      sortJob_(std::make_unique<BackgroundJob>()), searchJob_(std::make_unique<BackgroundJob>()),
      indexJob_(std::make_unique<BackgroundJob>())
{
    client_ = ui::makeForm(this, QStringLiteral("TyakuForm"), QStringLiteral("着信履歴"));
    setAccessibleName(windowTitle());
    setAccessibleDescription(QStringLiteral("受信したメールの一覧と、選んだメールの本文です。"));
    createControls();
    ui::setFormMenuBar(this, menuBar);
    editor_ = std::make_unique<EditorCommands>(rtfEd, this, context.ui, context.editor);
    MailListView->setModel(model_.get());
    explanations_ = explanationTable();
    nameControls();
    showStatus(QString());
    connectSignals();
    prepareKeyboard();
    resize(ui::twips(9345), ui::twips(7320) + menuBar->sizeHint().height());
}

TyakuForm::~TyakuForm()
{
    indexStop_ = true; // the index keeps what it has and goes on next time
    // A deletion in hand finishes before the window goes: the file is never
    // left half rewritten.
    if (job_->running()) {
        job_->wait();
    }
}

void TyakuForm::connectSignals()
{
    connect(Command1, &QPushButton::clicked, this, &TyakuForm::copyHeaderField);
    connect(Command2, &QPushButton::clicked, this, &TyakuForm::quickSave);
    connect(Command3, &QPushButton::clicked, this, &TyakuForm::deleteSelected);
    connect(Command4, &QPushButton::clicked, this, &TyakuForm::registerSender);
    connect(Command5, &QPushButton::clicked, this, &TyakuForm::startReply);
    connect(Command6, &QPushButton::clicked, this, &TyakuForm::deleteAll);
    connect(tbToolBar, &QToolBar::actionTriggered, this, &TyakuForm::toolbarClicked);
    connect(Text2, &QLineEdit::textChanged, this, &TyakuForm::countChanged);
    connect(rtfEd, &QTextEdit::textChanged, this, &TyakuForm::bodyChanged);

    connect(mnew, &QAction::triggered, this, [this] { editor_->newDocument(); });
    connect(mopen, &QAction::triggered, this, [this] { editor_->openFile(); });
    connect(msave, &QAction::triggered, this, &TyakuForm::saveAs);
    connect(mprint, &QAction::triggered, this, [this] { editor_->print(); });
    connect(moriginal, &QAction::triggered, this, &TyakuForm::showOriginal);
    connect(msaveoriginal, &QAction::triggered, this, &TyakuForm::saveOriginal);
    connect(mexport, &QAction::triggered, this, &TyakuForm::exportMail);
    connect(mimport, &QAction::triggered, this, &TyakuForm::importMail);
    connect(mend, &QAction::triggered, this, &QWidget::close);
    connect(mall, &QAction::triggered, this, [this] { editor_->selectAll(); });
    connect(matamajump, &QAction::triggered, this, [this] { editor_->caretToStart(); });
    connect(mbunmatujump, &QAction::triggered, this, [this] { editor_->caretToEnd(); });
    connect(mkensaku, &QAction::triggered, this, &TyakuForm::search);
    connect(mtugikensaku, &QAction::triggered, this, &TyakuForm::findNext);
    connect(mcut, &QAction::triggered, this, [this] { editor_->cut(); });
    connect(mcopy, &QAction::triggered, this, [this] { editor_->copy(); });
    connect(mpaste, &QAction::triggered, this, [this] { editor_->paste(); });

    // A row chosen by the mouse, the keyboard or a screen reader.
    connect(MailListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TyakuForm::rowSelected);
    connect(MailListView, &QAbstractItemView::clicked, this, &TyakuForm::rowChosen);
    connect(MailListView, &QAbstractItemView::activated, this, &TyakuForm::rowChosen);
    connect(Text1, &QLineEdit::returnPressed, this, &TyakuForm::search);
    connect(MailListView->header(), &QHeaderView::sectionClicked, this, &TyakuForm::sortClicked);
    searchDelay_ = new QTimer(this);
    searchDelay_->setSingleShot(true);
    searchDelay_->setInterval(120);
    connect(SearchText, &QLineEdit::textChanged, this, &TyakuForm::searchTextChanged);
    connect(searchDelay_, &QTimer::timeout, this, &TyakuForm::searchAllMail);
    SearchText->installEventFilter(this);
    connect(msortsubject, &QAction::triggered, this, [this] { sortClicked(0); });
    connect(msortsender, &QAction::triggered, this, [this] { sortClicked(1); });
    connect(msortdate, &QAction::triggered, this, [this] { sortClicked(2); });
    connect(mrecordorder, &QAction::triggered, this, [this] {
        sortOrder_ = {};
        applySort();
    });
    auto* findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, &TyakuForm::focusSearch);
    mtugikensaku->setShortcut(QKeySequence(Qt::Key_F3));

    // The mouse: explanations, the copy field, the row click, and the layout
    // on a move over the bare background.
    ui::followMouse({client_, MailListView->viewport(), rtfEd->viewport(), Text7, Text8, Text9},
                    this);
    MailListView->installEventFilter(this);
    ui::followMouse(explanations_, this);
}

void TyakuForm::load(bool explanationsShown)
{
    ui::placeTwips(Text4, 1320, explanationsShown ? kExplanationTop : kExplanationHiddenTop, 5535,
                   1935);
    const int width = MailListView->width();
    MailListView->setColumnWidth(0, width / 2);
    MailListView->setColumnWidth(1, width / 4);
    MailListView->setColumnWidth(2, width / 4);
    ui::installPaintedHeader(MailListView);
    place(rtfEd, layout_.body);
    loadCurrentDocument();
}

void TyakuForm::loadCurrentDocument()
{
    // Nothing to load before the editor has a document.
    const QString path = context_.editor.CurrentFilePath;
    if (path.isEmpty()) {
        return;
    }
    lstLst->setVisible(false);
    context_.editor.caretPositions[0] = context_.editor.caretPositions[1];
    context_.editor.caretPositions[1] = rtfEd->textCursor().position();
    for (int tries = 0; tries < kLoadTries; ++tries) {
        const Result<QString> text = textfile::read(path);
        if (text.ok()) {
            setEditorText(rtfEd, text.value());
            context_.editor.EditorModified = false;
            break;
        }
        if (!context_.ui.confirm(this, QStringLiteral("文書を読み込めませんでした。\n") + path,
                                 kAppTitle + QStringLiteral("  Form_LoadError"),
                                 MessageIcon::Warning)) {
            break;
        }
    }
    rtfEd->setVisible(true);
}

QString TyakuForm::explanationFor(const QObject* control) const
{
    return ui::explanationOf(explanations_, control);
}

bool TyakuForm::rewriting() const
{
    return job_->running();
}

void TyakuForm::openAndFill()
{
    show();
    raise();
    activateWindow();
    setWindowTitle(QStringLiteral("着信履歴"));
    context_.listMode = 1;
    ui::setBackgroundColour(MailListView, kListColour);
    rtfEd->clear();
    fillRows();
}

void TyakuForm::fillRows(QList<int> order)
{
    const QScopedValueRollback listing(listing_, true);
    model_->reload(std::move(order));
    ++listings_;
    filled_ = true;
    const int count = model_->rowCount();
    if (count > 0) {
        // The newest mail, wherever a kept order lists it.
        const int newest = std::max(model_->rowOf(static_cast<int>(model_->recordCount()) - 1), 0);
        showRow(newest);
        // The arrow keys start from the mail shown, which is not chosen yet.
        MailListView->selectionModel()->setCurrentIndex(model_->index(newest, 0),
                                                        QItemSelectionModel::NoUpdate);
    }
    Text2->setText(QString::number(count));
    if (sortOrder_.column != viewer::SortColumn::None) {
        applySort();
    }
    updateIndex();
}

bool TyakuForm::showRow(int row)
{
    const Result<MailRecord> record = model_->record(row);
    if (!record.ok()) {
        reportFailure(QStringLiteral("メールを読み込めませんでした。"),
                      context_.paths.receivedFile());
        return false;
    }
    const MailRecord& mail = record.value();
    context_.recordBuffer.set(mail);
    shown_ = {model_->recordAt(row) + 1, mail.bytes()};
    setField(Text7, shownText(mail.subject()));
    setField(Text8, shownText(mail.from()));
    setField(Text9, shownText(mail.date()));
    setEditorText(rtfEd, shownText(mail.body()));
    passBodyThroughClipboard();
    noteLoss();
    return true;
}

void TyakuForm::passBodyThroughClipboard()
{
    // The shown body stays on the clipboard, for pasting elsewhere.
    const QString shown = rtfEd->toPlainText();
    context_.ui.setClipboardText(shown);
    const QString back = text::trimSpaces(context_.ui.clipboardText());
    if (back != shown) {
        setEditorText(rtfEd, back);
    }
}

void TyakuForm::showReceivedMail(const QString& subject, const QString& from, const QString& date,
                                 const QString& body)
{
    shown_ = {}; // no row of the list
    setField(Text7, subject);
    setField(Text8, from);
    setField(Text9, date);
    setEditorText(rtfEd, body);
}

void TyakuForm::receiveEnded()
{
    if (filled_ && !rewriting()) {
        const QScopedValueRollback listing(listing_, true);
        model_->refreshCount();
        Text2->setText(QString::number(model_->rowCount()));
        if (sortOrder_.column != viewer::SortColumn::None) {
            applySort(); // the new mails take their places
        }
        updateIndex();
    }
}

int TyakuForm::selectedRow() const
{
    const QModelIndexList rows = MailListView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TyakuForm::clearFields()
{
    shown_ = {};
    Text7->clear();
    Text8->clear();
    Text9->clear();
    rtfEd->clear();
}

void TyakuForm::toolbarClicked(QAction* action)
{
    const QString key = action->objectName();
    if (key == QLatin1String("Save") || key == QLatin1String("SaveAs")) {
        saveAs();
    } else {
        editor_->runToolKey(key);
    }
}

void TyakuForm::bodyChanged()
{
    context_.editor.EditorModified = true;
}

void TyakuForm::place(QWidget* control, const viewer::TwipsRect& rect)
{
    ui::placeTwips(control, rect.left, rect.top, rect.width, rect.height);
}

void TyakuForm::layOut()
{
    Text6->setVisible(true);
    Command2->setVisible(true);
    const int clientWidth = ui::pixelsToTwips(client_->width());
    const int statusTop = ui::pixelsToTwips(client_->height()) - kStatusBarHeight;
    ui::placeTwips(StatusBar1, 0, statusTop, clientWidth, kStatusBarHeight);
    const QRect outer = frameGeometry();
    layout_.apply(ui::pixelsToTwips(outer.width()), ui::pixelsToTwips(outer.height()), 0, statusTop,
                  isMaximized());
    place(MailListView, layout_.list);
    place(Text7, layout_.subject);
    place(Text8, layout_.sender);
    place(Text9, layout_.date);
    place(Picture1, layout_.toolbarPanel);
    place(rtfEd, layout_.body);
    place(Text6, layout_.copyField);
    place(Command1, layout_.copyButton);
}

void TyakuForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void TyakuForm::reportFailure(const QString& what, const QString& detail)
{
    context_.ui.inform(this, what + QLatin1Char('\n') + detail, {}, MessageIcon::Warning);
}

void TyakuForm::closeEvent(QCloseEvent* event)
{
    if (job_->running() || exchanging_) {
        event->ignore(); // the deletion finishes first
        return;
    }
    ui::removePaintedHeader(MailListView);
    event->accept();
}

} // namespace lumora
