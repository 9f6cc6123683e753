#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "mail/server_certificate.h"

#include <functional>
#include <memory>
#include <optional>

// The one door to the mail protocols: POP3 (with APOP and TLS), SMTP
// submission with attachments, MIME decoding with attachment extraction, and
// the text of the last error. Every part of the program that receives or sends
// mail goes through an object of this interface, so tests can put a scripted
// one in its place.
//
// The entry points keep the names and the order of arguments that callers
// have always used. Texts are Unicode here; the callers store them in CP932.
// A handle is a small positive number for an open POP3 connection.
namespace lumora {

// The texts of a mail that travel between the retrieval calls and the
// decoder: subject, date, sender, the whole header block.
struct MailFields {
    QString subject;
    QString date;
    QString from;
    QString header;
    // The names of the files the decoding wrote, as the sender named them.
    QStringList files;
};

// The header and body texts the retrieval gives for a whole mail: the header
// block with its last line end, and the rest, one byte per character.
void splitOriginal(const QByteArray& raw, MailFields& fields, QString& body);

class MailLibrary {
public:
    static constexpr int kLoginRefused = -3;

    virtual ~MailLibrary() = default;

    // Sets the library up; called once at start-up, before any other call.
    virtual void NMailInitializeWinSock() = 0;
    // Option 1 is the size in characters of the text buffers callers hand in
    // (8192); texts longer than that are cut.
    virtual void NMailSetOption(int option, int value) = 0;
    // Releases the library; the last call of the program.
    virtual void NMailEndWinSock() = 0;

    // Connects to a POP3 server named as the user typed it. A handle, or -1.
    virtual int NMailPop3Connect(const QString& server) = 0;
    // Logs in, with APOP when apop is not 0. The number of mails waiting (0
    // or more), or a negative value on failure (see NMailGetMessage):
    // kLoginRefused when the server refused the ID or password.
    virtual int NMailPop3Authenticate(int handle, const QString& id, const QString& password,
                                      int apop) = 0;
    // Header fields of mail number (from 1).
    virtual int NMailPop3GetMailStatus(int handle, int number, MailFields& fields, int flag) = 0;
    // The size of mail number in bytes; negative on failure.
    virtual qint64 NMailPop3GetMailSize(int handle, int number) = 0;
    // Header fields and the body text as received, before any MIME decoding.
    virtual int NMailPop3GetMail(int handle, int number, MailFields& fields, QString& body,
                                 int flag1, int flag2) = 0;
    // The mail's bytes exactly as retrieved, for the header and body texts
    // that NMailPop3GetMail gave (before NMailAttachmentFileFirst rewrites
    // them).
    virtual QByteArray NMailGetOriginal(const MailFields& fields, const QString& body)
    {
        return fields.header.toLatin1() + "\r\n" + body.toLatin1();
    }
    // Decodes the mail: writes its attachments as files into attachmentFolder
    // and gives back the fields and the body to show. 1 when attachments were
    // written, -5 when an attachment file cannot be written, -6 while not all
    // parts of a split mail have arrived; other values need no action.
    virtual int NMailAttachmentFileFirst(int flag, MailFields& fields, QString& body,
                                         const QString& attachmentFolder,
                                         const QString& tempFilePath, QString& tempFileText,
                                         int flag2) = 0;
    virtual int NMailAttachmentFileClose(int flag) = 0;
    // The same decoding for a whole mail's bytes (one read from a file):
    // the fields and the body to show, the files into attachmentFolder.
    virtual int NMailAttachmentFileFromOriginal(const QByteArray& original, MailFields& fields,
                                                QString& body, const QString& attachmentFolder)
    {
        QString text;
        splitOriginal(original, fields, body);
        const int result =
            NMailAttachmentFileFirst(0, fields, body, attachmentFolder + u'/', QString(), text, 0);
        NMailAttachmentFileClose(0);
        return result;
    }
    // Marks mail number for deletion; the server deletes it when the
    // connection is closed.
    virtual int NMailPop3DeleteMail(int handle, int number) = 0;
    // The mails the caller is about to fetch, in order: the library may
    // request them ahead of time.
    virtual void NMailPop3WillGetMails(int handle, const QList<int>& numbers) = 0;
    // Unmarks every mail marked for deletion on this connection (RSET).
    virtual int NMailPop3Reset(int handle) = 0;
    // The unique ID (UIDL) of mail number; empty when the server gives none.
    virtual QString NMailPop3GetMailUid(int handle, int number) = 0;
    virtual int NMailPop3Close(int handle) = 0;
    // From any thread: breaks every open POP3 connection at once (the
    // program is ending); the calls in hand fail, nothing is deleted.
    virtual void NMailPop3AbortAll() {}

    // Sends one mail; attachments is a list of file paths; header holds
    // header lines to add, each ended by CR LF (a reply's In-Reply-To and
    // References; other fields are not taken). Negative on failure (see
    // NMailGetMessage).
    virtual int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                                  const QString& bcc, const QString& from, const QString& subject,
                                  const QString& body, const QString& header,
                                  const QStringList& attachments, int flag) = 0;

    // Sends the same text to each of recipients, one mail each, in order.
    // starting(index) is asked before each mail is begun (false ends the
    // run there); sent(index, result) follows each mail, with the result of
    // NMailSmtpSendMail (and its NMailGetMessage); false sends no more. The
    // library may begin a mail before the one before it has been answered.
    virtual void NMailSmtpSendMails(const QString& server, const QStringList& recipients,
                                    const QString& from, const QString& subject,
                                    const QString& body, const QString& header,
                                    const QStringList& attachments,
                                    const std::function<bool(int index)>& starting,
                                    const std::function<bool(int index, int result)>& sent)
    {
        for (int i = 0; i < recipients.size(); ++i) {
            if (!starting(i) ||
                !sent(i, NMailSmtpSendMail(server, recipients[i], {}, {}, from, subject, body,
                                           header, attachments, 0))) {
                return;
            }
        }
    }

    // The ID and password sends log in with, when the server asks for it.
    virtual void NMailSetAccount(const QString& id, const QString& password) = 0;

    // The text of the last error on the calling thread, in Japanese, for a
    // message box.
    virtual QString NMailGetMessage(int flag) = 0;

    // When the last failure on the calling thread was a server certificate
    // that cannot be verified (or is not the one the user trusted for that
    // server): that certificate, for the user to decide on.
    virtual std::optional<ServerCertificate> NMailGetCertificate() { return std::nullopt; }
    // Trusts the certificate for its server and port from now on, in place
    // of any other; false when that cannot be stored.
    virtual bool NMailTrustCertificate(const ServerCertificate&) { return false; }
};

struct MailLibraryOptions {
    // Trust this CA file instead of the system's (test servers only).
    QString caFile;
    // Where the pieces of mails sent in parts wait for the rest; empty: a
    // hidden folder in the attachment folder.
    QString partialFolder;
    // A connection on which nothing moves this long is given up (0: the
    // default of 60 s).
    int stallSeconds = 0;
    // The certificates the user trusted for particular servers; empty:
    // none, and none can be trusted.
    QString trustFile;
    // The POP3 servers that have spoken TLS before (TlsMemory); empty: none
    // remembered.
    QString tlsMemoryFile;
};

// The library the program runs with: POP3 and SMTP clients of its own on
// OpenSSL, MIME on GMime.
// Entry points may be called from any thread; one connection handle is used
// by one thread at a time.
std::unique_ptr<MailLibrary> createMailLibrary(MailLibraryOptions options = {});

} // namespace lumora
