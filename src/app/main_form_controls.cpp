// The main window's controls at their design places, the explanations it
// shows for the control under the mouse, and what a screen reader says for
// each control.

#include "app/main_form.h"

#include "ui/accessibility.h"
#include "ui/app_context.h"
#include "ui/geometry.h"
#include "ui/keyboard.h"
#include "ui/picture_button.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <array>

namespace lumora {
namespace {

QLineEdit* textBox(QWidget* parent, const QString& name, const QString& text = {})
{
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    return box;
}

QLabel* label(QWidget* parent, const QString& text, int l, int t, int w, int h)
{
    auto* lab = new QLabel(text, parent);
    ui::placeTwips(lab, l, t, w, h);
    return lab;
}

} // namespace

void MainForm::createControls()
{
    // The background lies under the two button columns' inner edges.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    ui::placeTwips(Image1, 720, 0, 2415, 1785);

    const std::array<const char*, 6> names = {"Picture3",  "Picture4",  "Picture5",
                                              "Picture11", "Picture12", "Picture13"};
    for (size_t i = 0; i < buttons_.size(); ++i) {
        auto* button = new PictureButton(this);
        button->setObjectName(QString::fromLatin1(names[i]));
        const int column = i < 3 ? 0 : 3120;
        ui::placeTwips(button, column, static_cast<int>(i % 3) * 720, 735, 735);
        buttons_[i] = button;
    }
    Picture3 = buttons_[0];
    Picture4 = buttons_[1];
    Picture5 = buttons_[2];
    Picture11 = buttons_[3];
    Picture12 = buttons_[4];
    Picture13 = buttons_[5];

    const QFont antiqua = ui::fontFamily(QStringLiteral("Book Antiqua"), 9);
    const auto setButton = [&](const QString& name, const QString& caption, int left, int width) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        ui::placeTwips(button, left, 1800, width, 330);
        return button;
    };
    Command1 = setButton(QStringLiteral("Command1"), QStringLiteral("Blue"), 735, 555);
    Command2 = setButton(QStringLiteral("Command2"), QStringLiteral("Red"), 1305, 555);
    Command3 = setButton(QStringLiteral("Command3"), QStringLiteral("Green"), 1875, 555);
    for (QPushButton* b : {Command1, Command2, Command3}) {
        b->setFont(antiqua);
    }
    Command4 = setButton(QStringLiteral("Command4"), QStringLiteral("背景画"), 2445, 675);

    // The narrow right edge takes a smaller face.
    const QFont small = ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック"), 7.5);
    Check1 = new QCheckBox(QStringLiteral("説明表示"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setFont(small);
    Check1->setStyleSheet(QStringLiteral("QCheckBox { spacing: 1px; }"));
    ui::placeTwips(Check1, 3870, 60, 840, 300);
    label(this, QStringLiteral("　累積数"), 3900, 480, 810, 240);
    Text4 = textBox(this, QStringLiteral("Text4"));
    Text4->setReadOnly(true);
    Text4->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text4, 3930, 720, 750, 330);
    label(this, QStringLiteral("新着数"), 3900, 1140, 810, 240);
    Text6 = textBox(this, QStringLiteral("Text6"));
    Text6->setReadOnly(true);
    Text6->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text6, 3930, 1380, 750, 330);

    Picture6 = new QFrame(this);
    Picture6->setObjectName(QStringLiteral("Picture6"));
    Picture6->setFrameShape(QFrame::StyledPanel);
    ui::placeTwips(Picture6, 0, 2190, 2295, 585);
    auto* autoShow = label(Picture6, QStringLiteral("新着メール有りで、メールを見るを自動表示"), 60,
                           45, 1860, 495);
    autoShow->setWordWrap(true);
    autoShow->setFont(small);
    Check2 = new QCheckBox(Picture6);
    Check2->setObjectName(QStringLiteral("Check2"));
    ui::placeTwips(Check2, 1980, 165, 255, 255);

    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::StyledPanel);
    ui::placeTwips(Picture1, 2340, 2190, 2370, 585);
    label(Picture1, QStringLiteral("インターバルチェック"), 60, 45, 2250, 240);
    Check4 = new QCheckBox(Picture1);
    Check4->setObjectName(QStringLiteral("Check4"));
    // An indicator only: the settings dialog sets it.
    ui::makeIndicator(Check4);
    ui::placeTwips(Check4, 60, 300, 255, 255);
    Text7 = textBox(Picture1, QStringLiteral("Text7"));
    Text7->setReadOnly(true);
    Text7->setAlignment(Qt::AlignRight);
    ui::placeTwips(Text7, 360, 285, 705, 270);
    Text8 = textBox(Picture1, QStringLiteral("Text8"), QStringLiteral("分"));
    Text8->setReadOnly(true);
    Text8->setFrame(false);
    // The unit of the field before it, read with it: no stop of its own.
    Text8->setFocusPolicy(Qt::NoFocus);
    ui::placeTwips(Text8, 1080, 285, 330, 270);
    Image3 = new QLabel(Picture1);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setScaledContents(true);
    ui::placeTwips(Image3, 1560, 285, 255, 255);

    receiveProgressBar = new QProgressBar(this);
    receiveProgressBar->setObjectName(QStringLiteral("receiveProgressBar"));
    receiveProgressBar->setAccessibleName(QStringLiteral("受信の進み具合"));
    receiveProgressBar->setTextVisible(false);
    receiveProgressBar->setRange(0, 1000);
    receiveProgressBar->setVisible(false);
    receiveProgressBar->setGeometry(0, ui::twips(2790) - 4, ui::twips(4710), 4);

    // Pictures and buttons lie over the background.
    for (PictureButton* b : buttons_) {
        b->raise();
    }
}

void MainForm::createOutsideControls()
{
    Text5 = textBox(this, QStringLiteral("Text5"), QStringLiteral("　　　　　　新　着　情　報"));
    Text5->setReadOnly(true);
    ui::placeTwips(Text5, 0, 2880, 4710, 300);
    Text3 = textBox(this, QStringLiteral("Text3"));
    Text3->setReadOnly(true);
    ui::placeTwips(Text3, 0, 3210, 2355, 300);
    label(this, QStringLiteral("着信数（累積）"), 2400, 3240, 1200, 270);
    Check3 = new QCheckBox(QStringLiteral("Check3"), this);
    Check3->setObjectName(QStringLiteral("Check3"));
    ui::placeTwips(Check3, 3600, 3210, 1110, 300);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setTabChangesFocus(true);
    ui::placeTwips(Text1, 0, 3570, 4710, 900);

    Text2 = textBox(this, QStringLiteral("Text2"));
    ui::placeTwips(Text2, 0, 4530, 1155, 300);
    Text9 = textBox(this, QStringLiteral("Text9"));
    ui::placeTwips(Text9, 1185, 4530, 1155, 300);
    Text10 = textBox(this, QStringLiteral("Text10"));
    ui::placeTwips(Text10, 2370, 4530, 1155, 300);
    Text11 = textBox(this, QStringLiteral("Text11"));
    ui::placeTwips(Text11, 3555, 4530, 1155, 300);

    // The working fields are never the user's; the rest join the Tab chain
    // and the screen reader's view when the window is enlarged to show them.
    for (QWidget* work : {Text2, Text9, Text10, Text11}) {
        ui::keepFromUser(work);
    }
    showOutsideControlsInView();
}

void MainForm::showOutsideControlsInView()
{
    for (QWidget* outside : std::initializer_list<QWidget*>{Text5, Text3, Check3, Text1}) {
        ui::keepFromUser(outside, !rect().contains(outside->geometry()));
    }
}

void MainForm::prepareKeyboard()
{
    ui::prepareKeyboard(this, ui::EscapeKey::Ignored);
    // The left column, the row under the picture, the right column, the
    // right edge and the two panels at the bottom.
    ui::setTabChain({Picture3, Picture4, Picture5, Command1, Command2, Command3, Command4,
                     Picture11, Picture12, Picture13, Check1, Text4, Text6, Check2, Text7, Text5,
                     Text3, Check3, Text1});
}

void MainForm::showDesignedPictures()
{
    for (size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i]->setPicture(QPixmap(QStringLiteral(":/design/%1.png").arg(i + 1)));
    }
    Image1->setPixmap(QPixmap(QStringLiteral(":/design/background.png")));
}

QHash<QWidget*, QString> MainForm::explanationTable() const
{
    return {
        {Check1,
         QStringLiteral("チェックを入れると、各画面で、ボタン類にマウスカーソルを移動させた時に、"
                        "対応した説明が表示されます。チェックを外すと、非表示になります。")},
        {Check2, QStringLiteral("チェックを入れると、メールを受信し、新着メールがあった場合のみ、"
                                "「メールを見る」画面を自動表示します。")},
        {Picture3, QStringLiteral("メールの新規作成・送信が行えます。")},
        {Picture4, QStringLiteral("新着メールの受信を行います。")},
        {Picture5, QStringLiteral("受信したメールを見ます。")},
        {Picture11,
         QStringLiteral(
             "アドレス帳に登録、新規作成画面でのアドレス一発入力が出来るようになります。")},
        {Picture12, QStringLiteral("ID,PASS,サーバーの設定を行います。この設定を行わないと、"
                                   "通信エラーが発生します。全５項目。")},
        {Picture13, QStringLiteral("ルモラのホームページをブラウザで開きます。"
                                   "最新版のお知らせや使い方はこちらでご覧いただけます。")},
        {Text3, QStringLiteral("新着メールの有無を文字で表示します。")},
        {Text4,
         QStringLiteral("これまでに受信したメールの累積数を表示します。"
                        "「メールを見る」画面で削除を行うと、それに伴って数字が変化します。")},
        {Text6, QStringLiteral("新着メール受信で、新着メール数を表示します。"
                               "新着メールがなければ「０」が表示されます。")},
    };
}

void MainForm::nameControls()
{
    ui::nameCaptionedControls(this);
    const std::pair<QWidget*, const char*> roles[] = {
        {Picture3, "新規作成"},
        {Picture4, "受信"},
        {Picture5, "メールを見る"},
        {Picture11, "アドレス帳"},
        {Picture12, "設定"},
        {Picture13, "ホームページ"},
        {Image1, "背景画"},
        {Text4, "累積数"},
        {Text6, "新着数"},
        {Check2, "新着メール有りで、メールを見るを自動表示"},
        {Picture6, "自動表示"},
        {Picture1, "インターバルチェック"},
        {Check4, "インターバルチェック"},
        {Text7, "インターバル（分）"},
        {Text8, "分"},
        {Image3, "ランプ"},
        {Text1, "説明"},
        {Text5, "新着情報"},
        {Text3, "新着情報の状態"},
        {Text2, "添付検索"},
        {Text9, "秒"},
        {Text10, "背景画のファイル"},
        {Text11, "ボタンの組"},
        {Check3, "受信したメールをサーバーに残す"},
    };
    for (const auto& [control, name] : roles) {
        control->setAccessibleName(QString::fromUtf8(name));
    }
    ui::describeControls(explanations_);
}

} // namespace lumora
