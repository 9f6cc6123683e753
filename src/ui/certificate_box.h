#pragma once

#include "mail/server_certificate.h"

#include <memory>

class QMessageBox;
class QWidget;

// The question whether to trust a server certificate that cannot be
// verified: what the certificate says, and two buttons of which the safe one
// ("接続しない") is the default and the answer to Esc.
namespace lumora {

class MailLibrary;
class UiServices;

namespace ui {

std::unique_ptr<QMessageBox> certificateBox(QWidget* parent, const ServerCertificate& certificate);

// Asks the user through ui and, on yes, has the library trust the
// certificate from now on; a trust that cannot be stored is said. True when
// the certificate is now trusted.
bool offerCertificateTrust(UiServices& ui, MailLibrary& mail, QWidget* parent,
                           const ServerCertificate& certificate);

} // namespace ui
} // namespace lumora
