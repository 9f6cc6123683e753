#include "search/mail_search.h"

#include "search/mail_index.h"
#include "store/bulk_memory.h"
#include "store/file_io.h"
#include "store/originals.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "viewer/original_mail.h"

#include <QFile>
#include <QHash>

#include <algorithm>

namespace lumora::search {
namespace {

// A batch of additions is one transaction.
constexpr int kBatch = 200;

QString field(const QString& text)
{
    return text::trimSpaces(text::CutAtNul(text));
}

IndexedMail indexedMail(const Originals& originals, qint64 n, const QByteArray& record)
{
    // What the record holds, and the whole of it from the original where
    // that has it (an original without a header field leaves the record's).
    const MailRecord stored = MailRecord::fromBytes(record);
    IndexedMail mail{field(stored.subject()), field(stored.from()), field(stored.body()), {}};
    if (const std::optional<QByteArray> raw = originals.read(n, record)) {
        const viewer::OriginalMail original = viewer::readOriginal(*raw);
        for (auto [whole, kept] :
             {std::pair{&original.subject, &mail.subject}, std::pair{&original.from, &mail.sender},
              std::pair{&original.body, &mail.body}}) {
            if (!whole->trimmed().isEmpty()) {
                *kept = *whole;
            }
        }
        mail.files = original.attachments;
    }
    return mail;
}

} // namespace

Result<QList<QByteArray>> MailSearch::recordKeys() const
{
    const RecordFile file = mailFile(paths_.receivedFile());
    const qint64 count = file.wholeCount();
    const Originals originals(paths_.originalsFolder());
    Result<QList<Originals::Entry>> entries = originals.entries();
    QList<Originals::Entry> map =
        entries.ok() ? std::move(entries).value() : QList<Originals::Entry>();
    QList<QByteArray> keys;
    keys.reserve(count);
    for (qint64 n = 1; n <= count; ++n) {
        if (n <= map.size()) {
            const Originals::Entry& entry = map[n - 1];
            keys.append(entry.contentKey.isEmpty() ? entry.recordKey : entry.contentKey);
            continue;
        }
        // Stored by a program without the map: the record's own key.
        Result<QByteArray> record = file.read(n);
        if (!record.ok()) {
            return record.status();
        }
        keys.append(Originals::recordKey(record.value()));
    }
    return keys;
}

Result<QList<qint64>> MailSearch::recordRows() const
{
    const RecordFile file = mailFile(paths_.receivedFile());
    const qint64 count = file.wholeCount();
    const Originals originals(paths_.originalsFolder());
    // No map (or none readable): every record is named by its own key.
    const Result<QByteArray> read = fileio::readAll(originals.mapPath());
    const QByteArray map = read.ok() ? read.value() : QByteArray();
    constexpr qsizetype kKey = Originals::kEntryBytes / 2; // record key, then content key
    const qint64 entries = map.size() / Originals::kEntryBytes;
    QList<qint64> rows;
    rows.reserve(count);
    for (qint64 n = 1; n <= count; ++n) {
        if (n <= entries) {
            const char* entry = map.constData() + (n - 1) * Originals::kEntryBytes;
            const char* content = entry + kKey;
            const bool none = std::all_of(content, content + kKey, [](char c) { return c == 0; });
            rows.append(MailIndex::shortKey(QByteArray::fromRawData(none ? entry : content, kKey)));
            continue;
        }
        Result<QByteArray> record = file.read(n);
        if (!record.ok()) {
            return record.status();
        }
        rows.append(MailIndex::shortKey(Originals::recordKey(record.value())));
    }
    return rows;
}

Status MailSearch::update(const std::function<void(int, int)>& progress,
                          const std::atomic_bool* stop)
{
    // Reads every record, and after a receive adds hundreds of mails.
    const memory::BulkWork bulk;
    MailIndex index(paths_.searchIndexFile());
    if (Status opened = index.open(); !opened.ok()) {
        return opened;
    }
    const Result<QList<QByteArray>> keys = recordKeys();
    if (!keys.ok()) {
        return keys.status();
    }
    Result<QSet<QByteArray>> indexed = index.keys();
    if (!indexed.ok()) {
        return indexed.status();
    }
    // What is gone goes first; then each key still missing, from its
    // first record.
    QHash<QByteArray, qint64> wanted;
    for (qsizetype i = 0; i < keys.value().size(); ++i) {
        wanted.insert(keys.value()[i], i + 1);
    }
    QList<QByteArray> gone;
    for (const QByteArray& key : indexed.value()) {
        if (!wanted.contains(key)) {
            gone.append(key);
        }
    }
    if (Status removed = index.remove(gone); !removed.ok()) {
        return removed;
    }
    QList<qint64> missing;
    QSet<QByteArray> seen;
    for (qsizetype i = 0; i < keys.value().size(); ++i) {
        const QByteArray& key = keys.value()[i];
        if (!indexed.value().contains(key) && !seen.contains(key)) {
            seen.insert(key);
            missing.append(i + 1);
        }
    }
    const RecordFile file = mailFile(paths_.receivedFile());
    const Originals originals(paths_.originalsFolder());
    const int total = static_cast<int>(missing.size());
    for (int done = 0; done < total;) {
        if (stop && *stop) {
            break;
        }
        QList<std::pair<QByteArray, IndexedMail>> batch;
        for (int i = 0; i < kBatch && done + i < total; ++i) {
            const qint64 n = missing[done + i];
            const Result<QByteArray> record = file.read(n);
            if (record.ok()) {
                batch.append({keys.value()[n - 1], indexedMail(originals, n, record.value())});
            }
        }
        if (Status added = index.add(batch); !added.ok()) {
            return added;
        }
        done += std::min(kBatch, total - done);
        if (progress) {
            progress(done, total);
        }
    }
    return Status::success();
}

Status MailSearch::forget(const DeletedMails& gone)
{
    // Taking a mail out costs about a millisecond (its terms are worked out
    // again from its kept text), under the file's turn.
    constexpr qsizetype kMostOneByOne = 500;
    if ((gone.keys.isEmpty() && !gone.all) || !QFile::exists(paths_.searchIndexFile())) {
        return Status::success();
    }
    MailIndex index(paths_.searchIndexFile());
    if (Status opened = index.open(MailIndex::Check::None); !opened.ok()) {
        return opened;
    }
    return gone.all || gone.keys.size() > kMostOneByOne ? index.clear() : index.remove(gone.keys);
}

DeletionWitness MailSearch::witness() const
{
    return [search = *this](const DeletedMails& gone) mutable {
        (void)search.forget(gone); // a failure leaves it to the next update
    };
}

Result<QList<int>> MailSearch::find(const QString& typed)
{
    MailIndex index(paths_.searchIndexFile());
    if (Status opened = index.openForReading(); !opened.ok()) {
        // No index yet (it is being made): nothing found so far.
        return opened.error() == StoreError::NotFound ? Result<QList<int>>(QList<int>())
                                                      : Result<QList<int>>(opened);
    }
    const Result<QSet<qint64>> found = index.find(typed);
    if (!found.ok()) {
        return found.status();
    }
    const Result<QList<qint64>> rows = recordRows();
    if (!rows.ok()) {
        return rows.status();
    }
    QList<int> records;
    for (qsizetype i = 0; i < rows.value().size(); ++i) {
        if (found.value().contains(rows.value()[i])) {
            records.append(static_cast<int>(i));
        }
    }
    return records;
}

} // namespace lumora::search
