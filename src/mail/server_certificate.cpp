#include "mail/server_certificate.h"

#include "mail/server_address.h"
#include "store/file_io.h"

#include <QList>
#include <QStringList>

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <mutex>

namespace lumora {
namespace {

// One writer at a time; readers see the old file or the new one.
std::mutex writeMutex;

struct TrustLine {
    QString host;
    int port = 0;
    QString fingerprint;
};

QList<TrustLine> readLines(const QString& path)
{
    QList<TrustLine> lines;
    const Result<QByteArray> bytes = fileio::readAll(path);
    if (!bytes.ok()) {
        return lines;
    }
    for (const QByteArray& raw : bytes.value().split('\n')) {
        const QStringList fields = QString::fromUtf8(raw.trimmed()).split(u' ', Qt::SkipEmptyParts);
        bool ok = false;
        const int port = fields.size() == 3 ? fields[1].toInt(&ok) : 0;
        if (ok && port > 0 && port < 65536) {
            lines.append({fields[0].toLower(), port, fields[2].toUpper()});
        }
    }
    return lines;
}

QString nameText(const X509_NAME* name)
{
    if (!name) {
        return {};
    }
    char* text = X509_NAME_oneline(name, nullptr, 0);
    const QString result = QString::fromUtf8(text);
    OPENSSL_free(text);
    return result;
}

QDateTime timeOf(const ASN1_TIME* time)
{
    struct tm parts = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) {
        return {};
    }
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString fingerprintOf(X509* leaf)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(leaf, EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length))
            .toHex(':')
            .toUpper());
}

} // namespace

std::optional<QString> CertificateTrust::trustedFingerprint(const QString& host, int port) const
{
    if (path_.isEmpty()) {
        return std::nullopt;
    }
    const QString key = host.toLower();
    for (const TrustLine& line : readLines(path_)) {
        if (line.host == key && line.port == port) {
            return line.fingerprint;
        }
    }
    return std::nullopt;
}

Status CertificateTrust::trust(const ServerCertificate& certificate) const
{
    if (path_.isEmpty() || certificate.fingerprint.isEmpty() || certificate.host.contains(u' ') ||
        certificate.host.isEmpty()) {
        return {StoreError::BadArgument, QStringLiteral("no trust file or no certificate")};
    }
    std::lock_guard lock(writeMutex);
    const QString host = certificate.host.toLower();
    QByteArray contents;
    for (const TrustLine& line : readLines(path_)) {
        if (line.host != host || line.port != certificate.port) {
            contents += QStringLiteral("%1 %2 %3\r\n")
                            .arg(line.host)
                            .arg(line.port)
                            .arg(line.fingerprint)
                            .toUtf8();
        }
    }
    contents += QStringLiteral("%1 %2 %3\r\n")
                    .arg(host)
                    .arg(certificate.port)
                    .arg(certificate.fingerprint.toUpper())
                    .toUtf8();
    fileio::WriteOptions options;
    options.ownerOnly = true;
    return fileio::writeAtomically(path_, contents, options);
}

CertificateVerdict judgeCertificate(X509* leaf, long verifyResult, const QString& host, int port,
                                    const CertificateTrust& trust, ServerCertificate& certificate)
{
    if (leaf && verifyResult == X509_V_OK) {
        return CertificateVerdict::Accepted;
    }
    certificate = {};
    certificate.host = host;
    certificate.port = port;
    certificate.reason = certificateReason(verifyResult);
    if (!leaf) {
        return CertificateVerdict::Untrusted;
    }
    certificate.subject = nameText(X509_get_subject_name(leaf));
    certificate.issuer = nameText(X509_get_issuer_name(leaf));
    certificate.notBefore = timeOf(X509_get0_notBefore(leaf));
    certificate.notAfter = timeOf(X509_get0_notAfter(leaf));
    certificate.fingerprint = fingerprintOf(leaf);
    const std::optional<QString> trusted = trust.trustedFingerprint(host, port);
    if (!trusted || certificate.fingerprint.isEmpty()) {
        return CertificateVerdict::Untrusted;
    }
    if (*trusted == certificate.fingerprint) {
        return CertificateVerdict::Accepted;
    }
    certificate.trustedFingerprint = *trusted;
    return CertificateVerdict::Changed;
}

void expectHost(X509_VERIFY_PARAM* param, const QString& host)
{
    const QByteArray name = host.toUtf8();
    if (isIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, name.constData());
    } else {
        X509_VERIFY_PARAM_set1_host(param, name.constData(), 0);
    }
}

QString certificateReason(long verifyResult)
{
    QString reason;
    switch (verifyResult) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        reason = QStringLiteral("サーバーが自分で署名した証明書です");
        break;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        reason = QStringLiteral("証明書を発行した認証局が信頼されていません");
        break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        reason = QStringLiteral("証明書の有効期限が切れています");
        break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        reason = QStringLiteral("証明書の有効期間がまだ始まっていません");
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        reason = QStringLiteral("証明書がこのサーバーの名前に発行されたものではありません");
        break;
    default:
        return QString::fromUtf8(X509_verify_cert_error_string(verifyResult));
    }
    return reason + QStringLiteral("（%1）").arg(
                        QString::fromUtf8(X509_verify_cert_error_string(verifyResult)));
}

QString certificateHeadline(const ServerCertificate& certificate)
{
    const QString server = QStringLiteral("%1:%2").arg(certificate.host).arg(certificate.port);
    return certificate.changed()
               ? QStringLiteral("サーバー「%1」の証明書が、前に信頼した証明書と違います。")
                     .arg(server)
               : QStringLiteral("サーバー「%1」の証明書を確認できません。").arg(server);
}

QString certificateDetails(const ServerCertificate& certificate)
{
    const auto when = [](const QDateTime& time) {
        return time.isValid() ? time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss UTC"))
                              : QStringLiteral("不明");
    };
    QString text = QStringLiteral("理由: %1\n発行先: %2\n発行者: %3\n有効期間: %4 ～ %5\n")
                       .arg(certificate.reason, certificate.subject, certificate.issuer,
                            when(certificate.notBefore), when(certificate.notAfter));
    if (certificate.changed()) {
        text +=
            QStringLiteral("信頼した証明書の指紋 (SHA-256):\n%1\n今回の証明書の指紋 (SHA-256):\n%2")
                .arg(certificate.trustedFingerprint, certificate.fingerprint);
    } else {
        text += QStringLiteral("指紋 (SHA-256):\n%1").arg(certificate.fingerprint);
    }
    return text;
}

QString certificateText(const ServerCertificate& certificate)
{
    return certificateHeadline(certificate) + u'\n' + certificateDetails(certificate);
}

} // namespace lumora
