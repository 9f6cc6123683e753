#include "mail/smtp_session.h"

#include "store/numeric_text.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cstring>

namespace lumora {
namespace {

NetError netErrorFor(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return NetError::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        return NetError::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        return NetError::Timeout;
    case CURLE_LOGIN_DENIED:
        return NetError::LoginDenied;
    case CURLE_PEER_FAILED_VERIFICATION:
        return NetError::Certificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
        return NetError::TlsFailed;
    case CURLE_USE_SSL_FAILED:
        return NetError::TlsUnavailable;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return NetError::Dropped;
    default:
        return NetError::Other;
    }
}

QString tooLargeText(qint64 size, qint64 limit)
{
    return QStringLiteral("メールを送信できませんでした。\nメールが大きすぎます（%1 MB）。"
                          "このサーバーが受け付けるのは %2 MB（%3 バイト）までです。"
                          "添付ファイルを減らしてください。")
        .arg(text::megabytes(size), text::megabytes(limit))
        .arg(limit);
}

} // namespace

SmtpSession::SmtpSession(ConnectionOptions options) : options_(std::move(options)) {}

SmtpSession::~SmtpSession()
{
    close();
}

void SmtpSession::close()
{
    if (curl_) {
        curl_easy_cleanup(curl_); // QUIT
        curl_ = nullptr;
    }
    key_.clear();
    sizeLimit_ = 0;
}

size_t SmtpSession::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* session = static_cast<SmtpSession*>(self);
    const size_t length = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(length)).trimmed();
    if (line.size() >= 3 && (line[0] == '4' || line[0] == '5')) {
        session->lastReply_ = line;
    }
    // "250-SIZE 10240000" in the EHLO reply: the largest mail the server takes.
    if (line.size() > 9 && line.startsWith("250") && (line[3] == '-' || line[3] == ' ') &&
        line.mid(4, 5).toUpper() == "SIZE ") {
        bool ok = false;
        const qint64 limit = line.mid(9).trimmed().toLongLong(&ok);
        session->sizeLimit_ = ok && limit > 0 ? limit : 0;
    }
    return length;
}

size_t SmtpSession::onRead(char* buffer, size_t size, size_t count, void* self)
{
    auto* session = static_cast<SmtpSession*>(self);
    if (!session->upload_) {
        return 0;
    }
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype left = session->upload_->size() - session->uploaded_;
    const qsizetype n = std::min(room, left);
    std::memcpy(buffer, session->upload_->constData() + session->uploaded_, static_cast<size_t>(n));
    session->uploaded_ += n;
    return static_cast<size_t>(n);
}

struct SmtpTls {
    static CURLcode onContext(CURL*, void* context, void* self)
    {
        auto* ctx = static_cast<SSL_CTX*>(context);
        auto* session = static_cast<SmtpSession*>(self);
        // The certificates the receive trusts, and only those: the system's
        // store as OpenSSL finds it (SSL_CERT_FILE and SSL_CERT_DIR honoured),
        // or the CA file given, never a bundle of curl's own.
        X509_STORE* store = X509_STORE_new();
        const QByteArray caFile = session->options_.caFile.toUtf8();
        const bool loaded =
            store &&
            (caFile.isEmpty() ? X509_STORE_set_default_paths(store) == 1
                              : X509_STORE_load_locations(store, caFile.constData(), nullptr) == 1);
        if (!loaded) {
            X509_STORE_free(store);
            return CURLE_SSL_CACERT_BADFILE;
        }
        SSL_CTX_set_cert_store(ctx, store);
        SSL_CTX_set_cert_verify_callback(ctx, &SmtpTls::onVerify, self);
        return CURLE_OK;
    }

    static int onVerify(X509_STORE_CTX* store, void* self)
    {
        auto* session = static_cast<SmtpSession*>(self);
        // The host name is checked here with the chain (curl's own check is off)
        // so that a certificate the user trusted for this server is accepted
        // whatever names it carries.
        expectHost(X509_STORE_CTX_get0_param(store), session->server_.host);
        const long result =
            X509_verify_cert(store) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(store);
        ServerCertificate presented;
        const CertificateVerdict verdict =
            judgeCertificate(X509_STORE_CTX_get0_cert(store), result, session->server_.host,
                             session->server_.port, session->options_.trust, presented);
        if (verdict == CertificateVerdict::Accepted) {
            X509_STORE_CTX_set_error(store, X509_V_OK);
            return 1;
        }
        session->certificate_ = presented;
        return 0;
    }
};

bool SmtpSession::send(const ServerAddress& server, const QString& id, const QString& password,
                       const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
                       const QByteArray& bytes)
{
    const QString key = server.url(Protocol::Smtp) + QLatin1Char('\n') + id + QLatin1Char('\n') +
                        password + QString::number(static_cast<int>(server.tls));
    if (curl_ && (key != key_ || idle_.elapsed() > kKeepOpenMilliseconds)) {
        close();
    }
    if (!curl_) {
        curl_ = curl_easy_init();
        if (!curl_) {
            error_ = QStringLiteral("通信の準備ができませんでした。");
            return false;
        }
        key_ = key;
        server_ = server;
        const QByteArray url = server.url(Protocol::Smtp).toUtf8();
        curl_easy_setopt(curl_, CURLOPT_URL, url.constData());
        if (!id.isEmpty()) {
            const QByteArray user = id.toUtf8();
            const QByteArray pass = password.toUtf8();
            curl_easy_setopt(curl_, CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, pass.constData());
        }
        if (server.tls != Tls::Implicit) {
            curl_easy_setopt(curl_, CURLOPT_USE_SSL,
                             server.tls == Tls::Required ? static_cast<long>(CURLUSESSL_ALL)
                                                         : static_cast<long>(CURLUSESSL_TRY));
        }
        curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(curl_, CURLOPT_SSL_CTX_FUNCTION, &SmtpTls::onContext);
        curl_easy_setopt(curl_, CURLOPT_SSL_CTX_DATA, this);
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT,
                         static_cast<long>(options_.connectTimeoutSeconds));
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.stallSeconds));
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &SmtpSession::onHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl_, CURLOPT_READFUNCTION, &SmtpSession::onRead);
        curl_easy_setopt(curl_, CURLOPT_READDATA, this);
        curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    }
    // A server that said how large a mail may be is not sent a larger one:
    // the user learns the limit at once instead of after the upload.
    if (sizeLimit_ > 0 && bytes.size() > sizeLimit_) {
        error_ = tooLargeText(bytes.size(), sizeLimit_);
        idle_.start();
        return false;
    }
    const QByteArray from = '<' + envelopeFrom + '>';
    curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, from.constData());
    curl_slist* rcpt = nullptr;
    for (const QByteArray& r : recipients) {
        rcpt = curl_slist_append(rcpt, ('<' + r + '>').constData());
    }
    curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
    upload_ = &bytes;
    uploaded_ = 0;
    lastReply_.clear();
    certificate_.reset();
    errorBuffer_[0] = '\0';
    const CURLcode code = curl_easy_perform(curl_);
    upload_ = nullptr;
    curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, nullptr);
    curl_slist_free_all(rcpt);
    long connects = 0;
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &connects);
    connections_ += connects;
    idle_.start();
    if (code != CURLE_OK) {
        QString text;
        if (sizeLimit_ > 0 && bytes.size() > sizeLimit_) {
            // Refused at MAIL FROM, whose SIZE parameter curl sends when the
            // server offers the extension: nothing was uploaded.
            error_ = tooLargeText(bytes.size(), sizeLimit_);
            close();
            return false;
        }
        if (code == CURLE_LOGIN_DENIED) {
            text = QStringLiteral(
                "SMTPサーバーにログインできません。IDまたはパスワードを確かめてください。");
            if (!lastReply_.isEmpty()) {
                text +=
                    QStringLiteral("\n（サーバーの応答: %1）").arg(QString::fromUtf8(lastReply_));
            }
        } else if ((code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR ||
                    code == CURLE_WEIRD_SERVER_REPLY) &&
                   !lastReply_.isEmpty()) {
            text =
                QStringLiteral("サーバーがメールを受け付けませんでした。\n（サーバーの応答: %1）")
                    .arg(QString::fromUtf8(lastReply_));
        } else if (certificate_) {
            text = networkErrorText(certificate_->changed() ? NetError::CertificateChanged
                                                            : NetError::Certificate,
                                    server.host, {}, certificate_->reason);
        } else {
            text = networkErrorText(netErrorFor(code), server.host, lastReply_,
                                    QString::fromUtf8(errorBuffer_));
        }
        error_ = QStringLiteral("メールを送信できませんでした。\n") + text;
        close();
        return false;
    }
    return true;
}

} // namespace lumora
