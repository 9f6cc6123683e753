#include "mail/pop3_session.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
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

// A server's status line (greeting, +OK, -ERR) is short; a few kilobytes is
// plenty.
constexpr qsizetype kMaxLineBytes = 8 * 1024;
// LIST and UIDL: about 150 000 entries, far beyond any mailbox the
// received-mail file can take (32767 records).
constexpr qint64 kMaxListBytes = 8 * 1024 * 1024;

// Requests in flight at once, and the bytes they may bring, when the server
// lets us pipeline.
constexpr int kWindow = 32;
constexpr qint64 kWindowBytes = 8 * 1024 * 1024;

// An APOP challenge as RFC 1939 wants it: "<...@...>", printable ASCII only.
// Anything else could be an attacker's chosen challenge.
std::optional<QByteArray> safeApopTimestamp(const QByteArray& greeting)
{
    const qsizetype open = greeting.indexOf('<');
    const qsizetype close = greeting.indexOf('>', open + 1);
    if (open < 0 || close < 0) {
        return std::nullopt;
    }
    const QByteArray stamp = greeting.mid(open, close - open + 1);
    const QByteArray inside = stamp.mid(1, stamp.size() - 2);
    if (inside.isEmpty() || !inside.contains('@')) {
        return std::nullopt;
    }
    const bool printable = std::all_of(inside.begin(), inside.end(), [](char c) {
        return c > 0x20 && c < 0x7F && c != '<' && c != '>';
    });
    return printable ? std::optional<QByteArray>(stamp) : std::nullopt;
}

QByteArray md5Hex(const QByteArray& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &length, EVP_md5(),
               nullptr);
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length))
        .toHex();
}

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

Pop3Session::Pop3Session(ServerAddress server, ConnectionOptions options)
    : server_(std::move(server)), options_(std::move(options))
{
}

Pop3Session::~Pop3Session()
{
    close();
    if (ctx_) {
        SSL_CTX_free(ctx_);
    }
}

bool Pop3Session::fail(NetError error, const QByteArray& reply, const QString& detail)
{
    error_ = networkErrorText(error, server_.host, reply, detail);
    errorKind_ = error;
    return false;
}

bool Pop3Session::connectTcp()
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

bool Pop3Session::startTls()
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

bool Pop3Session::connect()
{
    if (fd_ >= 0) {
        return true;
    }
    broken_ = false;
    if (!connectTcp()) {
        return false;
    }
    if (server_.tls == Tls::Implicit && !startTls()) {
        dropConnection();
        return false;
    }
    return true;
}

bool Pop3Session::send(const QByteArray& bytes)
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

bool Pop3Session::fill()
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

bool Pop3Session::tooLong(const char* what)
{
    broken_ = true;
    return fail(
        NetError::ServerError, {},
        QStringLiteral("%1が長すぎるため、受信を中止しました").arg(QString::fromUtf8(what)));
}

bool Pop3Session::readLine(QByteArray& line)
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

bool Pop3Session::readMultiline(QByteArray& out, qint64 maxBytes)
{
    // bufferPos_ is always at the start of a line. Runs of lines that do not
    // start with a dot are copied in one piece.
    // The buffer may hold the replies that follow this one (requests are
    // pipelined): only this reply's bytes and its unfinished last line count.
    const auto lineTooLong = [&] {
        return buffer_.size() - bufferPos_ > maxBytes - out.size() + kMaxLineBytes;
    };
    for (;;) {
        if (out.size() > maxBytes) {
            return tooLong("サーバーの応答");
        }
        const qsizetype size = buffer_.size();
        const char* data = buffer_.constData();
        if (bufferPos_ < size && data[bufferPos_] == '.') {
            const qsizetype end = buffer_.indexOf('\n', bufferPos_);
            if (end < 0) {
                if (lineTooLong()) {
                    return tooLong("サーバーの応答");
                }
                if (!fill()) {
                    return false;
                }
                continue;
            }
            qsizetype length = end - bufferPos_;
            if (length > 0 && data[end - 1] == '\r') {
                --length;
            }
            if (length == 1) {
                bufferPos_ = end + 1;
                return true; // the end of the reply
            }
            out.append(data + bufferPos_ + 1, end - bufferPos_); // a stuffed dot
            bufferPos_ = end + 1;
            continue;
        }
        // Up to the next line that starts with a dot, or the last whole line.
        qsizetype stop = bufferPos_;
        qsizetype at = bufferPos_;
        while (at < size) {
            const void* found = std::memchr(data + at, '\n', static_cast<size_t>(size - at));
            if (!found) {
                break;
            }
            const qsizetype newline = static_cast<const char*>(found) - data;
            stop = newline + 1;
            if (stop < size && data[stop] == '.') {
                break;
            }
            at = stop;
        }
        if (stop > bufferPos_) {
            out.append(data + bufferPos_, stop - bufferPos_);
            bufferPos_ = stop;
        }
        if (bufferPos_ >= size || data[bufferPos_] != '.') {
            // What is left is an unfinished line.
            if (lineTooLong()) {
                return tooLong("サーバーの応答");
            }
            if (!fill()) {
                return false;
            }
        }
    }
}

bool Pop3Session::command(const QByteArray& line, QByteArray* reply)
{
    while (!pending_.empty()) {
        if (!readPending()) {
            return false;
        }
    }
    QByteArray answer;
    if (!send(std::exchange(outgoing_, {}) + line + "\r\n") || !readLine(answer)) {
        return false;
    }
    if (reply) {
        *reply = answer;
    }
    return answer.startsWith("+OK");
}

bool Pop3Session::readCapabilities()
{
    pipelining_ = false;
    offersStls_ = false;
    QByteArray reply;
    if (!command("CAPA", &reply)) {
        return !broken_; // no CAPA: no capabilities
    }
    QByteArray list;
    if (!readMultiline(list, kMaxLineBytes * 16)) {
        return false;
    }
    for (const QByteArray& capability : list.split('\n')) {
        const QByteArray name = capability.trimmed().toUpper();
        pipelining_ = pipelining_ || name == "PIPELINING";
        offersStls_ = offersStls_ || name == "STLS";
    }
    return true;
}

int Pop3Session::login(const QString& id, const QString& password, bool apop)
{
    if (fd_ < 0 && !connect()) {
        return -1;
    }
    QByteArray greeting;
    if (!readLine(greeting)) {
        return -1;
    }
    greeting_ = greeting;
    if (!greeting.startsWith("+OK")) {
        fail(NetError::ServerError, greeting);
        dropConnection();
        return -1;
    }
    std::optional<QByteArray> stamp;
    if (apop) {
        stamp = safeApopTimestamp(greeting);
        if (!stamp) {
            error_ = QStringLiteral("サーバー「%1」の挨拶がAPOPの形式に合わないため、"
                                    "APOPでのログインを中止しました。"
                                    "サーバー設定のAPOPを外すか、サーバーを確かめてください。")
                         .arg(server_.host);
            dropConnection();
            return -1;
        }
    }
    if (!readCapabilities()) {
        dropConnection();
        return -1;
    }
    if (!ssl_ && (offersStls_ || server_.tls == Tls::Required)) {
        QByteArray reply;
        if (!command("STLS", &reply)) {
            fail(NetError::TlsUnavailable, reply);
            dropConnection();
            return -1;
        }
        // Whatever came after "+OK" and before the handshake was not
        // protected by it: a server never sends such bytes, an attacker on
        // the path does, to have them read as replies inside the session.
        if (bufferPos_ < buffer_.size()) {
            fail(NetError::InjectedBeforeTls);
            dropConnection();
            return -1;
        }
        buffer_.clear();
        bufferPos_ = 0;
        if (!startTls() || !readCapabilities()) {
            dropConnection();
            return -1;
        }
    } else if (!ssl_ && server_.tls == Tls::WhenOffered &&
               options_.tlsMemory.spokeTlsBefore(server_.host, server_.port)) {
        // It offered encryption before and does not now: the offer may have
        // been taken out on the way. The password does not go out in plain
        // text.
        fail(NetError::TlsWithdrawn);
        dropConnection();
        return -1;
    }
    if (ssl_) {
        (void)options_.tlsMemory.remember(server_.host, server_.port);
    }

    QByteArray reply;
    const QByteArray user = id.toUtf8();
    const bool accepted =
        apop ? command("APOP " + user + ' ' + md5Hex(*stamp + password.toUtf8()), &reply)
             : command("USER " + user, &reply) && command("PASS " + password.toUtf8(), &reply);
    if (!accepted) {
        if (!broken_) {
            fail(NetError::LoginDenied, reply);
        }
        dropConnection();
        return -1;
    }
    loggedIn_ = true;

    QByteArray list;
    if (!command("LIST", &reply) || !readMultiline(list, kMaxListBytes)) {
        if (!broken_) {
            fail(NetError::ServerError, reply);
        }
        dropConnection();
        return -1;
    }
    sizes_.clear();
    uids_.clear();
    for (const QByteArray& line : list.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        bool ok = false;
        const int number = fields.size() >= 2 ? fields[0].toInt(&ok) : 0;
        if (ok && number == sizes_.size() + 1) {
            sizes_.append(fields[1].toLongLong());
        }
    }
    QByteArray uidl;
    if (command("UIDL", &reply)) {
        if (!readMultiline(uidl, kMaxListBytes)) {
            dropConnection();
            return -1;
        }
        uids_.resize(sizes_.size());
        for (const QByteArray& line : uidl.split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(' ');
            bool ok = false;
            const int number = fields.size() == 2 ? fields[0].toInt(&ok) : 0;
            if (ok && number >= 1 && number <= uids_.size()) {
                uids_[number - 1] = QString::fromLatin1(fields[1]);
            }
        }
    } else if (broken_) {
        return -1;
    }
    return static_cast<int>(sizes_.size());
}

qint64 Pop3Session::size(int number) const
{
    return number >= 1 && number <= sizes_.size() ? sizes_[number - 1] : -1;
}

QString Pop3Session::uid(int number) const
{
    return number >= 1 && number <= uids_.size() ? uids_[number - 1] : QString();
}

void Pop3Session::plan(const QList<int>& numbers)
{
    plan_ = numbers;
    planPos_ = 0;
    planIndex_.clear();
    for (qsizetype i = 0; i < plan_.size(); ++i) {
        planIndex_.insert(plan_[i], i);
    }
}

void Pop3Session::requestAhead()
{
    if (!pipelining_) {
        return;
    }
    QByteArray commands;
    int inFlight =
        static_cast<int>(std::count_if(pending_.begin(), pending_.end(), [](const Pending& p) {
            return p.kind == Pending::Retrieve;
        }));
    while (planPos_ < plan_.size() && inFlight < kWindow &&
           (inFlight == 0 || bytesInFlight_ < kWindowBytes)) {
        const int number = plan_[planPos_++];
        if (fetched_.contains(number)) {
            continue;
        }
        commands += "RETR " + QByteArray::number(number) + "\r\n";
        pending_.push_back({Pending::Retrieve, number});
        bytesInFlight_ += std::max<qint64>(0, size(number));
        ++inFlight;
    }
    if (!commands.isEmpty()) {
        send(std::exchange(outgoing_, {}) + commands);
    }
}

bool Pop3Session::readPending()
{
    const Pending request = pending_.front();
    pending_.pop_front();
    QByteArray line;
    if (!readLine(line)) {
        return false;
    }
    if (request.kind == Pending::Delete) {
        return true; // a refused deletion leaves the mail on the server
    }
    bytesInFlight_ -= std::max<qint64>(0, size(request.number));
    if (!line.startsWith("+OK")) {
        fail(NetError::ServerError, line);
        fetched_.insert(request.number, std::nullopt);
        return true;
    }
    QByteArray mail;
    const qint64 announced = std::max<qint64>(0, size(request.number));
    mail.reserve(announced + 64);
    // A mail larger than LIST said (beyond line-end and dot differences) is
    // a server that does not stop.
    if (!readMultiline(mail, announced + announced / 8 + kMaxLineBytes * 8)) {
        return false;
    }
    fetched_.insert(request.number, std::move(mail));
    return true;
}

std::optional<QByteArray> Pop3Session::retrieve(int number)
{
    if (!loggedIn_ || broken_) {
        if (error_.isEmpty()) {
            fail(NetError::Dropped);
        }
        return std::nullopt;
    }
    const auto place = planIndex_.constFind(number);
    const bool planned = pipelining_ && place != planIndex_.cend();
    if (planned) {
        planPos_ = std::max(planPos_, place.value());
    }
    const bool requested =
        fetched_.contains(number) ||
        std::any_of(pending_.begin(), pending_.end(), [number](const Pending& p) {
            return p.kind == Pending::Retrieve && p.number == number;
        });
    if (!requested) {
        if (planned) {
            requestAhead();
        } else {
            if (!pipelining_) {
                while (!pending_.empty()) {
                    if (!readPending()) {
                        return std::nullopt;
                    }
                }
            }
            if (!send(std::exchange(outgoing_, {}) + "RETR " + QByteArray::number(number) +
                      "\r\n")) {
                return std::nullopt;
            }
            pending_.push_back({Pending::Retrieve, number});
            bytesInFlight_ += std::max<qint64>(0, size(number));
        }
    }
    while (!fetched_.contains(number)) {
        if (pending_.empty() || !readPending()) {
            if (error_.isEmpty()) {
                fail(NetError::Dropped);
            }
            return std::nullopt;
        }
    }
    std::optional<QByteArray> mail = fetched_.take(number);
    requestAhead();
    return mail;
}

bool Pop3Session::remove(int number)
{
    if (!loggedIn_ || broken_) {
        return false;
    }
    if (pipelining_) {
        // Sent with whatever goes out next, its reply read later in turn;
        // nothing is deleted before QUIT.
        outgoing_ += "DELE " + QByteArray::number(number) + "\r\n";
        pending_.push_back({Pending::Delete, number});
        return true;
    }
    QByteArray reply;
    if (!command("DELE " + QByteArray::number(number), &reply)) {
        return broken_ ? false : fail(NetError::ServerError, reply);
    }
    return true;
}

bool Pop3Session::reset()
{
    QByteArray reply;
    if (!loggedIn_ || !command("RSET", &reply)) {
        return broken_ ? false : fail(NetError::ServerError, reply);
    }
    return true;
}

void Pop3Session::close()
{
    if (fd_ < 0) {
        return;
    }
    if (!broken_ && !greeting_.isEmpty()) {
        QByteArray reply;
        command("QUIT", &reply); // commits the deletions
    }
    dropConnection();
}

void Pop3Session::abort()
{
    std::lock_guard lock(fdMutex_);
    aborted_ = true;
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

void Pop3Session::dropConnection()
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
    loggedIn_ = false;
    pending_.clear();
    outgoing_.clear();
    fetched_.clear();
    buffer_.clear();
    bufferPos_ = 0;
    bytesInFlight_ = 0;
}

} // namespace lumora
