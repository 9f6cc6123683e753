#pragma once

#include "store/mail_store.h"
#include "store/paths.h"
#include "store/status.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>

// Search across every stored mail: the index beside the data files brought
// in step with the received-mail file and its originals, and what the user
// typed answered with the records that match. Reads the data files without
// a turn (as every reader does) and writes only the index; safe on any
// thread, one call at a time per index.
namespace lumora::search {

class MailSearch {
public:
    explicit MailSearch(AppPaths paths) : paths_(std::move(paths)) {}

    // Adds the mails the index lacks (a new index: every mail) and removes
    // those no longer stored. progress(done, total) follows the additions;
    // stop ends it after the batch in hand (what was added stays).
    Status update(const std::function<void(int done, int total)>& progress = {},
                  const std::atomic_bool* stop = nullptr);

    // Takes out what a deletion took away (told by the store under the
    // file's turn). Many mails at once (deleting all) empty the index
    // instead, faster than taking each out; the next update adds back what
    // stays. No index yet: nothing to do.
    Status forget(const DeletedMails& gone);
    // The same as the store's DeletionWitness.
    DeletionWitness witness() const;

    // The records (from 0) whose mail matches, in record order.
    Result<QList<int>> find(const QString& typed);

private:
    // Each record's index key, in record order.
    Result<QList<QByteArray>> recordKeys() const;
    // The same as rows of the index (MailIndex::shortKey), read from the
    // map in one piece without making a key of each entry: every search
    // reads them.
    Result<QList<qint64>> recordRows() const;

    AppPaths paths_;
};

} // namespace lumora::search
