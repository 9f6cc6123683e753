#pragma once

#include "mail/mail_library.h"
#include "store/paths.h"
#include "store/status.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>

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

// Reads mail number i (from 0) of the source.
using MailReader = std::function<QByteArray(int index)>;
// Told the mails done and the total, before each mail.
using ImportProgress = std::function<void(int done, int total)>;

ImportOutcome importMails(MailLibrary& mail, const AppPaths& paths, int count,
                          const MailReader& read, const ImportProgress& progress = {},
                          const std::atomic_bool* cancel = nullptr);

} // namespace lumora
