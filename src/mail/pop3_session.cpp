#include "mail/pop3_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {
namespace {

// An APOP challenge as RFC 1939 wants it: "<...@...>", printable ASCII only.
// Anything else could be an attacker's chosen challenge.
bool isSafeApopTimestamp(const QByteArray& greeting)
{
    const qsizetype open = greeting.indexOf('<');
    const qsizetype close = greeting.indexOf('>', open + 1);
    if (open < 0 || close < 0) {
        return false;
    }
    const QByteArray stamp = greeting.mid(open + 1, close - open - 1);
    if (stamp.isEmpty() || !stamp.contains('@')) {
        return false;
    }
    return std::all_of(stamp.begin(), stamp.end(),
                       [](char c) { return c > 0x20 && c < 0x7F && c != '<' && c != '>'; });
}

QString replyText(const QByteArray& line)
{
    return QString::fromUtf8(line.trimmed());
}

} // namespace

QString connectionErrorText(int curlCode, const QString& host, const QByteArray& serverReply,
                            const char* detail)
{
    QString text;
    switch (curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
        text = QStringLiteral("サーバー「%1」が見つかりません。サーバー名を確かめてください。")
                   .arg(host);
        break;
    case CURLE_COULDNT_CONNECT:
        text = QStringLiteral(
                   "サーバー「%1」に接続できません。サーバー名とポート番号を確かめてください。")
                   .arg(host);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = QStringLiteral("サーバー「%1」から応答がありません。").arg(host);
        break;
    case CURLE_LOGIN_DENIED:
        text = QStringLiteral("IDまたはパスワードが正しくありません。");
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
        text = QStringLiteral("サーバー「%1」の証明書を確認できません。"
                              "なりすましの恐れがあるため接続を中止しました。")
                   .arg(host);
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
        text = QStringLiteral(
                   "サーバー「%1」との暗号化通信を始められません（証明書または暗号の問題）。")
                   .arg(host);
        break;
    case CURLE_USE_SSL_FAILED:
        text = QStringLiteral("サーバー「%1」は暗号化通信に対応していません。").arg(host);
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        text = QStringLiteral("サーバー「%1」との接続が切れました。").arg(host);
        break;
    default:
        text = QStringLiteral("サーバー「%1」との通信に失敗しました。").arg(host);
        break;
    }
    const QString reply = replyText(serverReply);
    if (reply.contains(QStringLiteral("[IN-USE]")) ||
        reply.contains(QStringLiteral("lock"), Qt::CaseInsensitive)) {
        text = QStringLiteral("メールボックスがほかの接続で使用中です。"
                              "しばらくしてからもう一度受信してください。");
    }
    if (reply.startsWith(QLatin1Char('-')) || (reply.size() >= 3 && reply[0].isDigit())) {
        text += QStringLiteral("\n（サーバーの応答: %1）").arg(reply);
    } else if (detail && *detail && curlCode != CURLE_LOGIN_DENIED) {
        text += QStringLiteral("\n（%1）").arg(QString::fromUtf8(detail));
    }
    return text;
}

Pop3Session::Pop3Session(ServerAddress server, ConnectionOptions options)
    : server_(std::move(server)), options_(std::move(options))
{
}

Pop3Session::~Pop3Session()
{
    close();
}

bool Pop3Session::probe()
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray host = server_.host.toUtf8();
    const QByteArray port = QByteArray::number(server_.port);
    const int resolved = ::getaddrinfo(host.constData(), port.constData(), &hints, &found);
    if (resolved != 0) {
        error_ = connectionErrorText(CURLE_COULDNT_RESOLVE_HOST, server_.host, {},
                                     gai_strerror(resolved));
        return false;
    }
    int lastErrno = 0;
    bool connected = false;
    for (addrinfo* a = found; a && !connected; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const int ready =
                ::poll(&p, 1, static_cast<int>(options_.connectTimeoutSeconds * 1000));
            int soError = 0;
            socklen_t length = sizeof soError;
            if (ready == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 &&
                soError == 0) {
                connected = true;
            } else {
                lastErrno = ready == 0 ? ETIMEDOUT : soError;
            }
        } else {
            lastErrno = errno;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (!connected) {
        error_ = connectionErrorText(lastErrno == ETIMEDOUT ? CURLE_OPERATION_TIMEDOUT
                                                            : CURLE_COULDNT_CONNECT,
                                     server_.host, {}, std::strerror(lastErrno));
    }
    return connected;
}

size_t Pop3Session::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* session = static_cast<Pop3Session*>(self);
    const size_t length = size * count;
    const QByteArray line(data, static_cast<qsizetype>(length));
    if (!session->greetingSeen_) {
        session->greetingSeen_ = true;
        if (session->apop_ && !isSafeApopTimestamp(line)) {
            session->greetingRefused_ = true;
            session->lastServerLine_ = line;
            return 0; // stops before the APOP command is sent
        }
    }
    if (line.startsWith("-ERR") || line.startsWith("+OK")) {
        session->lastServerLine_ = line;
    }
    return length;
}

size_t Pop3Session::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* session = static_cast<Pop3Session*>(self);
    const size_t length = size * count;
    if (session->sink_) {
        session->sink_->append(data, static_cast<qsizetype>(length));
    }
    return length;
}

void Pop3Session::setError(int code)
{
    if (greetingRefused_) {
        error_ = QStringLiteral("サーバー「%1」の挨拶がAPOPの形式に合わないため、"
                                "APOPでのログインを中止しました。"
                                "サーバー設定のAPOPを外すか、サーバーを確かめてください。")
                     .arg(server_.host);
        return;
    }
    const QByteArray reply = lastServerLine_.startsWith("-ERR") ? lastServerLine_ : QByteArray();
    error_ = connectionErrorText(code, server_.host, reply, errorBuffer_);
}

bool Pop3Session::perform(const QString& path, const char* command, bool noBody, QByteArray* body)
{
    if (!curl_) {
        return false;
    }
    const QByteArray url = (server_.url(Protocol::Pop3) + path).toUtf8();
    curl_easy_setopt(curl_, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, command);
    curl_easy_setopt(curl_, CURLOPT_NOBODY, noBody ? 1L : 0L);
    sink_ = body;
    lastServerLine_.clear();
    errorBuffer_[0] = '\0';
    const CURLcode code = curl_easy_perform(curl_);
    sink_ = nullptr;
    if (code != CURLE_OK) {
        setError(code);
        return false;
    }
    // Mail numbers and marked deletions belong to one connection. Should the
    // handle have had to connect again, the numbers may name other mails now.
    long connects = 0;
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &connects);
    if (loggedIn_ && connects > 0) {
        error_ = connectionErrorText(CURLE_RECV_ERROR, server_.host, {}, nullptr);
        close();
        return false;
    }
    return true;
}

int Pop3Session::login(const QString& id, const QString& password, bool apop)
{
    close();
    curl_ = curl_easy_init();
    if (!curl_) {
        error_ = QStringLiteral("通信の準備ができませんでした。");
        return -1;
    }
    apop_ = apop;
    greetingSeen_ = false;
    greetingRefused_ = false;
    const QByteArray user = id.toUtf8();
    const QByteArray pass = password.toUtf8();
    curl_easy_setopt(curl_, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, pass.constData());
    if (apop) {
        curl_easy_setopt(curl_, CURLOPT_LOGIN_OPTIONS, "AUTH=+APOP");
    }
    if (server_.tls != Tls::Implicit) {
        curl_easy_setopt(curl_, CURLOPT_USE_SSL,
                         server_.tls == Tls::Required ? static_cast<long>(CURLUSESSL_ALL)
                                                      : static_cast<long>(CURLUSESSL_TRY));
    }
    if (!options_.caFile.isEmpty()) {
        const QByteArray ca = options_.caFile.toUtf8();
        curl_easy_setopt(curl_, CURLOPT_CAINFO, ca.constData());
    }
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, options_.connectTimeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, options_.stallSeconds);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &Pop3Session::onHeader);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Pop3Session::onBody);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);

    QByteArray list;
    loggedIn_ = false;
    if (!perform(QString(), nullptr, false, &list)) {
        close();
        return -1;
    }
    loggedIn_ = true;
    sizes_.clear();
    uids_.clear();
    for (const QByteArray& line : list.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() >= 2) {
            bool ok = false;
            const int number = fields[0].toInt(&ok);
            if (ok && number == sizes_.size() + 1) {
                sizes_.append(fields[1].toLongLong());
            }
        }
    }
    QByteArray uidl;
    if (perform(QString(), "UIDL", false, &uidl)) {
        uids_.resize(sizes_.size());
        for (const QByteArray& line : uidl.split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(' ');
            bool ok = false;
            const int number = fields.size() == 2 ? fields[0].toInt(&ok) : 0;
            if (ok && number >= 1 && number <= uids_.size()) {
                uids_[number - 1] = QString::fromLatin1(fields[1]);
            }
        }
    } else {
        uids_.clear(); // no UIDL: every mail counts as new
        error_.clear();
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

std::optional<QByteArray> Pop3Session::retrieve(int number)
{
    QByteArray mail;
    if (size(number) > 0) {
        mail.reserve(size(number));
    }
    if (!perform(QString::number(number), nullptr, false, &mail)) {
        return std::nullopt;
    }
    return mail;
}

bool Pop3Session::remove(int number)
{
    return perform(QString::number(number), "DELE", true, nullptr);
}

bool Pop3Session::reset()
{
    return perform(QString(), "RSET", true, nullptr);
}

void Pop3Session::close()
{
    if (curl_) {
        curl_easy_cleanup(curl_); // sends QUIT on a live connection
        curl_ = nullptr;
    }
}

} // namespace lumora
