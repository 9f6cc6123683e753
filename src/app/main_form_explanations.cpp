// The explanations the main window shows for the control under the mouse,
// and what a screen reader says for each control.

#include "app/main_form.h"

#include "ui/accessibility.h"
#include "ui/picture_button.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

namespace lumora {

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
    };
    for (const auto& [control, name] : roles) {
        control->setAccessibleName(QString::fromUtf8(name));
    }
    ui::describeControls(explanations_);
}

} // namespace lumora
