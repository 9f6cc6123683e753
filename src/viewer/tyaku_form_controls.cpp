// The viewer's controls, menus, toolbar, explanations and accessible names,
// at the design positions (twips, inside the client area under the menus).

#include "viewer/tyaku_form.h"

#include "ui/accessibility.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/icons.h"
#include "ui/keyboard.h"

#include <QAction>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

namespace lumora {
namespace {

constexpr std::initializer_list<ui::ToolKey> kToolKeys = {
    {"New", "新規作成", "document-new"},
    {"Open", "開く", "document-open"},
    {"Save", "名前を付けて保存", "document-save-as"},
    {"Print", "印刷", "document-print"},
    {"Cut", "切り取り", "edit-cut"},
    {"Copy", "ｺﾋﾟｰ", "edit-copy"},
    {"Paste", "貼り付け", "edit-paste"},
    {"Bold", "太字", "format-text-bold"},
    {"Italic", "斜体", "format-text-italic"},
    {"Underline", "下線", "format-text-underline"},
};

} // namespace

void TyakuForm::createControls()
{
    Picture1 = new QFrame(client_);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    ui::placeTwips(Picture1, 0, 0, 9180, 450);
    createToolbar();

    Command3 =
        ui::pushButton(client_, "Command3", QStringLiteral("    一件削除"), 120, 520, 1335, 375);
    Command4 = ui::pushButton(client_, "Command4", QStringLiteral("    アドレス帳登録"), 1560, 520,
                              1575, 375);
    Command5 =
        ui::pushButton(client_, "Command5", QStringLiteral("   返事を書く"), 3240, 520, 1455, 375);
    Command6 =
        ui::pushButton(client_, "Command6", QStringLiteral("   全件削除"), 4800, 520, 1455, 375);
    // A small picture over the left end of each action button; clicks go
    // through to the button.
    const std::pair<int, const char*> pictures[] = {{120, "edit-delete"},
                                                    {1560, "contact-new"},
                                                    {3240, "mail-reply-sender"},
                                                    {4800, "edit-clear"}};
    for (const auto& [left, icon] : pictures) {
        auto* picture = new QLabel(client_);
        picture->setAttribute(Qt::WA_TransparentForMouseEvents);
        picture->setPixmap(ui::themeIcon(QString::fromLatin1(icon)).pixmap(ui::twips(240)));
        picture->setAlignment(Qt::AlignCenter);
        ui::placeTwips(picture, left, 560, 315, 315);
        actionIcons_.append(picture);
    }

    Label4 = new QLabel(QStringLiteral("件数"), client_);
    Label4->setObjectName(QStringLiteral("Label4"));
    ui::placeTwips(Label4, 6600, 520, 495, 255);
    Text2 = ui::lineEdit(client_, "Text2", 7200, 480, 495, 270);
    Text2->setReadOnly(true);
    Text2->setAlignment(Qt::AlignRight);
    SearchText = ui::lineEdit(client_, "SearchText", 7800, 500, 1500, 330);
    SearchText->setPlaceholderText(QStringLiteral("すべてのメールを検索"));
    Text5 = ui::lineEdit(client_, "Text5", 9720, 480, 735, 375);
    Text5->setReadOnly(true);

    MailListView = new QTreeView(client_);
    MailListView->setObjectName(QStringLiteral("MailListView"));
    MailListView->setRootIsDecorated(false);
    MailListView->setUniformRowHeights(true);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MailListView->setAllColumnsShowFocus(true);
    // Cells keep their padding; it must not turn into an ellipsis.
    MailListView->setTextElideMode(Qt::ElideNone);
    MailListView->header()->setStretchLastSection(false);
    ui::placeTwips(MailListView, 0, 960, 9375, 1815);

    Text7 = ui::lineEdit(client_, "Text7", 0, 2760, 4695, 375);
    Text8 = ui::lineEdit(client_, "Text8", 4680, 2760, 3015, 375);
    Text9 = ui::lineEdit(client_, "Text9", 7695, 2760, 1680, 375);

    rtfEd = new QTextEdit(client_);
    rtfEd->setObjectName(QStringLiteral("rtfEd"));
    rtfEd->setAcceptRichText(false);
    ui::placeTwips(rtfEd, 0, 3120, 9375, 3735);

    Text4 = new QPlainTextEdit(client_);
    Text4->setObjectName(QStringLiteral("Text4"));
    Text4->setReadOnly(true);
    Text4->setVisible(false);
    ui::placeTwips(Text4, 1320, 3840, 5535, 1935);

    StatusBar1 = new QStatusBar(client_);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    ui::placeTwips(StatusBar1, 0, 6945, 9345, 375);
    Command1 = ui::pushButton(client_, "Command1", QStringLiteral("コピー（Subject/from/Data）"),
                              1920, 6960, 2895, 255);
    Command1->setAutoFillBackground(true);
    Text6 = ui::lineEdit(client_, "Text6", 5160, 6960, 3735, 270);
    Text6->setReadOnly(true);

    lstLst = new QListWidget(client_);
    lstLst->setObjectName(QStringLiteral("lstLst"));
    ui::placeTwips(lstLst, 840, 4680, 735, 540);
    lstWk = new QListWidget(client_);
    lstWk->setObjectName(QStringLiteral("lstWk"));
    ui::placeTwips(lstWk, 3360, 1200, 135, 240);
    rtfWk = new QTextEdit(client_);
    rtfWk->setObjectName(QStringLiteral("rtfWk"));
    rtfWk->setPlainText(QStringLiteral("作業バッファです"));
    ui::placeTwips(rtfWk, 720, 0, 30, 30);
    Text3 = ui::lineEdit(client_, "Text3", 120, 7320, 975, 270);
    for (QWidget* unused : {static_cast<QWidget*>(lstLst), static_cast<QWidget*>(lstWk),
                            static_cast<QWidget*>(rtfWk), static_cast<QWidget*>(Text3)}) {
        unused->setVisible(false);
    }
    for (QWidget* above : {static_cast<QWidget*>(Command1), static_cast<QWidget*>(Text6),
                           static_cast<QWidget*>(Text4)}) {
        above->raise();
    }
    for (QLabel* picture : actionIcons_) {
        picture->raise();
    }
    createMenus();
}

void TyakuForm::createToolbar()
{
    tbToolBar = new QToolBar(Picture1);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setIconSize(QSize(16, 16));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ui::placeTwips(tbToolBar, 0, 0, 9015, 390);
    ui::addToolKeys(tbToolBar, kToolKeys);
    // These lie on the bar at their own places, outside the bar's buttons.
    Command2 =
        ui::pushButton(tbToolBar, "Command2", QStringLiteral("TextQuickSave"), 3960, 0, 1815, 340);
    Picture4 = new QFrame(tbToolBar);
    Picture4->setObjectName(QStringLiteral("Picture4"));
    ui::placeTwips(Picture4, 6120, 0, 975, 400);
    Label2 = new QLabel(QStringLiteral("検索文字"), Picture4);
    Label2->setObjectName(QStringLiteral("Label2"));
    ui::placeTwips(Label2, 120, 80, 735, 375);
    Text1 = ui::lineEdit(tbToolBar, "Text1", 7080, 0, 1935, 375);
}

void TyakuForm::createMenus()
{
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    mFile = menuBar->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mnew = ui::menuItem(mFile, "mnew", QStringLiteral("新規作成"));
    mopen = ui::menuItem(mFile, "mopen", QStringLiteral("開く"));
    msave = ui::menuItem(mFile, "msave", QStringLiteral("名前を付けて保存"));
    mprint = ui::menuItem(mFile, "mprint", QStringLiteral("印刷"));
    mFile->addSeparator();
    moriginal = ui::menuItem(mFile, "moriginal", QStringLiteral("元のメールを表示"));
    msaveoriginal = ui::menuItem(mFile, "msaveoriginal", QStringLiteral("元のメールを保存…"));
    mexport = ui::menuItem(mFile, "mexport", QStringLiteral("メールを書き出す…"));
    mimport = ui::menuItem(mFile, "mimport", QStringLiteral("メールを読み込む…"));
    mFile->addSeparator();
    mend = ui::menuItem(mFile, "mend", QStringLiteral("終了"));
    medit = menuBar->addMenu(QStringLiteral("編集(&E)"));
    medit->setObjectName(QStringLiteral("medit"));
    mall = ui::menuItem(medit, "mall", QStringLiteral("全て選択"));
    matamajump = ui::menuItem(medit, "matamajump", QStringLiteral("文頭へジャンプ"));
    mbunmatujump = ui::menuItem(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"));
    mkensaku = ui::menuItem(medit, "mkensaku", QStringLiteral("検索"));
    mtugikensaku = ui::menuItem(medit, "mtugikensaku", QStringLiteral("次を検索"));
    mcut = ui::menuItem(medit, "mcut", QStringLiteral("切り取り"));
    mcopy = ui::menuItem(medit, "mcopy", QStringLiteral("コピー"));
    mpaste = ui::menuItem(medit, "mpaste", QStringLiteral("貼り付け"));
    mview = menuBar->addMenu(QStringLiteral("表示(&V)"));
    mview->setObjectName(QStringLiteral("mview"));
    msortsubject = ui::menuItem(mview, "msortsubject", QStringLiteral("件名で並べ替え"));
    msortsender = ui::menuItem(mview, "msortsender", QStringLiteral("差出人で並べ替え"));
    msortdate = ui::menuItem(mview, "msortdate", QStringLiteral("日付で並べ替え"));
    mrecordorder = ui::menuItem(mview, "mrecordorder", QStringLiteral("受信した順に戻す"));
}

QHash<QWidget*, QString> TyakuForm::explanationTable() const
{
    const QString twoLines = QStringLiteral("\n\n");
    return {
        {Command1,
         QStringLiteral("本文以外のコピーに使用します。「Subject」「From」「Date」に表示される"
                        "データをコピーします（貼り付けはメニューバー、ツールバーで出来ます）。"
                        "Body（本文）はメニューバー、ツールバーからコピー・貼り付けが出来ます。") +
             twoLines +
             QStringLiteral(" 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、"
                            "他のアプリケーションへの貼り付けが可能です。") +
             twoLines + QStringLiteral("コピーされる内容は右の欄に反映されます。")},
        {Command2, QStringLiteral("選択したデータをテキスト形式で本ソフト内の「TextQuickSave」"
                                  "フォルダ内に「Subject」「From」「Date」「Boby」で保存します。"
                                  "ファイル名は「Subject」が自動的に当てられます。同名のファイルが"
                                  "既に存在する場合は警告メッセージを出します。")},
        {Command3, QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択"
                                  "（クリック）してから実行して下さい。")},
        {Command4, QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択"
                                  "（クリック）してから実行して下さい。")},
        {Command5, QStringLiteral("受信したメールに返事を出します。リストからメールを選択"
                                  "（クリック）してから実行して下さい。")},
        {Command6, QStringLiteral("受信したメール全件削除します。")},
        {SearchText, QStringLiteral("件名・差出人・本文・添付ファイルの名前から、受信したすべての"
                                    "メールを検索します。入力するたびに一覧が絞り込まれます。"
                                    "Escキーで全件の一覧に戻ります。")},
        {Text1, QStringLiteral("検索したい文字を入力し、メニューバーから「検索」「次を検索」を"
                               "選択し、検索したい文字を本文中(body)から検索します。")},
    };
}

// What a screen reader says for each control: its caption, or its role.
void TyakuForm::nameControls()
{
    ui::nameCaptionedControls(this);
    const std::pair<QWidget*, const char*> roles[] = {
        {MailListView, "メール一覧"},
        {Text7, "件名"},
        {Text8, "差出人"},
        {Text9, "日付"},
        {rtfEd, "本文"},
        {Text1, "検索文字"},
        {SearchText, "すべてのメールを検索"},
        {Text2, "件数"},
        {Text6, "コピー欄"},
        {tbToolBar, "ツールバー"},
        {menuBar, "メニュー"},
        {Picture1, "ツールバーの枠"},
        {Picture4, "検索文字の枠"},
    };
    for (const auto& [control, name] : roles) {
        control->setAccessibleName(QString::fromUtf8(name));
    }
    // The selection marker, the explanation box (each control's explanation
    // is its description) and the work controls are not the user's.
    for (QWidget* work :
         std::initializer_list<QWidget*>{Text5, Text4, lstLst, lstWk, rtfWk, Text3}) {
        ui::keepFromUser(work);
    }
    const char* const pictures[] = {"一件削除の絵", "アドレス帳登録の絵", "返事を書くの絵",
                                    "全件削除の絵"};
    for (qsizetype i = 0; i < actionIcons_.size(); ++i) {
        actionIcons_[i]->setAccessibleName(QString::fromUtf8(pictures[i]));
    }
    ui::describeControls(explanations_);
}

void TyakuForm::prepareKeyboard()
{
    ui::prepareKeyboard(this, ui::EscapeKey::Ignored);
    ui::ctrlTabLeaves(rtfEd);
    ui::setTabChain({Command2, Text1, Command3, Command4, Command5, Command6, Text2, SearchText,
                     MailListView, Text7, Text8, Text9, rtfEd, Command1, Text6});
}

} // namespace lumora
