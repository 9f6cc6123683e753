#include "mail/mail_library.h"

#include "mail/attachment_files.h"
#include "mail/mail_text.h"
#include "mail/mime_composer.h"
#include "mail/mime_decoder.h"
#include "mail/pop3_session.h"
#include "mail/smtp_session.h"
#include "store/file_io.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <csignal>
#include <map>
#include <mutex>

namespace lumora {
namespace {

thread_local QString lastError;
thread_local std::optional<ServerCertificate> lastCertificate;

// Where the header block of a raw mail ends: the header block (with the end
// of its last line) and the start of the body.
std::pair<qsizetype, qsizetype> headerEnd(const QByteArray& raw)
{
    // The first empty line, found from line end to line end: a search for
    // "\n\n" alone would run through every mail with CR LF line ends.
    for (qsizetype at = raw.indexOf('\n'); at >= 0; at = raw.indexOf('\n', at + 1)) {
        if (at + 1 < raw.size() && raw[at + 1] == '\n') {
            return {at + 1, at + 2};
        }
        if (at + 2 < raw.size() && raw[at + 1] == '\r' && raw[at + 2] == '\n') {
            return {at + 1, at + 3};
        }
    }
    return {raw.size(), raw.size()};
}

// True when the text starts and ends with the same characters as the bytes
// (read one byte per character); with equal lengths, the cheap sign that the
// text is still the one made from the bytes.
bool sameEnds(QStringView text, QByteArrayView bytes)
{
    const qsizetype n = std::min<qsizetype>(256, bytes.size());
    return text.size() == bytes.size() && text.first(n) == QLatin1StringView(bytes.first(n)) &&
           text.last(n) == QLatin1StringView(bytes.last(n));
}

QString headerField(const QByteArray& block, const char* name)
{
    const QByteArray wanted = QByteArray(name).toLower() + ':';
    const QList<QByteArray> lines = block.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].toLower().startsWith(wanted)) {
            continue;
        }
        QByteArray value = lines[i].mid(wanted.size());
        for (qsizetype j = i + 1;
             j < lines.size() && (lines[j].startsWith(' ') || lines[j].startsWith('\t')); ++j) {
            value += '\n' + lines[j];
        }
        return mailtext::decodeHeader(value).trimmed();
    }
    return {};
}

class NetMailLibrary final : public MailLibrary {
public:
    explicit NetMailLibrary(MailLibraryOptions options)
        : options_(std::move(options)), smtp_(connectionOptions())
    {
    }

    ~NetMailLibrary() override
    {
        sessions_.clear();
        smtp_.close();
    }

    void NMailInitializeWinSock() override
    {
        // A peer that closes a TLS connection must give an error, not end
        // the program.
        std::signal(SIGPIPE, SIG_IGN);
    }

    void NMailSetOption(int option, int value) override
    {
        if (option == 1 && value > 0) {
            bufferSize_ = value;
        }
    }

    void NMailEndWinSock() override
    {
        {
            std::lock_guard lock(mutex_);
            sessions_.clear();
        }
        {
            std::lock_guard lock(smtpMutex_);
            smtp_.close();
        }
    }

    int NMailPop3Connect(const QString& server) override
    {
        NMailInitializeWinSock();
        const auto address = parseServerAddress(server, Protocol::Pop3);
        if (!address) {
            lastError = QStringLiteral("POP3サーバー名「%1」が正しくありません。").arg(server);
            return -1;
        }
        auto session = std::make_unique<Pop3Session>(*address, connectionOptions());
        lastCertificate.reset();
        if (!session->connect()) {
            lastError = session->error();
            lastCertificate = session->certificate();
            return -1;
        }
        std::lock_guard lock(mutex_);
        const int handle = ++lastHandle_;
        sessions_[handle] = std::move(session);
        return handle;
    }

    int NMailPop3Authenticate(int handle, const QString& id, const QString& password,
                              int apop) override
    {
        Pop3Session* session = find(handle);
        if (!session) {
            return -1;
        }
        lastCertificate.reset();
        const int count = session->login(id, password, apop != 0);
        if (count < 0) {
            lastError = session->error();
            lastCertificate = session->certificate();
            return session->errorKind() == NetError::LoginDenied ? kLoginRefused : -2;
        }
        return count;
    }

    int NMailPop3GetMailStatus(int handle, int number, MailFields& fields, int) override
    {
        const QByteArray* raw = fetch(handle, number);
        if (!raw) {
            return -1;
        }
        std::lock_guard lock(cacheMutex_);
        if (!statusDone_) {
            // Decoded once for the status and the mail calls that follow.
            const QByteArray block = raw->left(headerEnd(*raw).first);
            status_.subject = cut(headerField(block, "Subject"));
            status_.date = cut(headerField(block, "Date"));
            status_.from = cut(headerField(block, "From"));
            status_.header = QString::fromLatin1(block);
            statusDone_ = true;
        }
        fields.subject = status_.subject;
        fields.date = status_.date;
        fields.from = status_.from;
        fields.header = status_.header;
        return 0;
    }

    qint64 NMailPop3GetMailSize(int handle, int number) override
    {
        Pop3Session* session = find(handle);
        return session ? session->size(number) : -1;
    }

    int NMailPop3GetMail(int handle, int number, MailFields& fields, QString& body, int,
                         int) override
    {
        if (NMailPop3GetMailStatus(handle, number, fields, 0) < 0) {
            return -1;
        }
        const QByteArray* raw = fetch(handle, number);
        // The body travels undecoded, byte for byte (one byte per character).
        body = QString::fromLatin1(QByteArrayView(*raw).sliced(headerEnd(*raw).second));
        return 0;
    }

    QByteArray NMailGetOriginal(const MailFields& fields, const QString& body) override
    {
        return rawMail(fields.header, body);
    }

    int NMailAttachmentFileFirst(int, MailFields& fields, QString& body,
                                 const QString& attachmentFolder, const QString&, QString&,
                                 int) override
    {
        return decodeOriginal(rawMail(fields.header, body), fields, body, attachmentFolder);
    }

    int NMailAttachmentFileFromOriginal(const QByteArray& original, MailFields& fields,
                                        QString& body, const QString& attachmentFolder) override
    {
        return decodeOriginal(original, fields, body, attachmentFolder);
    }

    int decodeOriginal(const QByteArray& original, MailFields& fields, QString& body,
                       const QString& attachmentFolder)
    {
        mime::DecodedMail mail = mime::decodeMail(original);
        int result = 0;
        if (mail.partial) {
            const auto whole = addPartialPiece(*mail.partial, attachmentFolder);
            if (!whole) {
                fields.subject = cut(mail.subject);
                fields.date = cut(mail.date);
                fields.from = cut(mail.from);
                body = QStringLiteral("（分割されたメールの一部です: %1/%2）")
                           .arg(mail.partial->number)
                           .arg(mail.partial->total > 0 ? QString::number(mail.partial->total)
                                                        : QStringLiteral("?"));
                return -6;
            }
            const mime::DecodedMail outer = std::move(mail);
            mail = mime::decodeMail(*whole);
            if (mail.subject.isEmpty()) {
                mail.subject = outer.subject;
            }
            if (mail.from.isEmpty()) {
                mail.from = outer.from;
            }
            if (mail.date.isEmpty()) {
                mail.date = outer.date;
            }
        }
        fields.files.clear();
        for (const mime::Attachment& file : mail.attachments) {
            fields.files.append(file.name);
            const Result<QString> written =
                attachments::writeNew(attachmentFolder, file.name, file.data);
            if (!written.ok()) {
                lastError = QStringLiteral("添付ファイル「%1」を書き込めません。").arg(file.name);
                result = -5;
            } else if (result == 0) {
                result = 1;
            }
        }
        fields.subject = cut(mail.subject);
        fields.date = cut(mail.date);
        fields.from = cut(mail.from);
        body = mail.body;
        return result;
    }

    int NMailAttachmentFileClose(int) override { return 0; }

    int NMailPop3DeleteMail(int handle, int number) override
    {
        Pop3Session* session = find(handle);
        if (!session) {
            return -1;
        }
        if (!session->remove(number)) {
            lastError = session->error();
            return -1;
        }
        return 0;
    }

    void NMailPop3WillGetMails(int handle, const QList<int>& numbers) override
    {
        if (Pop3Session* session = find(handle)) {
            session->plan(numbers);
        }
    }

    int NMailPop3Reset(int handle) override
    {
        Pop3Session* session = find(handle);
        if (!session) {
            return -1;
        }
        if (!session->reset()) {
            lastError = session->error();
            return -1;
        }
        return 0;
    }

    QString NMailPop3GetMailUid(int handle, int number) override
    {
        Pop3Session* session = find(handle);
        return session ? session->uid(number) : QString();
    }

    int NMailPop3Close(int handle) override
    {
        std::unique_ptr<Pop3Session> session;
        {
            std::lock_guard lock(mutex_);
            const auto it = sessions_.find(handle);
            if (it == sessions_.end()) {
                return -1;
            }
            session = std::move(it->second);
            sessions_.erase(it);
        }
        std::lock_guard lock(cacheMutex_);
        if (cachedHandle_ == handle) {
            cachedHandle_ = 0;
            cached_.clear();
        }
        session->close();
        return 0;
    }

    void NMailPop3AbortAll() override
    {
        std::lock_guard lock(mutex_);
        for (auto& [handle, session] : sessions_) {
            session->abort();
        }
    }

    int NMailSmtpSendMail(const QString& server, const QString& to, const QString&, const QString&,
                          const QString& from, const QString& subject, const QString& body,
                          const QString& header, const QStringList& attachments, int) override
    {
        NMailInitializeWinSock();
        const auto address = parseServerAddress(server, Protocol::Smtp);
        if (!address) {
            lastError = QStringLiteral("SMTPサーバー名「%1」が正しくありません。").arg(server);
            return -1;
        }
        QString error;
        const auto mail = mime::compose({from, to, subject, body, attachments, {}, header}, &error);
        if (!mail) {
            lastError = error;
            return -1;
        }
        std::lock_guard lock(smtpMutex_);
        lastCertificate.reset();
        if (!smtp_.send(*address, smtpId_, smtpPassword_, mail->envelopeFrom, mail->recipients,
                        mail->bytes)) {
            lastError = smtp_.error();
            lastCertificate = smtp_.certificate();
            return -1;
        }
        return 0;
    }

    void NMailSmtpSendMails(const QString& server, const QStringList& recipients,
                            const QString& from, const QString& subject, const QString& body,
                            const QString& header, const QStringList& attachments,
                            const std::function<bool(int)>& starting,
                            const std::function<bool(int, int)>& sent) override
    {
        NMailInitializeWinSock();
        const auto address = parseServerAddress(server, Protocol::Smtp);
        if (!address) {
            lastError = QStringLiteral("SMTPサーバー名「%1」が正しくありません。").arg(server);
            for (int i = 0; i < recipients.size(); ++i) {
                if (!starting(i) || !sent(i, -1)) {
                    return;
                }
            }
            return;
        }
        const auto make = [&](int index, QString* error) -> std::optional<SmtpMail> {
            if (!starting(index)) {
                return std::nullopt;
            }
            auto mail = mime::compose(
                {from, recipients[index], subject, body, attachments, {}, header}, error);
            if (!mail) {
                if (error->isEmpty()) {
                    *error = QStringLiteral("メールを作成できませんでした。");
                }
                return std::nullopt;
            }
            return SmtpMail{mail->envelopeFrom, mail->recipients, mail->bytes};
        };
        std::lock_guard lock(smtpMutex_);
        smtp_.sendAll(*address, smtpId_, smtpPassword_, static_cast<int>(recipients.size()), make,
                      [&](int index, bool ok) {
                          lastError = ok ? QString() : smtp_.error();
                          lastCertificate = ok ? std::nullopt : smtp_.certificate();
                          return sent(index, ok ? 0 : -1);
                      });
    }

    void NMailSetAccount(const QString& id, const QString& password) override
    {
        std::lock_guard lock(smtpMutex_);
        smtpId_ = id;
        smtpPassword_ = password;
    }

    QString NMailGetMessage(int) override { return lastError.left(bufferSize_ - 1); }

    std::optional<ServerCertificate> NMailGetCertificate() override { return lastCertificate; }

    bool NMailTrustCertificate(const ServerCertificate& certificate) override
    {
        return CertificateTrust(options_.trustFile).trust(certificate).ok();
    }

private:
    ConnectionOptions connectionOptions() const
    {
        ConnectionOptions options;
        options.caFile = options_.caFile;
        options.trust = CertificateTrust(options_.trustFile);
        options.tlsMemory = TlsMemory(options_.tlsMemoryFile);
        if (options_.stallSeconds > 0) {
            options.stallSeconds = options_.stallSeconds;
        }
        return options;
    }

    QString cut(const QString& text) const { return text.left(bufferSize_ - 1); }

    Pop3Session* find(int handle)
    {
        std::lock_guard lock(mutex_);
        const auto it = sessions_.find(handle);
        if (it == sessions_.end()) {
            lastError = QStringLiteral("POP3サーバーに接続していません。");
            return nullptr;
        }
        return it->second.get();
    }

    // The mail's bytes for its header and body texts: the retrieved bytes
    // when the texts are still those the last retrieval gave, else the texts
    // turned back into bytes.
    QByteArray rawMail(const QString& header, const QString& body)
    {
        {
            std::lock_guard lock(cacheMutex_);
            if (cachedHandle_ != 0) {
                const auto [headerSize, bodyStart] = headerEnd(cached_);
                if (header.size() == headerSize && body.size() == cached_.size() - bodyStart &&
                    QStringView(header) == QLatin1StringView(cached_.first(headerSize)) &&
                    sameEnds(body, QByteArrayView(cached_).sliced(bodyStart))) {
                    if (bodyStart == headerSize + 2) {
                        return cached_; // header, CR LF, body: the bytes as they came
                    }
                    return cached_.first(headerSize) + "\r\n" + cached_.sliced(bodyStart);
                }
            }
        }
        return header.toLatin1() + "\r\n" + body.toLatin1();
    }

    // The mail, retrieved once for the status, size and mail calls in a row.
    const QByteArray* fetch(int handle, int number)
    {
        std::lock_guard lock(cacheMutex_);
        if (cachedHandle_ == handle && cachedNumber_ == number) {
            return &cached_;
        }
        Pop3Session* session = find(handle);
        if (!session) {
            return nullptr;
        }
        auto mail = session->retrieve(number);
        if (!mail) {
            lastError = session->error();
            cachedHandle_ = 0;
            return nullptr;
        }
        cached_ = std::move(*mail);
        cachedHandle_ = handle;
        cachedNumber_ = number;
        statusDone_ = false;
        return &cached_;
    }

    // Keeps a piece of a mail sent in parts; the whole mail once every piece
    // is there.
    std::optional<QByteArray> addPartialPiece(const mime::PartialPiece& piece,
                                              const QString& attachmentFolder)
    {
        const QString root = options_.partialFolder.isEmpty()
                                 ? QDir(attachmentFolder).filePath(QStringLiteral(".partial"))
                                 : options_.partialFolder;
        const QString folder = QDir(root).filePath(QString::fromLatin1(
            QCryptographicHash::hash(piece.id, QCryptographicHash::Sha1).toHex()));
        if (piece.number < 1 || !QDir().mkpath(folder)) {
            return std::nullopt;
        }
        (void)fileio::writeAtomically(QDir(folder).filePath(QString::number(piece.number)),
                                      piece.bytes);
        if (piece.total > 0) {
            (void)fileio::writeAtomically(QDir(folder).filePath(QStringLiteral("total")),
                                          QByteArray::number(piece.total));
        }
        QFile totalFile(QDir(folder).filePath(QStringLiteral("total")));
        const int total = totalFile.open(QIODevice::ReadOnly) ? totalFile.readAll().toInt() : 0;
        if (total < 1 || total > 10000) {
            return std::nullopt;
        }
        QList<QByteArray> pieces;
        for (int n = 1; n <= total; ++n) {
            QFile file(QDir(folder).filePath(QString::number(n)));
            if (!file.open(QIODevice::ReadOnly)) {
                return std::nullopt;
            }
            pieces.append(file.readAll());
        }
        QDir(folder).removeRecursively();
        return mime::joinPartialPieces(pieces);
    }

    MailLibraryOptions options_;
    int bufferSize_ = 8192;

    std::mutex mutex_;
    std::map<int, std::unique_ptr<Pop3Session>> sessions_;
    int lastHandle_ = 0;

    std::mutex cacheMutex_;
    int cachedHandle_ = 0;
    int cachedNumber_ = 0;
    MailFields status_; // the cached mail's header fields, once decoded
    bool statusDone_ = false;
    QByteArray cached_;

    std::mutex smtpMutex_;
    SmtpSession smtp_;
    QString smtpId_;
    QString smtpPassword_;
};

} // namespace

void splitOriginal(const QByteArray& raw, MailFields& fields, QString& body)
{
    qsizetype headerEnd = raw.size();
    qsizetype bodyStart = raw.size();
    for (qsizetype at = raw.indexOf('\n'); at >= 0; at = raw.indexOf('\n', at + 1)) {
        if (at + 1 < raw.size() && raw[at + 1] == '\n') {
            headerEnd = at + 1;
            bodyStart = at + 2;
            break;
        }
        if (at + 2 < raw.size() && raw[at + 1] == '\r' && raw[at + 2] == '\n') {
            headerEnd = at + 1;
            bodyStart = at + 3;
            break;
        }
    }
    fields.header = QString::fromLatin1(QByteArrayView(raw).first(headerEnd));
    body = QString::fromLatin1(QByteArrayView(raw).sliced(bodyStart));
}

std::unique_ptr<MailLibrary> createMailLibrary(MailLibraryOptions options)
{
    return std::make_unique<NetMailLibrary>(std::move(options));
}

} // namespace lumora
