#include "addressbook/friend_form.h"

#include "addressbook/address_book.h"
#include "store/text_codec.h"
#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/limited_text.h"
#include "ui/list_header.h"
#include "ui/ui_services.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace lumora {

namespace {

constexpr int kAddressLimit = 60;
constexpr int kNameLimit = 30;
// Where the explanation box sits, in twips from the top, when explanations
// are shown, and where it is kept out of sight otherwise.
constexpr int kExplanationTop = 3240;
constexpr int kExplanationHiddenTop = -4000;
constexpr int kExplanationLeft = 120;
constexpr int kExplanationWidth = 6360;
constexpr int kExplanationHeight = 1500;

const QString kNotSelected = QStringLiteral("データが選択されていません");

QLineEdit* textBox(QWidget* parent, const QString& name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    return box;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

void label(QWidget* parent, const QString& text, int l, int t, int w, int h)
{
    auto* lab = new QLabel(text, parent);
    lab->setWordWrap(true);
    ui::placeTwips(lab, l, t, w, h);
}

} // namespace

FriendForm::FriendForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context),
      book_(std::make_unique<AddressBook>(context.paths.addressFile(), context.paths.addressTemp()))
{
    setObjectName(QStringLiteral("FriendForm"));
    setWindowTitle(QStringLiteral("アドレス帳"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ui::twips(6600), ui::twips(6240));
    createControls();
    connectSignals();
    nameControls();
    prepareKeyboard();
}

void FriendForm::nameControls()
{
    ui::nameCaptionedControls(this);
    // The two paste buttons share a caption; their names say where each
    // pastes.
    const std::pair<QWidget*, const char*> roles[] = {
        {Text4, "メールアドレス"},
        {Text2, "名前（名称）"},
        {Text50, "名刺"},
        {Text3, "登録件数"},
        {Label7, "状態"},
        {Text5, "説明"},
        {Command1, "メールアドレスに貼付"},
        {Command5, "名前に貼付"},
    };
    for (const auto& [control, name] : roles) {
        control->setAccessibleName(QString::fromUtf8(name));
    }
    ui::describeControls(explanations_);
    // The reload button and the explanation box (each explanation is its
    // button's description) are not the user's.
    ui::keepFromUser(Command2);
    ui::keepFromUser(Text5);
}

void FriendForm::prepareKeyboard()
{
    ui::prepareKeyboard(this, ui::EscapeKey::Closes);
    ui::setTabChain({Text4, Command1, Text2, Command5, Text50, Command38, Command3, Command4, Text3,
                     MailListView});
}

FriendForm::~FriendForm() = default;

void FriendForm::createControls()
{
    label(this, QStringLiteral("メールアドレス"), 120, 150, 1320, 270);
    Text4 = textBox(this, QStringLiteral("Text4"));
    ui::limitCharacters(Text4, kAddressLimit);
    ui::placeTwips(Text4, 1440, 120, 3960, 330);
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("貼付"));
    ui::placeTwips(Command1, 5520, 120, 900, 330);

    label(this, QStringLiteral("名前（名称）"), 120, 570, 1320, 270);
    Text2 = textBox(this, QStringLiteral("Text2"));
    ui::limitCharacters(Text2, kNameLimit);
    ui::placeTwips(Text2, 1440, 540, 2640, 330);
    Command5 = button(this, QStringLiteral("Command5"), QStringLiteral("貼付"));
    ui::placeTwips(Command5, 4200, 540, 900, 330);

    label(this, QStringLiteral("名刺"), 120, 990, 1320, 270);
    Text50 = textBox(this, QStringLiteral("Text50"));
    ui::placeTwips(Text50, 1440, 960, 2640, 330);
    Command38 = button(this, QStringLiteral("Command38"), QStringLiteral("名刺挿入"));
    ui::placeTwips(Command38, 4200, 960, 1200, 330);

    label(this, QStringLiteral("名刺は新規作成で宛先を一発挿入した際の確認用として使用します。"),
          120, 1380, 6360, 450);

    Command3 = button(this, QStringLiteral("Command3"), QStringLiteral("登録"));
    ui::placeTwips(Command3, 120, 1920, 1200, 420);
    Command4 = button(this, QStringLiteral("Command4"), QStringLiteral("削除"));
    ui::placeTwips(Command4, 1440, 1920, 1200, 420);
    label(this, QStringLiteral("登録件数"), 4200, 1995, 960, 270);
    Text3 = textBox(this, QStringLiteral("Text3"));
    Text3->setReadOnly(true);
    Text3->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text3, 5160, 1965, 900, 330);

    // Reloading is a button of its own, out of the user's reach.
    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral("Command2"));
    ui::placeTwips(Command2, -3000, -3000, 900, 330);

    Label7 = new QLabel(this);
    Label7->setObjectName(QStringLiteral("Label7"));
    ui::placeTwips(Label7, 120, 2460, 6360, 270);

    MailListView = new QTreeWidget(this);
    MailListView->setObjectName(QStringLiteral("MailListView"));
    MailListView->setRootIsDecorated(false);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MailListView->setUniformRowHeights(true);
    // Entries keep their padding; it must not turn into an ellipsis.
    MailListView->setTextElideMode(Qt::ElideNone);
    ui::placeTwips(MailListView, 120, 2820, 6360, 3240);

    Text5 = new QPlainTextEdit(this);
    Text5->setObjectName(QStringLiteral("Text5"));
    Text5->setReadOnly(true);
    Text5->setVisible(false);
    ui::placeTwips(Text5, kExplanationLeft, kExplanationTop, kExplanationWidth, kExplanationHeight);

    explanations_ = {
        {Command1, QStringLiteral("コピーして来たメールアドレスを貼り付けます。")},
        {Command3, QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの"
                                  "一発入力が可能になります。")},
        {Command4, QStringLiteral("不要になったメールアドレスを削除します。")},
        {Command38, QStringLiteral("メールアドレスに名刺（名前）を付けると、"
                                   "「名刺<メールアドレス>」の形で登録され、"
                                   "新規作成で宛先に挿入したとき相手にもその名前で"
                                   "表示されます。\n\n"
                                   "必要なければ挿入する必要はありません。")},
    };
    createExchangeActions();
}

void FriendForm::connectSignals()
{
    connect(Command1, &QPushButton::clicked, this, &FriendForm::pasteAddress);
    connect(Command5, &QPushButton::clicked, this, &FriendForm::pasteName);
    connect(Command38, &QPushButton::clicked, this, &FriendForm::insertBusinessCard);
    connect(Command3, &QPushButton::clicked, this, &FriendForm::registerEntry);
    connect(Command4, &QPushButton::clicked, this, &FriendForm::deleteEntry);
    connect(Command2, &QPushButton::clicked, this, &FriendForm::reloadList);
    // An entry chosen by the mouse, the keyboard or a screen reader; a click
    // or Enter on the chosen entry shows it again.
    connect(MailListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FriendForm::selectEntry);
    connect(MailListView, &QTreeWidget::clicked, this, &FriendForm::selectEntry);
    connect(MailListView, &QTreeWidget::activated, this, &FriendForm::selectEntry);
    connect(mimportaddresses, &QAction::triggered, this, &FriendForm::importAddresses);
    connect(mexportaddresses, &QAction::triggered, this, &FriendForm::exportAddresses);

    // Explanations follow the mouse: a button shows its own, the window's
    // background hides the box.
    ui::followMouse({this}, this);
    ui::followMouse(explanations_, this);
}

void FriendForm::load(bool explanationsShown)
{
    ui::placeTwips(Text5, kExplanationLeft,
                   explanationsShown ? kExplanationTop : kExplanationHiddenTop, kExplanationWidth,
                   kExplanationHeight);

    MailListView->setColumnCount(2);
    MailListView->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
    const int width = MailListView->width();
    MailListView->header()->setStretchLastSection(false);
    MailListView->setColumnWidth(0, width / 2);
    MailListView->setColumnWidth(1, static_cast<int>(width / 2.38));
    ui::installPaintedHeader(MailListView);

    Label7->clear();
    reloadList();
}

QString FriendForm::explanationFor(const QObject* control) const
{
    return ui::explanationOf(explanations_, control);
}

bool FriendForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == this) {
            // Moves over a child reach the window too when the child passes
            // them on; only the bare background hides the box.
            const auto* move = static_cast<QMouseEvent*>(event);
            if (!childAt(move->position().toPoint())) {
                Text5->setVisible(false);
            }
        } else if (const QString text = explanationFor(watched); !text.isEmpty()) {
            Text5->setPlainText(text);
            Text5->setVisible(true);
            Text5->raise();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FriendForm::setAddress(const QString& address)
{
    ui::setLimitedText(Text4, address);
}

void FriendForm::reloadList()
{
    MailListView->clear();
    Result<QList<AddressEntry>> entries = book_->entries();
    if (!entries.ok()) {
        Text3->setText(QStringLiteral("0"));
        reportFailure(QStringLiteral("アドレス帳を読み込めませんでした。"));
        return;
    }
    QList<QTreeWidgetItem*> rows;
    rows.reserve(entries.value().size());
    for (const AddressEntry& entry : entries.value()) {
        rows.append(new QTreeWidgetItem(QStringList{entry.address, entry.name}));
    }
    MailListView->addTopLevelItems(rows);
    Text3->setText(QString::number(rows.size()));
}

void FriendForm::pasteAddress()
{
    ui::setLimitedText(Text4, context_.ui.clipboardText());
}

void FriendForm::pasteName()
{
    ui::setLimitedText(Text2, context_.ui.clipboardText());
}

void FriendForm::insertBusinessCard()
{
    if (Text4->text().isEmpty()) {
        context_.ui.inform(this, QStringLiteral("メールアドレスが入力されていません"));
        return;
    }
    if (Text50->text().isEmpty()) {
        context_.ui.inform(this, QStringLiteral("名詞が入力されていません"));
        return;
    }
    ui::setLimitedText(Text4, Text50->text() + QLatin1Char('<') + text::trimSpaces(Text4->text()) +
                                  QLatin1Char('>'));
}

void FriendForm::registerEntry()
{
    Result<qint64> added = book_->add(Text2->text(), Text4->text());
    if (!added.ok()) {
        if (added.status().error() == StoreError::BadArgument) {
            context_.ui.inform(this,
                               QStringLiteral("アドレス帳はこれ以上登録できません（最大%1件）。")
                                   .arg(AddressBook::kMaxEntries));
        } else {
            reportFailure(QStringLiteral("アドレス帳に書き込めませんでした。"));
        }
        return;
    }
    Label7->setText(QStringLiteral("　登録が完了しました。"));
    reloadList();
}

void FriendForm::deleteEntry()
{
    const qint64 n = selectedRecord();
    // A selected row is deleted whatever the address box holds: an entry
    // registered without an address could not be deleted otherwise.
    if (n == 0 && Text4->text().isEmpty()) {
        context_.ui.inform(this, kNotSelected);
        return;
    }
    if (n == 0) {
        context_.ui.inform(this, kNotSelected);
        return;
    }
    // The entry as it is now, shown and named in the question; the deletion
    // checks that it is still that entry when the file's turn comes.
    const std::optional<ChosenRecord> chosen = showEntry(n);
    if (!chosen) {
        return;
    }
    const AddressEntry entry = AddressBook::entryOf(chosen->bytes);
    Label7->clear();
    const bool yes = context_.ui.askBeforeLosing(
        this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか\r\n\r\n"
                             "名前: %1\r\nアドレス: %2")
                  .arg(text::trimSpaces(entry.name), text::trimSpaces(entry.address)));
    // The file is compacted on either answer; with No nothing is marked.
    const Status removed = book_->remove(yes ? *chosen : ChosenRecord{});
    if (removed.ok()) {
        if (yes) {
            Label7->setText(QStringLiteral("削除が完了しました"));
        }
    } else if (removed.error() == StoreError::Changed) {
        context_.ui.inform(this,
                           QStringLiteral("アドレス帳が変わっていたため、削除しませんでした。"));
    } else {
        reportFailure(QStringLiteral("アドレス帳を書き換えられませんでした。"));
    }
    reloadList();
    Text2->clear();
    Text4->clear();
    Text50->clear();
}

void FriendForm::selectEntry()
{
    const qint64 n = selectedRecord();
    if (n != 0 && showEntry(n)) {
        Label7->setText(QStringLiteral("　選択しました。"));
    }
}

qint64 FriendForm::selectedRecord() const
{
    const QList<QTreeWidgetItem*> selected = MailListView->selectedItems();
    if (selected.isEmpty()) {
        return 0;
    }
    return MailListView->indexOfTopLevelItem(selected.first()) + 1;
}

std::optional<ChosenRecord> FriendForm::showEntry(qint64 n)
{
    Result<ChosenRecord> chosen = book_->chosen(n);
    if (!chosen.ok()) {
        reportFailure(QStringLiteral("アドレス帳を読み込めませんでした。"));
        return std::nullopt;
    }
    const AddressEntry entry = AddressBook::entryOf(chosen.value().bytes);
    ui::setLimitedText(Text2, text::trimSpaces(entry.name));
    ui::setLimitedText(Text4, text::trimSpaces(entry.address));
    return std::move(chosen).value();
}

void FriendForm::reportFailure(const QString& what)
{
    context_.ui.inform(this, what + QLatin1Char('\n') + context_.paths.addressFile(), {},
                       MessageIcon::Warning);
}

void FriendForm::closeEvent(QCloseEvent* event)
{
    ui::removePaintedHeader(MailListView);
    event->accept();
}

} // namespace lumora
