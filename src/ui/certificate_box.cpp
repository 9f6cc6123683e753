#include "ui/certificate_box.h"

#include "mail/mail_library.h"
#include "ui/ui_services.h"

#include <QMessageBox>
#include <QPushButton>

namespace lumora::ui {

std::unique_ptr<QMessageBox> certificateBox(QWidget* parent, const ServerCertificate& certificate)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("証明書の確認"));
    box->setText(certificateHeadline(certificate) + u'\n' +
                 (certificate.changed()
                      ? QStringLiteral("サーバーが証明書を替えたと確かめられない限り、"
                                       "接続しないでください。")
                      : QStringLiteral("このサーバーの管理者から知らされた指紋と同じときだけ、"
                                       "信頼してください。")));
    box->setInformativeText(certificateDetails(certificate));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Wide enough for a fingerprint on one line.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 48em; }"));
    QPushButton* trust =
        box->addButton(certificate.changed() ? QStringLiteral("新しい証明書を信頼して接続する")
                                             : QStringLiteral("信頼して接続する"),
                       QMessageBox::AcceptRole);
    trust->setObjectName(QStringLiteral("trustButton"));
    QPushButton* refuse = box->addButton(QStringLiteral("接続しない"), QMessageBox::RejectRole);
    refuse->setObjectName(QStringLiteral("refuseButton"));
    box->setDefaultButton(refuse);
    box->setEscapeButton(refuse);
    return box;
}

bool offerCertificateTrust(UiServices& ui, MailLibrary& mail, QWidget* parent,
                           const ServerCertificate& certificate)
{
    if (!ui.trustCertificate(parent, certificate)) {
        return false;
    }
    if (!mail.NMailTrustCertificate(certificate)) {
        ui.inform(parent, QStringLiteral("証明書を信頼する設定を保存できませんでした。"),
                  QStringLiteral("エラー"), MessageIcon::Critical);
        return false;
    }
    return true;
}

} // namespace lumora::ui
