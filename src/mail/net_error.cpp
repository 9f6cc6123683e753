#include "mail/net_error.h"

#include <QRegularExpression>

namespace lumora {

QString networkErrorText(NetError error, const QString& host, const QByteArray& serverReply,
                         const QString& detail)
{
    QString text;
    switch (error) {
    case NetError::HostNotFound:
        text = QStringLiteral("サーバー「%1」が見つかりません。サーバー名を確かめてください。");
        break;
    case NetError::Refused:
        text = QStringLiteral("サーバー「%1」に接続できません。"
                              "サーバー名とポート番号を確かめてください。");
        break;
    case NetError::Timeout:
        text = QStringLiteral("サーバー「%1」から応答がありません。");
        break;
    case NetError::LoginDenied:
        text = QStringLiteral("IDまたはパスワードが正しくありません。");
        break;
    case NetError::Certificate:
        text = QStringLiteral("サーバー「%1」の証明書を確認できません。"
                              "なりすましの恐れがあるため接続を中止しました。");
        break;
    case NetError::CertificateChanged:
        text = QStringLiteral("サーバー「%1」の証明書が、信頼すると決めたものから変わっています。"
                              "なりすましの恐れがあるため接続を中止しました。");
        break;
    case NetError::TlsFailed:
        text = QStringLiteral("サーバー「%1」との暗号化通信を始められません。");
        break;
    case NetError::TlsUnavailable:
        text = QStringLiteral("サーバー「%1」は暗号化通信に対応していません。");
        break;
    case NetError::InjectedBeforeTls:
        text = QStringLiteral("サーバー「%1」から、暗号化の始まる前に余分なデータが届きました。"
                              "通信が書き換えられている恐れがあるため接続を中止しました。");
        break;
    case NetError::TlsWithdrawn:
        text = QStringLiteral(
            "サーバー「%1」は、以前は暗号化通信に対応していましたが、今回は対応していない"
            "と応答しました。通信の途中で暗号化が取り除かれた恐れがあるため、パスワードを"
            "送らずに接続を中止しました。サーバーが暗号化をやめたことを管理者に確かめた場合は、"
            "サーバー設定のPOP3サーバー名を「pop3-plain://サーバー名」にすると、暗号化せずに"
            "接続できます。");
        break;
    case NetError::Dropped:
        text = QStringLiteral("サーバー「%1」との接続が切れました。");
        break;
    case NetError::ServerError:
        text = QStringLiteral("サーバー「%1」がエラーを返しました。");
        break;
    case NetError::Other:
        text = QStringLiteral("サーバー「%1」との通信に失敗しました。");
        break;
    }
    if (text.contains(QStringLiteral("%1"))) {
        text = text.arg(host);
    }
    const QString reply = QString::fromUtf8(serverReply.trimmed());
    // "[IN-USE]" (RFC 2449) or a plain "locked"; not every word that
    // happens to contain "lock" ("blocked").
    static const QRegularExpression locked(QStringLiteral("\\block(ed)?\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (reply.contains(QStringLiteral("[IN-USE]")) || reply.contains(locked)) {
        text = QStringLiteral("メールボックスがほかの接続で使用中です。"
                              "しばらくしてからもう一度受信してください。");
    }
    if (!reply.isEmpty()) {
        text += QStringLiteral("\n（サーバーの応答: %1）").arg(reply);
    } else if (!detail.isEmpty()) {
        text += QStringLiteral("\n（%1）").arg(detail);
    }
    return text;
}

} // namespace lumora
