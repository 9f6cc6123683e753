#include "mail/smtp_session.h"

#include "store/numeric_text.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/ssl.h>

#include <QStringList>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace lumora {
namespace {

// The lines of one reply; an EHLO reply has a few dozen at most.
constexpr int kMaxReplyLines = 512;

QString tooLargeText(qint64 size, qint64 limit)
{
    return QStringLiteral("メールを送信できませんでした。\nメールが大きすぎます（%1 MB）。"
                          "このサーバーが受け付けるのは %2 MB（%3 バイト）までです。"
                          "添付ファイルを減らしてください。")
        .arg(text::megabytes(size), text::megabytes(limit))
        .arg(limit);
}

QString refusedText(const QByteArray& reply)
{
    return QStringLiteral("メールを送信できませんでした。\nサーバーがメールを受け付けませんでした。"
                          "\n（サーバーの応答: %1）")
        .arg(QString::fromUtf8(reply));
}

QString needsSmtpUtf8Text()
{
    return QStringLiteral("メールを送信できませんでした。\nこのサーバーは、日本語などを含む"
                          "メールアドレス（SMTPUTF8）に対応していません。宛先と差出人の"
                          "アドレスを確かめてください。");
}

bool hasEightBit(const QByteArray& bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
}

// An address or a header in UTF-8 (RFC 6531): such a mail goes only to a
// server that offers SMTPUTF8.
bool isInternational(const SmtpMail& mail)
{
    const qsizetype headEnd = mail.bytes.indexOf("\r\n\r\n");
    return hasEightBit(mail.envelopeFrom) || hasEightBit(mail.bytes.left(headEnd)) ||
           std::any_of(mail.recipients.begin(), mail.recipients.end(), hasEightBit);
}

// The mail's text as DATA carries it: a line that starts with a dot gets a
// second one, the last line is ended, and the end-of-data line follows.
QByteArray dataFor(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 64 + 8);
    qsizetype line = 0;
    while (line < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', line);
        const qsizetype end = newline < 0 ? bytes.size() : newline + 1;
        if (bytes[line] == '.') {
            out += '.';
        }
        out.append(bytes.constData() + line, end - line);
        line = end;
    }
    if (!out.endsWith("\r\n")) {
        out += "\r\n";
    }
    out += ".\r\n";
    return out;
}

QByteArray cramMd5Answer(const QByteArray& id, const QByteArray& password,
                         const QByteArray& challenge)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_md5(), password.constData(), static_cast<int>(password.size()),
         reinterpret_cast<const unsigned char*>(challenge.constData()),
         static_cast<size_t>(challenge.size()), digest, &length);
    const QByteArray hex =
        QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex();
    return (id + ' ' + hex).toBase64();
}

} // namespace

struct SmtpReply {
    int code = 0;
    QByteArray line; // the last line as the server wrote it, for messages
    QList<QByteArray> texts;
    bool positive() const { return code >= 200 && code < 300; }
};

// One connection: greeting, EHLO, the upgrade to TLS, the log-in, and
// replies read in the order their commands went out.
class SmtpSession::Connection : public MailConnection {
public:
    using MailConnection::MailConnection;
    ~Connection() override = default;

    bool pipelining = false;
    bool offersSize = false;
    qint64 sizeLimit = 0; // 0: none announced
    bool eightBitMime = false;
    bool smtpUtf8 = false;
    bool needsReset = false; // a refused transaction may still be open
    QByteArray loginReply;   // the server's word when it refused the log-in

    bool open(const QString& id, const QString& password);
    // Queues a command; it goes out with the next wait for a reply.
    void queue(const QByteArray& command) { outgoing_ += command + "\r\n"; }
    void queueRaw(const QByteArray& bytes) { outgoing_ += bytes; }
    // MAIL FROM, RCPT TO and DATA of a mail, with RSET first when asked.
    QList<QByteArray> envelopeOf(const SmtpMail& mail, bool reset) const;
    // Why the server cannot be sent the mail at all (too large for the limit
    // it announced, or in UTF-8 where it takes ASCII only); empty when it can.
    QString cannotTake(const SmtpMail& mail) const
    {
        if (sizeLimit > 0 && mail.bytes.size() > sizeLimit) {
            return tooLargeText(mail.bytes.size(), sizeLimit);
        }
        return !smtpUtf8 && isInternational(mail) ? needsSmtpUtf8Text() : QString();
    }
    // Queues the envelope when the server pipelines; otherwise each command
    // goes out as the reply to the one before arrives.
    void begin(const QList<QByteArray>& commands)
    {
        if (pipelining) {
            for (const QByteArray& c : commands) {
                queue(c);
            }
        }
    }
    bool flush() { return send(std::exchange(outgoing_, {})); }
    bool read(SmtpReply& reply);
    bool command(const QByteArray& line, SmtpReply& reply)
    {
        queue(line);
        return read(reply);
    }
    // False when the server closed the connection or spoke unasked (a
    // "421 timeout") while it stood idle.
    bool stillUsable();
    void quit();
    bool isBroken() const { return broken_ || fd_ < 0; }
    void breakOff() { closeSocket(); }

private:
    bool hello();
    bool logIn(const QString& id, const QString& password);
    QList<QByteArray> mechanisms_;
    bool offersStartTls_ = false;
};

bool SmtpSession::Connection::read(SmtpReply& reply)
{
    reply = {};
    for (int lines = 0; lines < kMaxReplyLines; ++lines) {
        QByteArray line;
        if (!readLine(line)) {
            return false;
        }
        bool ok = false;
        const int code = line.left(3).toInt(&ok);
        const char sep = line.size() > 3 ? line[3] : ' ';
        if (!ok || code < 100 || code > 599 || (sep != ' ' && sep != '-') ||
            (reply.code != 0 && code != reply.code)) {
            broken_ = true;
            return fail(NetError::ServerError, line);
        }
        reply.code = code;
        reply.line = line;
        reply.texts.append(line.mid(4));
        if (sep == ' ') {
            return true;
        }
    }
    return tooLong("サーバーの応答");
}

bool SmtpSession::Connection::hello()
{
    pipelining = false;
    offersSize = false;
    sizeLimit = 0;
    eightBitMime = false;
    smtpUtf8 = false;
    offersStartTls_ = false;
    mechanisms_.clear();
    // The name of this end as an address literal: nothing about the machine
    // that the server has not seen already.
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    char address[INET6_ADDRSTRLEN] = "127.0.0.1";
    QByteArray name = "[127.0.0.1]";
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        if (local.ss_family == AF_INET6 &&
            ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, address,
                        sizeof address)) {
            name = QByteArray("[IPv6:") + address + ']';
        } else if (local.ss_family == AF_INET &&
                   ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, address,
                               sizeof address)) {
            name = QByteArray("[") + address + ']';
        }
    }
    SmtpReply reply;
    if (!command("EHLO " + name, reply)) {
        return false;
    }
    if (!reply.positive()) {
        // An old server without extensions.
        if (!command("HELO " + name, reply)) {
            return false;
        }
        return reply.positive() || fail(NetError::ServerError, reply.line);
    }
    for (qsizetype i = 1; i < reply.texts.size(); ++i) {
        const QList<QByteArray> words = reply.texts[i].trimmed().toUpper().split(' ');
        const QByteArray& keyword = words.first();
        if (keyword == "PIPELINING") {
            pipelining = true;
        } else if (keyword == "SIZE") {
            bool ok = false;
            const qint64 limit = words.value(1).toLongLong(&ok);
            offersSize = true;
            sizeLimit = ok && limit > 0 ? limit : 0;
        } else if (keyword == "8BITMIME") {
            eightBitMime = true;
        } else if (keyword == "SMTPUTF8") {
            smtpUtf8 = true;
        } else if (keyword == "STARTTLS") {
            offersStartTls_ = true;
        } else if (keyword == "AUTH" || keyword.startsWith("AUTH=")) {
            if (keyword.startsWith("AUTH=")) {
                mechanisms_.append(keyword.mid(5));
            }
            mechanisms_.append(words.mid(1));
        }
    }
    return true;
}

bool SmtpSession::Connection::open(const QString& id, const QString& password)
{
    broken_ = false;
    if (!connectTcp()) {
        return false;
    }
    if (server_.tls == Tls::Implicit && !startTls()) {
        return false;
    }
    SmtpReply greeting;
    if (!read(greeting)) {
        return false;
    }
    if (greeting.code != 220) {
        return fail(NetError::ServerError, greeting.line);
    }
    if (!hello()) {
        return false;
    }
    if (!ssl_ && (offersStartTls_ || server_.tls == Tls::Required)) {
        SmtpReply reply;
        if (!offersStartTls_) {
            return fail(NetError::TlsUnavailable);
        }
        if (!command("STARTTLS", reply)) {
            return false;
        }
        if (reply.code != 220) {
            if (server_.tls == Tls::Required) {
                return fail(NetError::TlsUnavailable, reply.line);
            }
        } else if (!nothingBeforeTls() || !startTls() || !hello()) {
            return false;
        }
    }
    return id.isEmpty() || mechanisms_.isEmpty() || logIn(id, password);
}

bool SmtpSession::Connection::logIn(const QString& id, const QString& password)
{
    const QByteArray user = id.toUtf8();
    const QByteArray secret = password.toUtf8();
    SmtpReply reply;
    bool sent = false;
    if (mechanisms_.contains("CRAM-MD5")) {
        sent = command("AUTH CRAM-MD5", reply) &&
               (reply.code != 334 ||
                command(cramMd5Answer(user, secret, QByteArray::fromBase64(reply.texts.last())),
                        reply));
    } else if (mechanisms_.contains("PLAIN")) {
        sent = command("AUTH PLAIN " + ('\0' + user + '\0' + secret).toBase64(), reply);
    } else if (mechanisms_.contains("LOGIN")) {
        sent = command("AUTH LOGIN", reply) &&
               (reply.code != 334 || command(user.toBase64(), reply)) &&
               (reply.code != 334 || command(secret.toBase64(), reply));
    } else {
        return fail(NetError::LoginDenied, {},
                    QStringLiteral("このサーバーのログイン方式（%1）には対応していません")
                        .arg(QString::fromLatin1(mechanisms_.join(' '))));
    }
    if (!sent) {
        return false;
    }
    if (reply.code == 334) {
        // More asked than the mechanism has: end the exchange.
        command("*", reply);
    }
    if (reply.code != 235) {
        loginReply = reply.line;
        return fail(NetError::LoginDenied, reply.line);
    }
    return true;
}

bool SmtpSession::Connection::stillUsable()
{
    if (isBroken()) {
        return false;
    }
    if (bufferPos_ < buffer_.size() || (ssl_ && SSL_pending(ssl_) > 0)) {
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

void SmtpSession::Connection::quit()
{
    if (!isBroken()) {
        SmtpReply reply;
        command("QUIT", reply);
    }
    closeSocket();
}

QList<QByteArray> SmtpSession::Connection::envelopeOf(const SmtpMail& mail, bool reset) const
{
    QList<QByteArray> commands;
    if (reset) {
        commands.append("RSET");
    }
    QByteArray from = "MAIL FROM:<" + mail.envelopeFrom + '>';
    if (offersSize) {
        // Servers that announce SIZE take the parameter; it lets them refuse
        // a mail before its text is sent.
        from += " SIZE=" + QByteArray::number(mail.bytes.size());
    }
    if (eightBitMime && hasEightBit(mail.bytes)) {
        from += " BODY=8BITMIME";
    }
    if (smtpUtf8 && isInternational(mail)) {
        from += " SMTPUTF8";
    }
    commands.append(from);
    for (const QByteArray& r : mail.recipients) {
        commands.append("RCPT TO:<" + r + '>');
    }
    commands.append("DATA");
    return commands;
}

// The commands of one mail's transaction, and what is known of its replies.
struct SmtpSession::Envelope {
    int index = -1;
    SmtpMail mail;
    QString failure; // why the mail could not be made
    QList<QByteArray> commands;
    bool sent = false; // begun on the open connection
};

SmtpSession::SmtpSession(ConnectionOptions options) : options_(std::move(options)) {}

SmtpSession::~SmtpSession()
{
    close();
}

void SmtpSession::close()
{
    if (connection_) {
        connection_->quit();
        connection_.reset();
    }
    key_.clear();
}

void SmtpSession::dropConnection()
{
    if (connection_) {
        connection_->breakOff();
        connection_.reset();
    }
    key_.clear();
}

bool SmtpSession::ensureOpen(const ServerAddress& server, const QString& id,
                             const QString& password)
{
    const QString key = server.url(Protocol::Smtp) + QLatin1Char('\n') + id + QLatin1Char('\n') +
                        password + QString::number(static_cast<int>(server.tls));
    if (connection_ &&
        (key != key_ || idle_.elapsed() > kKeepOpenMilliseconds || !connection_->stillUsable())) {
        if (key != key_ || idle_.elapsed() > kKeepOpenMilliseconds) {
            close();
        } else {
            dropConnection();
        }
    }
    if (connection_) {
        return true;
    }
    connection_ = std::make_unique<Connection>(server, options_);
    ++connections_;
    if (connection_->open(id, password)) {
        key_ = key;
        return true;
    }
    QString text = connection_->error();
    if (connection_->errorKind() == NetError::LoginDenied) {
        text = QStringLiteral(
            "SMTPサーバーにログインできません。IDまたはパスワードを確かめてください。");
        if (!connection_->loginReply.isEmpty()) {
            text += QStringLiteral("\n（サーバーの応答: %1）")
                        .arg(QString::fromUtf8(connection_->loginReply));
        }
    }
    error_ = QStringLiteral("メールを送信できませんでした。\n") + text;
    certificate_ = connection_->certificate();
    dropConnection();
    return false;
}

bool SmtpSession::acceptable(const SmtpMail& mail)
{
    // A server that said how large a mail may be is not sent a larger one:
    // the user learns the limit at once instead of after the upload. Nor is
    // one without SMTPUTF8 sent an address in UTF-8, which RFC 6531 forbids
    // and a lenient server would pass on mangled.
    error_ = connection_->cannotTake(mail);
    return error_.isEmpty();
}

bool SmtpSession::envelopeAccepted(const Envelope& envelope)
{
    Connection& link = *connection_;
    qsizetype next = 0;
    const auto step = [&](SmtpReply& reply) {
        if (!link.pipelining) {
            link.queue(envelope.commands.value(next));
        }
        ++next;
        return link.read(reply);
    };
    SmtpReply reply;
    QByteArray refusal;
    if (envelope.commands.first() == "RSET" && !step(reply)) {
        return false;
    }
    // Without PIPELINING nothing more is sent after a refusal: the
    // transaction is reset before the next mail.
    const auto refused = [&](const QByteArray& line) {
        link.needsReset = true;
        error_ = refusedText(line);
        return false;
    };
    if (!step(reply)) {
        return false;
    }
    if (!reply.positive()) {
        if (!link.pipelining) {
            return refused(reply.line);
        }
        refusal = reply.line;
    }
    int accepted = 0;
    for (qsizetype i = 0; i < envelope.mail.recipients.size(); ++i) {
        if (!step(reply)) {
            return false;
        }
        if (reply.positive()) {
            ++accepted;
        } else if (!link.pipelining) {
            return refused(reply.line);
        } else if (refusal.isEmpty()) {
            refusal = reply.line;
        }
    }
    if (!step(reply)) {
        return false;
    }
    if (reply.code != 354) {
        return refused(refusal.isEmpty() ? reply.line : refusal);
    }
    if (!refusal.isEmpty() || accepted == 0) {
        // The server waits for the text of a mail that must not go (a
        // recipient was refused, and a mail goes to all or none): the
        // connection is given up, so the server discards it.
        error_ = refusedText(refusal.isEmpty() ? reply.line : refusal);
        dropConnection();
        return false;
    }
    return true;
}

bool SmtpSession::transact(Envelope& current, std::optional<Envelope>& ahead, int count,
                           const MailSource& source, bool& stopped)
{
    if (!envelopeAccepted(current)) {
        return false;
    }
    Connection& link = *connection_;
    link.queueRaw(dataFor(current.mail.bytes));
    // The next mail's commands go with this one's end of data (RFC 2920
    // lets the text of a mail start a group).
    if (link.pipelining && current.index + 1 < count) {
        QString reason;
        std::optional<SmtpMail> next = source(current.index + 1, &reason);
        if (!next && reason.isEmpty()) {
            stopped = true;
        } else {
            Envelope following;
            following.index = current.index + 1;
            following.failure = reason;
            if (next) {
                following.mail = std::move(*next);
                if (link.cannotTake(following.mail).isEmpty()) {
                    following.commands = link.envelopeOf(following.mail, false);
                    link.begin(following.commands);
                    following.sent = true;
                }
            }
            ahead = std::move(following);
        }
    }
    SmtpReply reply;
    if (!link.flush() || !link.read(reply)) {
        return false;
    }
    if (!reply.positive()) {
        error_ = refusedText(reply.line);
        return false;
    }
    return true;
}

void SmtpSession::sendAll(const ServerAddress& server, const QString& id, const QString& password,
                          int count, const MailSource& source, const MailDone& done)
{
    std::optional<Envelope> ahead; // its commands went with the last end of data
    bool stopped = false;
    for (int index = 0; index < count && !stopped; ++index) {
        error_.clear();
        certificate_.reset();
        Envelope current;
        if (ahead && ahead->index == index) {
            current = std::move(*ahead);
            ahead.reset();
        } else {
            QString reason;
            std::optional<SmtpMail> mail = source(index, &reason);
            if (!mail && reason.isEmpty()) {
                break; // the caller stopped the run
            }
            current.index = index;
            current.failure = reason;
            if (mail) {
                current.mail = std::move(*mail);
            }
        }
        bool sent = false;
        if (!current.failure.isEmpty()) {
            error_ = current.failure;
        } else if (current.sent || (ensureOpen(server, id, password) && acceptable(current.mail))) {
            if (!current.sent) {
                current.commands = connection_->envelopeOf(
                    current.mail, std::exchange(connection_->needsReset, false));
                connection_->begin(current.commands);
                current.sent = true;
            }
            sent = transact(current, ahead, count, source, stopped);
            if (connection_ && connection_->isBroken()) {
                if (error_.isEmpty()) {
                    error_ =
                        QStringLiteral("メールを送信できませんでした。\n") + connection_->error();
                }
                certificate_ = connection_->certificate();
                dropConnection();
            }
            if (!connection_ && ahead) {
                ahead->sent = false; // its commands went with the connection
            }
        }
        idle_.start();
        if (!done(index, sent)) {
            break;
        }
    }
    if (ahead && ahead->sent && connection_) {
        // Ended with the next mail's commands on their way: the server may
        // wait for a text that never comes, so the connection goes.
        dropConnection();
    }
}

bool SmtpSession::send(const ServerAddress& server, const QString& id, const QString& password,
                       const QByteArray& envelopeFrom, const QList<QByteArray>& recipients,
                       const QByteArray& bytes)
{
    bool result = false;
    sendAll(
        server, id, password, 1,
        [&](int, QString*) {
            return std::optional<SmtpMail>(SmtpMail{envelopeFrom, recipients, bytes});
        },
        [&](int, bool sent) {
            result = sent;
            return true;
        });
    return result;
}

} // namespace lumora
