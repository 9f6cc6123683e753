#include "mail/receive_child.h"

#include "mail/mail_library.h"
#include "search/mail_search.h"
#include "store/bulk_memory.h"
#include "store/file_io.h"
#include "store/record_buffer.h"
#include "store/record_owner.h"
#include "store/records.h"
#include "store/turn_link.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace lumora {
namespace {

enum class Step : quint8 {
    Checking = 1,
    CredentialsRead,
    CredentialsMissing,
    Failed,
    CertificateRefused,
    Notice,
    Progress,
    MailShown,
    Finished,
};

// A frame's length is bounded: a body is at most a record's, and a
// certificate a few kilobytes.
constexpr quint32 kMaxFrame = 4 << 20;

QByteArray frame(const QByteArray& payload)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(static_cast<quint32>(payload.size()), bytes.data());
    return bytes + payload;
}

template <class Fill> QByteArray stepFrame(Step step, Fill&& fill)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << static_cast<quint8>(step);
    fill(out);
    return frame(payload);
}

QDataStream& operator<<(QDataStream& out, const ServerCertificate& c)
{
    return out << c.host << qint32(c.port) << c.subject << c.issuer << c.notBefore << c.notAfter
               << c.fingerprint << c.reason << c.trustedFingerprint;
}

QDataStream& operator>>(QDataStream& in, ServerCertificate& c)
{
    qint32 port = 0;
    in >> c.host >> port >> c.subject >> c.issuer >> c.notBefore >> c.notAfter >> c.fingerprint >>
        c.reason >> c.trustedFingerprint;
    c.port = port;
    return in;
}

std::optional<ReceiveSettings> readSettings(int fd)
{
    char length[4];
    if (!fileio::readFully(fd, length, 4)) {
        return std::nullopt;
    }
    const quint32 size = qFromLittleEndian<quint32>(length);
    if (size > kMaxFrame) {
        return std::nullopt;
    }
    QByteArray payload(static_cast<qsizetype>(size), '\0');
    if (!fileio::readFully(fd, payload.data(), payload.size())) {
        return std::nullopt;
    }
    QDataStream in(payload);
    ReceiveSettings settings;
    bool keep = false;
    bool hasCredentials = false;
    account::Credentials credentials;
    in >> settings.pop3Server >> settings.apopFlag >> keep >> hasCredentials >> credentials.id >>
        credentials.password;
    if (in.status() != QDataStream::Ok) {
        return std::nullopt;
    }
    settings.keepOnServer = keep;
    if (hasCredentials) {
        settings.credentials = credentials;
    }
    return settings;
}

// Writes each step to the standard output as it happens. The progress and
// the fields of received mails go at most twenty times a second, with the
// first and the last always: the window shows no more than that, and each
// step written wakes the window, which on two cores takes the processor
// from the receive itself.
class StepWriter final : public ReceiveListener {
public:
    void checking() override
    {
        send(stepFrame(Step::Checking, [](QDataStream&) {}));
    }
    void credentialsRead(const QString& id, const QString& password) override
    {
        send(stepFrame(Step::CredentialsRead, [&](QDataStream& out) { out << id << password; }));
    }
    void credentialsMissing() override
    {
        send(stepFrame(Step::CredentialsMissing, [](QDataStream&) {}));
    }
    void failed(const QString& text) override
    {
        flushShown();
        send(stepFrame(Step::Failed, [&](QDataStream& out) { out << text; }));
    }
    void certificateRefused(const ServerCertificate& certificate, const QString& text) override
    {
        flushShown();
        send(stepFrame(Step::CertificateRefused,
                       [&](QDataStream& out) { out << certificate << text; }));
    }
    void notice(const QString& text) override
    {
        flushShown();
        send(stepFrame(Step::Notice, [&](QDataStream& out) { out << text; }));
    }
    void progress(int index, int count, qint64 done, qint64 total) override
    {
        if (index > 1 && index < count && progressPace_.isValid() &&
            progressPace_.elapsed() < kPaceMs) {
            return;
        }
        progressPace_.start();
        send(stepFrame(Step::Progress, [&](QDataStream& out) {
            out << qint32(index) << qint32(count) << done << total;
        }));
    }
    void mailShown(const QString& subject, const QString& from, const QString& date,
                   const QString& body) override
    {
        tookAny_ = true;
        shown_ = stepFrame(Step::MailShown,
                           [&](QDataStream& out) { out << subject << from << date << body; });
        if (!pace_.isValid() || pace_.elapsed() >= kPaceMs) {
            flushShown();
            pace_.start();
        }
    }
    // A mail was taken (and the record buffer holds its record).
    bool tookAny() const { return tookAny_; }
    void finished(const ReceiveOutcome& outcome, const QByteArray& lastRecord)
    {
        flushShown();
        send(stepFrame(Step::Finished, [&](QDataStream& out) {
            out << qint32(outcome.count) << outcome.failed << lastRecord;
        }));
    }

private:
    void flushShown()
    {
        if (!shown_.isEmpty()) {
            send(std::exchange(shown_, QByteArray()));
        }
    }
    static void send(const QByteArray& bytes)
    {
        if (!fileio::writeFully(STDOUT_FILENO, bytes.constData(), bytes.size())) {
            // Nobody reads: the program is gone. Ended here, nothing not
            // stored is deleted on the server.
            std::_Exit(3);
        }
    }

    static constexpr qint64 kPaceMs = 50;
    QByteArray shown_;
    QElapsedTimer pace_;
    QElapsedTimer progressPace_;
    bool tookAny_ = false;
};

bool readStep(const QByteArray& payload, ReceiveListener& listener, std::optional<ReceiveEnd>& end)
{
    QDataStream in(payload);
    quint8 step = 0;
    in >> step;
    switch (static_cast<Step>(step)) {
    case Step::Checking:
        listener.checking();
        return true;
    case Step::CredentialsRead: {
        QString id, password;
        in >> id >> password;
        if (in.status() == QDataStream::Ok) {
            listener.credentialsRead(id, password);
        }
        break;
    }
    case Step::CredentialsMissing:
        listener.credentialsMissing();
        return true;
    case Step::Failed:
    case Step::Notice: {
        QString text;
        in >> text;
        if (in.status() == QDataStream::Ok) {
            if (static_cast<Step>(step) == Step::Failed) {
                listener.failed(text);
            } else {
                listener.notice(text);
            }
        }
        break;
    }
    case Step::CertificateRefused: {
        ServerCertificate certificate;
        QString text;
        in >> certificate >> text;
        if (in.status() == QDataStream::Ok) {
            listener.certificateRefused(certificate, text);
        }
        break;
    }
    case Step::Progress: {
        qint32 index = 0, count = 0;
        qint64 done = 0, total = 0;
        in >> index >> count >> done >> total;
        if (in.status() == QDataStream::Ok) {
            listener.progress(index, count, done, total);
        }
        break;
    }
    case Step::MailShown: {
        QString subject, from, date, body;
        in >> subject >> from >> date >> body;
        if (in.status() == QDataStream::Ok) {
            listener.mailShown(subject, from, date, body);
        }
        break;
    }
    case Step::Finished: {
        qint32 count = 0;
        bool failed = false;
        QByteArray record;
        in >> count >> failed >> record;
        if (in.status() == QDataStream::Ok) {
            end = ReceiveEnd{{count, failed}, record};
        }
        break;
    }
    default:
        return false;
    }
    return in.status() == QDataStream::Ok;
}

} // namespace

QByteArray receiveSettingsFrame(const ReceiveSettings& settings)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    const account::Credentials credentials = settings.credentials.value_or(account::Credentials{});
    out << settings.pop3Server << settings.apopFlag << settings.keepOnServer
        << settings.credentials.has_value() << credentials.id << credentials.password;
    return frame(payload);
}

std::optional<ReceiveEnd> readReceiveSteps(QIODevice& from, ReceiveListener& listener, bool* broken)
{
    std::optional<ReceiveEnd> end;
    while (!end && from.bytesAvailable() >= 4) {
        char length[4];
        from.peek(length, 4);
        const quint32 size = qFromLittleEndian<quint32>(length);
        if (size > kMaxFrame || size == 0) {
            *broken = true;
            return std::nullopt;
        }
        if (from.bytesAvailable() < 4 + static_cast<qint64>(size)) {
            break;
        }
        from.skip(4);
        if (!readStep(from.read(size), listener, end)) {
            *broken = true;
            return std::nullopt;
        }
    }
    return end;
}

int receiveChildMain(int argc, char** argv, const QString& caFile)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const std::optional<ReceiveSettings> read = readSettings(STDIN_FILENO);
    if (arguments.size() < 3 || !read) {
        std::fprintf(stderr, "lumora: a receive is started by the program itself\n");
        return 2;
    }
    ReceiveSettings settings = *read;
    const AppPaths paths = AppPaths::at(arguments[2]);

    // Anything more on the standard input, or its end, stops the cycle.
    static std::atomic_bool cancel{false};
    std::thread([] {
        char byte = 0;
        while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
        }
        cancel = true;
    }).detach();

    // Held for the whole run: the broker stays with the owner the store
    // asks for its turns.
    const std::shared_ptr<RecordOwner> owner =
        RecordOwner::of(paths.receivedFile(), MailRecord::kLayout);
    owner->setBroker(turnBrokerOn(kTurnLinkDescriptor));

    MailLibraryOptions options;
    options.caFile = caFile;
    options.partialFolder = paths.partialFolder();
    options.trustFile = paths.trustFile();
    options.tlsMemoryFile = paths.tlsMemoryFile();
    const std::unique_ptr<MailLibrary> mail = createMailLibrary(options);
    mail->NMailInitializeWinSock();
    mail->NMailSetOption(1, 8192);

    // Freed buffers are kept for the next mail: the process ends with the
    // cycle, and gives everything back then.
    const memory::BulkWork bulk;
    MailRecordBuffer buffer;
    settings.buffer = &buffer;
    StepWriter writer;
    const ReceiveOutcome outcome = runReceiveCycle(*mail, paths, settings, writer, &cancel);
    mail->NMailEndWinSock();
    if (outcome.count >= 1 && !cancel) {
        // The mails the index feed could not take in time are added before
        // the window hears the end, so that a search finds every one.
        (void)search::MailSearch(paths).update({}, &cancel);
    }
    writer.finished(outcome, writer.tookAny() ? buffer.get().bytes() : QByteArray());
    return 0;
}

} // namespace lumora
