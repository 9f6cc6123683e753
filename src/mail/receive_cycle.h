#pragma once

#include "mail/server_certificate.h"
#include "settings/account_settings.h"
#include "store/paths.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// One receive cycle: every waiting mail is fetched, decoded, its attachments
// written, stored as a record of the received-mail file and, unless mail is
// kept on the server, deleted there.
//
// The cycle runs on whatever thread calls it and tells a listener, in order,
// what the windows should show. No mail is lost and none is stored twice:
// records, attachments and remembered IDs are flushed to disk before the
// connection is closed, which is when the server carries out deletions; a
// mail whose ID is remembered is not stored again.
namespace lumora {

class MailLibrary;

class MailRecordBuffer;

struct ReceiveSettings {
    QString pop3Server;
    qint16 apopFlag = 0;
    bool keepOnServer = false;
    // When given, the log-in uses these instead of the account file's.
    std::optional<account::Credentials> credentials;
    // When given, holds each mail's record as it is stored.
    MailRecordBuffer* buffer = nullptr;
    // Called between keeping a mail's original and storing its record: a
    // test stops the cycle there, as a crash would.
    std::function<void()> beforeRecord;
};

class ReceiveListener {
public:
    virtual ~ReceiveListener() = default;
    // Connecting has been tried: "メールのチェックをしています。".
    virtual void checking() = 0;
    // The ID and password read from the account file for this cycle.
    virtual void credentialsRead(const QString& id, const QString& password) = 0;
    // The ID or the password is empty: the ID and password dialog opens.
    virtual void credentialsMissing() = 0;
    // A failure the user has to know of, in a box captioned "エラー".
    virtual void failed(const QString& text) = 0;
    // The server's certificate could not be verified (or is not the one the
    // user trusted for it): a failure, which a window may turn into the
    // question whether to trust it.
    virtual void certificateRefused(const ServerCertificate& certificate, const QString& text)
    {
        (void)certificate;
        failed(text);
    }
    // A message box with the program's title; the cycle goes on.
    virtual void notice(const QString& text) = 0;
    // Mail index of count is being fetched; bytes so far of all mails.
    virtual void progress(int index, int count, qint64 bytesDone, qint64 bytesTotal) = 0;
    // The texts of the mail just stored, for the viewer's fields.
    virtual void mailShown(const QString& subject, const QString& from, const QString& date,
                           const QString& body) = 0;
};

struct ReceiveOutcome {
    // The new-mail count the main window shows: mails stored by this cycle,
    // or the library's negative value after a failed log-in, or 0.
    int count = 0;
    bool failed = false;
};

// The notice added to the body of a mail that has attachments.
inline const QString kAttachmentNotice =
    QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
// The received-mail file's record numbers are 16-bit.
inline constexpr qint64 kMaxReceivedRecords = 32767;

// Runs one cycle. cancel, when given and set, ends the cycle after the mail
// in hand (mails stored so far stay stored and are deleted as usual).
ReceiveOutcome runReceiveCycle(MailLibrary& mail, const AppPaths& paths,
                               const ReceiveSettings& settings, ReceiveListener& listener,
                               const std::atomic_bool* cancel = nullptr);

} // namespace lumora
