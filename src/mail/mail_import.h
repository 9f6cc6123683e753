#pragma once

#include "mail/mail_library.h"
#include "store/paths.h"
#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// Mail from other programs' files, taken into the received-mail file by the
// same decoding as a receive: attachments into the attachment folder, the
// original kept. A mail already stored (the same record, which is the same
// Message-ID, sender, date, subject and text) is not stored again.
namespace lumora {

struct ImportOutcome {
    int imported = 0;
    int skipped = 0;   // already stored
    bool full = false; // stopped at the record limit
    bool cancelled = false;
    Status status;
};

// The next mail of a source, or nothing when it has no more.
using MailFeed = std::function<std::optional<QByteArray>()>;
// Reads mail number i (from 0) of the source.
using MailReader = std::function<QByteArray(int index)>;
// Told the mails done and the total, before each mail.
using ImportProgress = std::function<void(int done, int total)>;

// Imports every mail the feed gives, until it gives none or cancel is set.
ImportOutcome importMails(MailLibrary& mail, const AppPaths& paths, const MailFeed& next,
                          const std::atomic_bool* cancel = nullptr);
// The same for count mails read by number.
ImportOutcome importMails(MailLibrary& mail, const AppPaths& paths, int count,
                          const MailReader& read, const ImportProgress& progress = {},
                          const std::atomic_bool* cancel = nullptr);

} // namespace lumora
