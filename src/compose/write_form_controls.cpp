// The compose window's controls, menus, toolbar, help texts and accessible
// names, in twips inside the client area under the menus.

#include "compose/write_form.h"

#include "ui/accessibility.h"
#include "ui/controls.h"
#include "ui/geometry.h"
#include "ui/icons.h"
#include "ui/keyboard.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolBar>

namespace lumora {
namespace {

QListWidget* listBox(QWidget* parent, const char* name, int l, int t, int w, int h)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setTextElideMode(Qt::ElideNone);
    ui::placeTwips(list, l, t, w, h);
    return list;
}

constexpr std::initializer_list<ui::ToolKey> kToolKeys = {
    {"New", "新規作成", "document-new"},      {"Open", "開く", "document-open"},
    {"Save", "上書き保存", "document-save"},  {"SaveAs", "名前を付けて保存", "document-save-as"},
    {"Print", "印刷", "document-print"},      {"Cut", "切り取り", "edit-cut"},
    {"Undo", "元に戻す", "edit-undo"},        {"Copy", "ｺﾋﾟｰ", "edit-copy"},
    {"Paste", "貼り付け", "edit-paste"},      {"Bold", "太字", "format-text-bold"},
    {"Italic", "斜体", "format-text-italic"}, {"Underline", "下線", "format-text-underline"},
};

} // namespace

void WriteForm::createControls()
{
    createToolbar();
    createHeader();

    Command4 =
        ui::pushButton(client_, "Command4", QStringLiteral("   アドレス帳"), 60, 2100, 1700, 360);
    Command6 = ui::pushButton(client_, "Command6", QStringLiteral("     サイズ（小）"), 1800, 2100,
                              1700, 360);
    Command5 = ui::pushButton(client_, "Command5", QStringLiteral("     本文に貼付"), 3540, 2100,
                              1700, 360);
    Command7 = ui::pushButton(client_, "Command7", QStringLiteral("     宛先に貼付"), 5280, 2100,
                              1700, 360);

    Command17 = ui::pushButton(client_, "Command17", QStringLiteral("下書き"), 60, 2520, 1200, 360);
    Command17->setAutoFillBackground(true);
    Picture7 = new QFrame(client_);
    Picture7->setObjectName(QStringLiteral("Picture7"));
    Picture7->setFrameShape(QFrame::StyledPanel);
    ui::placeTwips(Picture7, 1300, 2490, 2760, 420);
    Command13 = ui::pushButton(Picture7, "Command13", QStringLiteral("保存"), 30, 30, 880, 360);
    Command14 = ui::pushButton(Picture7, "Command14", QStringLiteral("呼出"), 940, 30, 880, 360);
    Command15 = ui::pushButton(Picture7, "Command15", QStringLiteral("削除"), 1850, 30, 880, 360);
    Command8 = ui::pushButton(client_, "Command8", QStringLiteral("　　絵・顔文字"), 4100, 2520,
                              1500, 360);
    Frame4 = new QGroupBox(client_);
    Frame4->setObjectName(QStringLiteral("Frame4"));
    ui::placeTwips(Frame4, 5640, 2430, 1340, 540);
    Option2 = new QRadioButton(QStringLiteral("一括送信"), Frame4);
    Option2->setObjectName(QStringLiteral("Option2"));
    ui::placeTwips(Option2, 60, 20, 1260, 250);
    Option1 = new QRadioButton(QStringLiteral("取消"), Frame4);
    Option1->setObjectName(QStringLiteral("Option1"));
    ui::placeTwips(Option1, 60, 270, 1260, 250);

    rtfEd = new QTextEdit(client_);
    rtfEd->setObjectName(QStringLiteral("rtfEd"));
    rtfEd->setAcceptRichText(false);
    rtfEd->setFont(ui::fontFamily(QStringLiteral("ＭＳ ゴシック"), 10.5));
    ui::placeTwips(rtfEd, 60, 3030, 6920, 3600);

    Command1 = ui::pushButton(client_, "Command1", QStringLiteral("送信"), 60, 6720, 1700, 420);
    Command3 =
        ui::pushButton(client_, "Command3", QStringLiteral("    送信中止"), 1800, 6720, 1700, 420);
    Label7 = ui::label(client_, "Label7", QString(), 60, 7200, 6920, 300);
    Label7->setFrameShape(QFrame::Panel);
    Label7->setFrameShadow(QFrame::Sunken);

    Text14 = new QPlainTextEdit(client_);
    Text14->setObjectName(QStringLiteral("Text14"));
    Text14->setReadOnly(true);
    Text14->setVisible(false);
    ui::placeTwips(Text14, 360, 3600, 6300, 2100);

    // Below the normal height: only the hidden mode shows this row.
    Text4 = ui::lineEdit(client_, "Text4", 60, 7700, 5000, 300);
    Command2 = ui::pushButton(client_, "Command2", QStringLiteral("貼付け"), 5160, 7680, 1400, 360);
    Command2->setVisible(false);

    createSidePane();
    createMenus();
    Text14->raise();
    List2->raise();
}

void WriteForm::createHeader()
{
    Frame1 = new QFrame(client_);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    ui::placeTwips(Frame1, 60, 450, 6920, 1590);
    const char* const captions[] = {"宛先", "件名", "首記例"};
    const int tops[] = {90, 450, 1170};
    for (int i = 0; i < 3; ++i) {
        QLabel* caption =
            ui::label(Frame1, "Label2", QString::fromUtf8(captions[i]), 90, tops[i], 660, 300);
        caption->setObjectName(QStringLiteral("Label2_%1").arg(i));
        Label2.append(caption);
    }
    ToText = ui::lineEdit(Frame1, "ToText", 780, 60, 6060, 330);
    SubjectText = ui::lineEdit(Frame1, "SubjectText", 780, 420, 6060, 330);
    AttachCommand =
        ui::pushButton(Frame1, "AttachCommand", QStringLiteral("添付File"), 60, 780, 990, 330);
    AttachText = ui::lineEdit(Frame1, "AttachText", 1080, 780, 3000, 330);
    Command9 = ui::pushButton(Frame1, "Command9", QStringLiteral("追加"), 4140, 780, 840, 330);
    Command10 =
        ui::pushButton(Frame1, "Command10", QStringLiteral("取り消し"), 5010, 780, 900, 330);
    Command16 = ui::pushButton(Frame1, "Command16", QStringLiteral("リスト"), 5940, 780, 900, 330);
    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    ui::placeTwips(Combo1, 780, 1140, 5000, 360);
    Check1 = new QCheckBox(Frame1);
    Check1->setObjectName(QStringLiteral("Check1"));
    ui::placeTwips(Check1, 5880, 1170, 300, 300);
    Picture3 = new QLabel(Frame1);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->setPixmap(ui::themeIcon(QStringLiteral("mail-message-new")).pixmap(ui::twips(360)));
    Picture3->setAlignment(Qt::AlignCenter);
    ui::placeTwips(Picture3, 6300, 1110, 480, 420);
    // The names of the attached files, under the attachment row.
    List2 = listBox(client_, "List2", 1140, 1590, 3000, 900);
    List2->setVisible(false);
}

void WriteForm::createSidePane()
{
    // Right of the small width: in view when the window is widened.
    Label3 = ui::label(client_, "Label3", QStringLiteral("アドレス帳"), 7140, 480, 2400, 300);
    List1 = listBox(client_, "List1", 7140, 780, 2440, 5460);
    List1->setAutoFillBackground(true);
    Label4 = ui::label(client_, "Label4", QStringLiteral("件数"), 7140, 6330, 600, 300);
    Text1 = ui::lineEdit(client_, "Text1", 7740, 6300, 900, 330);
    Text1->setReadOnly(true);
    Text1->setAlignment(Qt::AlignRight);
    Text2 = ui::lineEdit(client_, "Text2", 8700, 6300, 600, 330);
    Text2->setReadOnly(true);
    Text2->setVisible(false);
}

void WriteForm::createToolbar()
{
    tbToolBar = new QToolBar(client_);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setIconSize(QSize(16, 16));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ui::placeTwips(tbToolBar, 0, 0, 7000, 390);
    ui::addToolKeys(tbToolBar, kToolKeys);
}

void WriteForm::createMenus()
{
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    mFile = menuBar->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mnew = ui::menuItem(mFile, "mnew", QStringLiteral("新規作成"));
    mopen = ui::menuItem(mFile, "mopen", QStringLiteral("開く"));
    mprint = ui::menuItem(mFile, "mprint", QStringLiteral("印刷"));
    mFile->addSeparator();
    mend = ui::menuItem(mFile, "mend", QStringLiteral("終了"));
    medit = menuBar->addMenu(QStringLiteral("編集"));
    medit->setObjectName(QStringLiteral("medit"));
    mall = ui::menuItem(medit, "mall", QStringLiteral("全て選択"));
    matamajump = ui::menuItem(medit, "matamajump", QStringLiteral("文頭へジャンプ"));
    mbunmatujump = ui::menuItem(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"));
    medit->addSeparator();
    mcut = ui::menuItem(medit, "mcut", QStringLiteral("切り取り"));
    mcopy = ui::menuItem(medit, "mcopy", QStringLiteral("コピー"));
    mpaste = ui::menuItem(medit, "mpaste", QStringLiteral("貼り付け"));
}

QHash<QWidget*, QString> WriteForm::explanationTable() const
{
    const QString crlf = QStringLiteral("\r\n");
    const QString greeting = QStringLiteral("本文の冒頭に例文を貼り付けます。プルダウンから選択し、"
                                            "本文をクリックすると内容が貼り付けられます。");
    QHash<QWidget*, QString> table = {
        {AttachCommand,
         QStringLiteral(
             "各種ファイルを添付して送信できます。１個の添付ファイルの際に使用します。") +
             crlf +
             QStringLiteral("２個目からは「追加」ボタンをクリックして下さい。一覧リストが表示されま"
                            "す。送信メール１件について１０個までの送信が可能です。") +
             crlf + QStringLiteral("添付ファイルを中止したい時は「取り消し」ボタンをクリック！") +
             crlf +
             QStringLiteral("添付ファイルを複数選択した際に表示される一覧リストが邪魔なときは「リス"
                            "ト」をクリックして下さい。一覧リストの一時的な表示・非表示が出来ます。"
                            "表示・非表示を行うだけで、選択したファイルが取り消される訳ではありませ"
                            "ん。")},
        {Command9, QStringLiteral("添付ファイルを複数送信する際に使用します。確認しやすいように、"
                                  "リストボックスが表示されます。")},
        {Command10, QStringLiteral("添付ファイルの内容をクリアします。")},
        {Command16,
         QStringLiteral("添付ファイルを複数選択した際、リストが自動的に表示されます。このリストの表"
                        "示、非表示を操作します。リストが非表示になっても、選択したファイルがクリア"
                        "された訳ではありません。クリアする場合は「取り消し」か「クリア」をクリック"
                        "して下さい。")},
        {Command5, QStringLiteral("コピーした内容を本文に貼り付けますコピーは本ソフト、あるいは別"
                                  "のアプリからでも可能です。")},
        {Command7, QStringLiteral("コピーした内容を宛先に貼り付けます。コピーは本ソフト、あるいは"
                                  "別のアプリからでも可能です。")},
        {Check1,
         QStringLiteral("コンピュータがアトランダムにチョイスする占いを本文後に添付します。")},
        {Command13, QStringLiteral("記入途中、あるいは書き終えたメールを保留（保存）とします。書き"
                                   "溜めておいて後でまとめて送信する場合に便利です。")},
        {Command14,
         QStringLiteral("保留（保存）扱いとしておいたメールデータを呼び出します。呼び出されたメール"
                        "データは右側のアドレス欄に件名のみが表示されます。マウスで選択すると、メー"
                        "ルアドレス、件名、本文に自動的に挿入されます。")},
        {Command15,
         QStringLiteral("保留（保存）扱いとしていたメールデータの削除を１件単位で行います。")},
        {Command17, QStringLiteral("「下書き機能」です。予め作成しておいた「ひな型」を使用すれば非"
                                   "常に迅速にメールが書けます。")},
        {Command4,
         QStringLiteral("このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リ"
                        "スト）に現れます。送信したい名称をクリックすると、メールアドレスが自動的に"
                        "入力されます。")},
        {Command6, QStringLiteral("アドレス帳を含むサイズから、元のサイズに戻します。")},
        {Command1, QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続して"
                                  "メールを送信します。")},
        {Command3, QStringLiteral("送信を中止します。")},
        {Command8,
         QStringLiteral("顔・絵文字の本文への挿入を行います。") + crlf + crlf +
             QStringLiteral("使用方法：使用したい顔・絵文字をマウスで選択状態（青色反転）にし、"
                            "「新規作成本文に挿入」ボタンを。クリックしますと、本分中に挿入されます"
                            "。") +
             crlf + crlf +
             QStringLiteral("素材の県名や氏名、電話番号はあなた用に変更してご使用下さい。画面を終了"
                            "させると自動的に保存されます。") +
             crlf +
             QStringLiteral("上手な使用方法：素材が豊富ですので、お気に入りに追加しておいた方が良い"
                            "でしょう。") +
             crlf +
             QStringLiteral("お気に入りに追加（注意:IEではありません）する場合も、マウスで選択状態"
                            "にし、顔・絵文字画面での「お気に入りに追加」ボタンをクリックして下さい"
                            "。")},
        {Option2, QStringLiteral("アドレス帳に登録しているメールアドレスすべてに同様の件名、本文で"
                                 "送信します。") +
                      crlf + crlf +
                      QStringLiteral("件名、本文入力完了後、送信ボタンをクリックして下さい。")},
    };
    for (QLabel* caption : Label2) {
        table.insert(caption, greeting);
    }
    return table;
}

// What a screen reader says for each control: its caption, or its role.
void WriteForm::nameControls()
{
    ui::nameCaptionedControls(this);
    const std::pair<QWidget*, const char*> roles[] = {
        {ToText, "宛先"},          {SubjectText, "件名"}, {AttachText, "添付ファイル"},
        {rtfEd, "本文"},           {List1, "アドレス帳"}, {List2, "添付ファイル一覧"},
        {Combo1, "首記例"},        {Label7, "状態"},      {Text1, "件数"},
        {Text4, "貼付け欄"},       {Check1, "占い"},      {Picture3, "メールの絵"},
        {Frame1, "ヘッダー"},      {Picture7, "下書き"},  {Frame4, "一括送信"},
        {tbToolBar, "ツールバー"}, {menuBar, "メニュー"},
    };
    for (const auto& [control, name] : roles) {
        control->setAccessibleName(QString::fromUtf8(name));
    }
    ui::describeControls(explanations_);
    // The selection marker and the help pane (each help text is its
    // control's description) are not the user's; the paste field below the
    // window is only in the hidden mode.
    for (QWidget* work : {static_cast<QWidget*>(Text2), static_cast<QWidget*>(Text14),
                          static_cast<QWidget*>(Text4)}) {
        ui::keepFromUser(work);
    }
}

void WriteForm::prepareKeyboard()
{
    ui::prepareKeyboard(this, ui::EscapeKey::Ignored);
    ui::ctrlTabLeaves(rtfEd);
    ui::setTabChain({ToText,    SubjectText, AttachCommand, AttachText, Command9,  Command10,
                     Command16, List2,       Combo1,        Check1,     Command4,  Command6,
                     Command5,  Command7,    Command17,     Command13,  Command14, Command15,
                     Command8,  Option2,     Option1,       rtfEd,      Command1,  Command3,
                     List1,     Text1,       Text4,         Command2});
}

} // namespace lumora
