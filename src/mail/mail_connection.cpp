#include "mail/mail_connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace lumora {
namespace {

QString sslErrorText()
{
    char text[256] = {};
    const unsigned long code = ERR_get_error();
    if (code == 0) {
        return {};
    }
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return QString::fromUtf8(text);
}

} // namespace

MailConnection::MailConnection(ServerAddress server, ConnectionOptions options)
    : server_(std::move(server)), options_(std::move(options))
{
}

MailConnection::~MailConnection()
{
    closeSocket();
    if (ctx_) {
        SSL_CTX_free(ctx_);
    }
}

bool MailConnection::fail(NetError error, const QByteArray& reply, const QString& detail)
{
    error_ = networkErrorText(error, server_.host, reply, detail);
    errorKind_ = error;
    return false;
}

bool MailConnection::connectTcp()
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray host = server_.host.toUtf8();
    const QByteArray port = QByteArray::number(server_.port);
    const int resolved = ::getaddrinfo(host.constData(), port.constData(), &hints, &found);
    if (resolved != 0) {
        return fail(NetError::HostNotFound, {}, QString::fromUtf8(gai_strerror(resolved)));
    }
    int lastErrno = 0;
    for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, options_.connectTimeoutSeconds * 1000);
            int soError = 0;
            socklen_t length = sizeof soError;
            connected = ready == 1 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 &&
                        soError == 0;
            lastErrno = ready == 0 ? ETIMEDOUT : soError;
        } else if (!connected) {
            lastErrno = errno;
        }
        if (!connected) {
            ::close(fd);
            continue;
        }
        // Blocking from here on, with a limit on how long a transfer may stall.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        timeval limit{options_.stallSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(fdMutex_);
        if (aborted_) {
            ::close(fd);
            ::freeaddrinfo(found);
            return fail(NetError::Dropped);
        }
        fd_ = fd;
    }
    ::freeaddrinfo(found);
    if (fd_ < 0) {
        return fail(lastErrno == ETIMEDOUT ? NetError::Timeout : NetError::Refused, {},
                    QString::fromLocal8Bit(std::strerror(lastErrno)));
    }
    return true;
}

bool MailConnection::startTls()
{
    if (!ctx_) {
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_) {
            return fail(NetError::TlsFailed, {}, sslErrorText());
        }
        SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
        // The chain and the host name are verified during the handshake
        // and judged after it, before a byte of the session is sent, so
        // that a certificate the user trusted can be told from one never
        // seen and the user can be shown the certificate.
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
        const bool loaded = options_.caFile.isEmpty()
                                ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                                : SSL_CTX_load_verify_locations(
                                      ctx_, options_.caFile.toUtf8().constData(), nullptr) == 1;
        if (!loaded) {
            return fail(NetError::Certificate, {}, sslErrorText());
        }
    }
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    const QByteArray host = server_.host.toUtf8();
    expectHost(SSL_get0_param(ssl_), server_.host);
    if (!isIpAddress(server_.host)) {
        // SSL_set_tlsext_host_name() without its C cast
        SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(host.constData()));
    }
    certificate_.reset();
    if (SSL_connect(ssl_) != 1) {
        broken_ = true;
        return fail(NetError::TlsFailed, {}, sslErrorText());
    }
    ServerCertificate presented;
    const CertificateVerdict verdict =
        judgeCertificate(SSL_get0_peer_certificate(ssl_), SSL_get_verify_result(ssl_), server_.host,
                         server_.port, options_.trust, presented);
    if (verdict != CertificateVerdict::Accepted) {
        broken_ = true;
        certificate_ = presented;
        return fail(verdict == CertificateVerdict::Changed ? NetError::CertificateChanged
                                                           : NetError::Certificate,
                    {}, presented.reason);
    }
    return true;
}

bool MailConnection::send(const QByteArray& bytes)
{
    if (broken_ || fd_ < 0) {
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const int left = static_cast<int>(std::min<qsizetype>(bytes.size() - done, 1 << 20));
        const int n = ssl_ ? SSL_write(ssl_, bytes.constData() + done, left)
                           : static_cast<int>(::send(fd_, bytes.constData() + done,
                                                     static_cast<size_t>(left), MSG_NOSIGNAL));
        if (n <= 0) {
            if (!ssl_ && n < 0 && errno == EINTR) {
                continue;
            }
            broken_ = true;
            return fail(errno == EAGAIN ? NetError::Timeout : NetError::Dropped);
        }
        done += n;
    }
    return true;
}

bool MailConnection::fill()
{
    if (broken_ || fd_ < 0) {
        return false;
    }
    if (!outgoing_.isEmpty()) {
        const QByteArray commands = std::exchange(outgoing_, {});
        if (!send(commands)) {
            return false;
        }
    }
    if (bufferPos_ > 0) {
        buffer_.remove(0, bufferPos_);
        bufferPos_ = 0;
    }
    constexpr int kChunk = 256 * 1024;
    const qsizetype old = buffer_.size();
    buffer_.resize(old + kChunk);
    int n;
    do {
        n = ssl_ ? SSL_read(ssl_, buffer_.data() + old, kChunk)
                 : static_cast<int>(::recv(fd_, buffer_.data() + old, kChunk, 0));
    } while (n < 0 && !ssl_ && errno == EINTR);
    if (n <= 0) {
        buffer_.resize(old);
        broken_ = true;
        return fail(n < 0 && errno == EAGAIN ? NetError::Timeout : NetError::Dropped);
    }
    buffer_.resize(old + n);
    return true;
}

bool MailConnection::tooLong(const char* what)
{
    broken_ = true;
    return fail(
        NetError::ServerError, {},
        QStringLiteral("%1が長すぎるため、通信を中止しました").arg(QString::fromUtf8(what)));
}

bool MailConnection::readLine(QByteArray& line)
{
    for (;;) {
        const qsizetype end = buffer_.indexOf('\n', bufferPos_);
        if (end < 0 && buffer_.size() - bufferPos_ > kMaxLineBytes) {
            return tooLong("サーバーの応答の行");
        }
        if (end >= 0) {
            qsizetype length = end - bufferPos_;
            if (length > 0 && buffer_[end - 1] == '\r') {
                --length;
            }
            line = buffer_.mid(bufferPos_, length);
            bufferPos_ = end + 1;
            return true;
        }
        if (!fill()) {
            return false;
        }
    }
}

void MailConnection::abort()
{
    std::lock_guard lock(fdMutex_);
    aborted_ = true;
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

bool MailConnection::nothingBeforeTls()
{
    if (bufferPos_ < buffer_.size()) {
        return fail(NetError::InjectedBeforeTls);
    }
    buffer_.clear();
    bufferPos_ = 0;
    return true;
}

void MailConnection::closeSocket()
{
    if (ssl_) {
        if (!broken_) {
            SSL_shutdown(ssl_);
        }
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        std::lock_guard lock(fdMutex_);
        ::close(fd_);
        fd_ = -1;
    }
    broken_ = true;
    outgoing_.clear();
    buffer_.clear();
    bufferPos_ = 0;
}

} // namespace lumora
