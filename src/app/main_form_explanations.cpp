// The explanations the main window shows for the control under the mouse.

#include "app/main_form.h"

#include "app/picture_button.h"

#include <QCheckBox>
#include <QLineEdit>

namespace lumora {

QString MainForm::explanationFor(const QObject* control) const
{
    if (control == Check1) {
        return QStringLiteral(
            "チェックを入れると、各画面で、ボタン類にマウスカーソルを移動させた時に、"
            "対応した説明が表示されます。チェックを外すと、非表示になります。");
    }
    if (control == Check2) {
        return QStringLiteral("チェックを入れると、メールを受信し、新着メールがあった場合のみ、"
                              "「メールを見る」画面を自動表示します。");
    }
    if (control == Picture3) {
        return QStringLiteral("メールの新規作成・送信が行えます。");
    }
    if (control == Picture4) {
        return QStringLiteral("新着メールの受信を行います。");
    }
    if (control == Picture5) {
        return QStringLiteral("受信したメールを見ます。");
    }
    if (control == Picture11) {
        return QStringLiteral(
            "アドレス帳に登録、新規作成画面でのアドレス一発入力が出来るようになります。");
    }
    if (control == Picture12) {
        return QStringLiteral("ID,PASS,サーバーの設定を行います。この設定を行わないと、"
                              "通信エラーが発生します。全５項目。");
    }
    if (control == Picture13) {
        return QStringLiteral("ルモラのホームページをブラウザで開きます。"
                              "最新版のお知らせや使い方はこちらでご覧いただけます。");
    }
    if (control == Text3) {
        return QStringLiteral("新着メールの有無を文字で表示します。");
    }
    if (control == Text4) {
        return QStringLiteral("これまでに受信したメールの累積数を表示します。"
                              "「メールを見る」画面で削除を行うと、それに伴って数字が変化します。");
    }
    if (control == Text6) {
        return QStringLiteral("新着メール受信で、新着メール数を表示します。"
                              "新着メールがなければ「０」が表示されます。");
    }
    return {};
}

} // namespace lumora
