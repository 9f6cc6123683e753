#pragma once

#include <QByteArray>
#include <QString>

// What went wrong talking to a mail server, and the Japanese sentence a user
// reads for it.
namespace lumora {

enum class NetError {
    HostNotFound,
    Refused,
    Timeout,
    LoginDenied,
    Certificate,
    CertificateChanged, // not the certificate the user trusted for the server
    TlsFailed,
    TlsUnavailable,
    // Bytes came before the encryption began, where a server sends none:
    // someone on the path may be trying to slip in replies.
    InjectedBeforeTls,
    // A server that offered encryption before offers it no longer.
    TlsWithdrawn,
    Dropped,
    ServerError,
    Other,
};

// The text for the failure, with the server's reply ("-ERR ...", "550 ...")
// or a technical detail appended in brackets when there is one.
QString networkErrorText(NetError error, const QString& host, const QByteArray& serverReply,
                         const QString& detail = {});

} // namespace lumora
