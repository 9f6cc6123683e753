#pragma once

#include "store/status.h"

#include <QDateTime>
#include <QString>

#include <optional>

typedef struct x509_st X509;
typedef struct X509_VERIFY_PARAM_st X509_VERIFY_PARAM;

// Certificates of mail servers that the user chose to trust although they
// cannot be verified (self-signed, or signed by a private CA). The choice is
// kept per server and port as the certificate's SHA-256 fingerprint, one line
// each ("host port fingerprint"), in a file only its owner can read; every
// later connection compares the certificate the server presents with it.
namespace lumora {

struct ServerCertificate {
    QString host;
    int port = 0;
    QString subject;
    QString issuer;
    QDateTime notBefore;
    QDateTime notAfter;
    // SHA-256 of the certificate, as "AB:CD:...".
    QString fingerprint;
    // Why it could not be verified.
    QString reason;
    // When the user had trusted this server with another certificate: that
    // certificate's fingerprint.
    QString trustedFingerprint;

    bool changed() const { return !trustedFingerprint.isEmpty(); }
};

class CertificateTrust {
public:
    // No file: nothing is trusted and nothing can be.
    CertificateTrust() = default;
    explicit CertificateTrust(QString path) : path_(std::move(path)) {}

    // The fingerprint the user trusted for the server, read from the file now.
    std::optional<QString> trustedFingerprint(const QString& host, int port) const;
    // Keeps the certificate's fingerprint for its server and port, in place of
    // any earlier one.
    Status trust(const ServerCertificate& certificate) const;

private:
    QString path_;
};

enum class CertificateVerdict {
    Accepted,  // verified, or the certificate the user trusted for the server
    Untrusted, // cannot be verified and was never trusted
    Changed,   // cannot be verified and is not the one the user trusted
};

// Judges the certificate a server presented, given OpenSSL's verification
// result for it (which includes the host name check). Fills certificate with
// what the user needs to decide unless it is accepted.
CertificateVerdict judgeCertificate(X509* leaf, long verifyResult, const QString& host, int port,
                                    const CertificateTrust& trust, ServerCertificate& certificate);

// Makes the verification check that the certificate names host (a name, or
// an IPv4 or IPv6 address).
void expectHost(X509_VERIFY_PARAM* param, const QString& host);

// What the user reads about an unverified certificate: a headline naming
// the server, and the details: why it failed, the subject, issuer, validity
// and fingerprint, for a changed one both fingerprints.
QString certificateHeadline(const ServerCertificate& certificate);
QString certificateDetails(const ServerCertificate& certificate);
// The two together.
QString certificateText(const ServerCertificate& certificate);
// Why OpenSSL's verification failed, in Japanese with OpenSSL's own words.
QString certificateReason(long verifyResult);

} // namespace lumora
