#include "mail/receive_cycle.h"

#include "mail/attachment_files.h"
#include "mail/mail_intake.h"
#include "mail/mail_library.h"
#include "mail/server_address.h"
#include "mail/uid_store.h"
#include "settings/account_settings.h"
#include "store/file_io.h"
#include "store/record_buffer.h"
#include "store/records.h"
#include "store/text_codec.h"

#include <QFile>
#include <QSet>

namespace lumora {
namespace {

const QString kFullNotice =
    QStringLiteral("受信メールの保存件数が上限（%1件）に達しました。"
                   "残りのメールはサーバーに残してあります。"
                   "不要なメールを削除してから、もう一度受信してください。");

} // namespace

ReceiveOutcome runReceiveCycle(MailLibrary& mail, const AppPaths& paths,
                               const ReceiveSettings& settings, ReceiveListener& listener,
                               const std::atomic_bool* cancel)
{
    ReceiveOutcome outcome;
    if (settings.pop3Server.isEmpty()) {
        return outcome;
    }
    const auto fail = [&] {
        const QString text = text::CutAtNul(mail.NMailGetMessage(0));
        if (const std::optional<ServerCertificate> certificate = mail.NMailGetCertificate()) {
            listener.certificateRefused(*certificate, text);
        } else {
            listener.failed(text);
        }
    };
    const int handle = mail.NMailPop3Connect(settings.pop3Server);
    listener.checking();
    if (handle == -1) {
        outcome.failed = true;
        fail();
        return outcome;
    }

    const account::Credentials credentials = settings.credentials
                                                 ? *settings.credentials
                                                 : account::readCredentials(paths.accountFile());
    listener.credentialsRead(credentials.id, credentials.password);
    mail.NMailSetAccount(credentials.id, credentials.password);
    if (credentials.id.isEmpty() || credentials.password.isEmpty()) {
        listener.credentialsMissing();
        mail.NMailPop3Close(handle);
        return outcome;
    }

    const int count = mail.NMailPop3Authenticate(handle, credentials.id, credentials.password,
                                                 settings.apopFlag != 0 ? -1 : 0);
    if (count < 0) {
        outcome.count = count;
        outcome.failed = true;
        fail();
        mail.NMailPop3Close(handle);
        return outcome;
    }

    MailIntake intake(mail, paths);
    // IDs are the mailbox's: the same whether it is reached by POP3 or POP3S.
    const auto address = parseServerAddress(settings.pop3Server, Protocol::Pop3);
    UidStore uids(paths.uidFile(), credentials.id + QLatin1Char('@') +
                                       (address ? address->host : settings.pop3Server));
    (void)uids.load(intake.appendNumber() - 1);
    QList<QString> serverUids;
    QSet<QString> onServer;
    qint64 totalBytes = 0;
    for (int i = 1; i <= count; ++i) {
        const QString uid = mail.NMailPop3GetMailUid(handle, i);
        serverUids.append(UidStore::isUsable(uid) ? uid : QString());
        if (!serverUids.last().isEmpty()) {
            onServer.insert(uid);
        }
        totalBytes += std::max<qint64>(0, mail.NMailPop3GetMailSize(handle, i));
    }
    if (!onServer.isEmpty()) {
        (void)uids.keepOnly(onServer); // forget mails the server no longer has
    }
    // Which mails an earlier cycle stored: the UID store is the writer's
    // from here on.
    QList<bool> storedBefore;
    QList<int> wanted;
    for (int i = 1; i <= count; ++i) {
        storedBefore.append(!serverUids[i - 1].isEmpty() && uids.contains(serverUids[i - 1]));
        if (!storedBefore.last()) {
            wanted.append(i);
        }
    }
    mail.NMailPop3WillGetMails(handle, wanted);

    const QString attachmentFolder = paths.attachmentFolder();
    attachments::removeLeftovers(attachmentFolder);
    const attachments::FilesAhead filesAhead(attachmentFolder);
    QFile::remove(attachmentFolder + u'/' + names::kTempText); // an older version's leftover
    qint64 bytesDone = 0;
    bool complete = true;
    for (int i = 1; i <= count; ++i) {
        if (cancel && cancel->load()) {
            break;
        }
        const QString& uid = serverUids[i - 1];
        const qint64 size = mail.NMailPop3GetMailSize(handle, i);
        if (storedBefore[i - 1]) {
            // Stored by an earlier cycle whose deletion did not happen.
            if (!settings.keepOnServer) {
                mail.NMailPop3DeleteMail(handle, i);
            }
            bytesDone += std::max<qint64>(0, size);
            continue;
        }
        if (intake.appendNumber() > kMaxReceivedRecords) {
            listener.notice(kFullNotice.arg(kMaxReceivedRecords));
            break;
        }
        listener.progress(i, count, bytesDone, totalBytes);

        MailFields fields;
        QString body;
        if (mail.NMailPop3GetMailStatus(handle, i, fields, 0) < 0 ||
            mail.NMailPop3GetMail(handle, i, fields, body, 0, 0) < 0) {
            outcome.failed = true;
            listener.failed(text::CutAtNul(mail.NMailGetMessage(0)));
            break;
        }
        bytesDone += std::max<qint64>(0, size);
        const QByteArray original = mail.NMailGetOriginal(fields, body);
        const TakenMail taken = intake.decode(fields, body);
        if (taken.decoded == -5) {
            listener.notice(QStringLiteral("添付ファイルをオープンできません"));
        } else if (taken.decoded == -6) {
            listener.notice(QStringLiteral("分割されたメールが全て揃っていません"));
        }
        listener.mailShown(taken.subject, taken.from, taken.date, taken.shown);

        StoreSteps steps;
        if (!uid.isEmpty()) {
            // The number is the one the record gets, told under the file's
            // turn: another writer may have appended since this mail came.
            steps.before = [&uids, uid](qint64 number) {
                (void)uids.willStore(uid, number);
            };
            steps.after = [&uids, uid](qint64) {
                (void)uids.stored(uid);
            };
        }
        steps.between = settings.beforeRecord;
        if (settings.buffer) {
            settings.buffer->set(taken.record);
        }
        if (!intake.store(taken, original, std::move(steps)).ok()) {
            complete = false;
            break;
        }
        ++outcome.count;
        if (!settings.keepOnServer) {
            mail.NMailPop3DeleteMail(handle, i);
        }
    }

    // Everything stored reaches the disk before the server deletes anything.
    const bool finished = intake.finish(complete);
    outcome.count = intake.written();
    if (!finished) {
        outcome.failed = true;
        const Status failure = intake.failure();
        if (failure.error() == StoreError::Full) {
            listener.notice(kFullNotice.arg(kMaxReceivedRecords));
        } else {
            listener.failed(!failure.ok()
                                ? QStringLiteral("受信したメールを保存できませんでした。"
                                                 "メールはサーバーに残してあります。\n") +
                                      failure.detail()
                                : QStringLiteral("受信したメールをディスクに書き込めませんでした。"
                                                 "メールはサーバーに残してあります。"));
        }
        mail.NMailPop3Reset(handle); // delete nothing that may not be on disk
    }
    mail.NMailPop3Close(handle);
    return outcome;
}

} // namespace lumora
