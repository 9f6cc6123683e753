#include "mail/pop3_session.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace lumora {
namespace {

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

} // namespace

Pop3Session::Pop3Session(ServerAddress server, ConnectionOptions options)
    : MailConnection(std::move(server), std::move(options))
{
}

Pop3Session::~Pop3Session()
{
    close();
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
        if (!nothingBeforeTls() || !startTls() || !readCapabilities()) {
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

void Pop3Session::requestAhead(bool now)
{
    if (!pipelining_) {
        return;
    }
    QByteArray commands;
    int inFlight =
        static_cast<int>(std::count_if(pending_.begin(), pending_.end(), [](const Pending& p) {
            return p.kind == Pending::Retrieve;
        }));
    // Topped up once half the window has come in: one write then carries
    // many requests, and the deletions gathered meanwhile, instead of a
    // write for every mail, each waking the server to take the processor
    // from the decoding.
    if (!now && inFlight > 0 && (inFlight > kWindow / 2 || bytesInFlight_ > kWindowBytes / 2)) {
        return;
    }
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
    const auto requested = [this, number] {
        return fetched_.contains(number) ||
               std::any_of(pending_.begin(), pending_.end(), [number](const Pending& p) {
                   return p.kind == Pending::Retrieve && p.number == number;
               });
    };
    if (!requested() && planned) {
        requestAhead(true);
    }
    if (!requested()) {
        // Not planned, or beyond a window full of other requests.
        if (!pipelining_) {
            while (!pending_.empty()) {
                if (!readPending()) {
                    return std::nullopt;
                }
            }
        }
        if (!send(std::exchange(outgoing_, {}) + "RETR " + QByteArray::number(number) + "\r\n")) {
            return std::nullopt;
        }
        pending_.push_back({Pending::Retrieve, number});
        bytesInFlight_ += std::max<qint64>(0, size(number));
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

void Pop3Session::dropConnection()
{
    closeSocket();
    loggedIn_ = false;
    pending_.clear();
    fetched_.clear();
    bytesInFlight_ = 0;
}

} // namespace lumora
