#include "search/index_feed.h"

#include <chrono>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

namespace lumora::search {
namespace {

// Mails in hand at most (some tens of KB of text each), and in one
// transaction.
constexpr std::size_t kMaxQueued = 256;
constexpr int kBatch = 200;
constexpr std::chrono::milliseconds kIdleCommit{500};
constexpr std::chrono::seconds kLongest{2};
constexpr int kNice = 19;
// How long the end of a run waits for the mails in hand; what is left then
// goes to the next update. A busy machine gives a thread of the lowest
// priority little time, and the run's end must not wait for it.
constexpr std::chrono::seconds kLongestEnd{1};

} // namespace

IndexFeed::IndexFeed(QString indexPath) : path_(std::move(indexPath))
{
    thread_ = std::thread([this] { run(); });
}

IndexFeed::~IndexFeed()
{
    close();
    thread_.join();
}

void IndexFeed::close()
{
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            return;
        }
        closing_ = true;
        closedAt_ = std::chrono::steady_clock::now();
    }
    changed_.notify_all();
}

void IndexFeed::add(QByteArray key, IndexedMail mail)
{
    std::unique_lock lock(mutex_);
    if (failed_ || closing_ || queue_.size() >= kMaxQueued) {
        return; // left to the next update
    }
    queue_.emplace_back(std::move(key), std::move(mail));
    lock.unlock();
    changed_.notify_all();
}

void IndexFeed::run()
{
    // Opened at the first mail: a run that stores nothing leaves the index
    // alone. Its whole-file check is the update's to make. Each mail is
    // added as it comes, and a transaction holds many: a commit per mail
    // would leave the index as many small pieces to merge. A transaction
    // ends after kBatch mails or two seconds, when the feed is closed, or
    // when no mail has come for a moment: a slow receive keeps no other
    // writer of the index waiting long.
    // The index yields the processor to the receive it follows: on two
    // cores, shared with the decoding, the writing and the server, an index
    // of the same priority slowed the receive by a sixth.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNice);
    MailIndex index(path_);
    bool opened = false;
    int inTransaction = 0;
    std::chrono::steady_clock::time_point begun;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto work = [this] {
            return closing_ || !queue_.empty();
        };
        if (inTransaction > 0) {
            changed_.wait_for(lock, kIdleCommit, work);
        } else {
            changed_.wait(lock, work);
        }
        if (closing_ && std::chrono::steady_clock::now() - closedAt_ > kLongestEnd) {
            queue_.clear();
        }
        std::optional<std::pair<QByteArray, IndexedMail>> mail;
        if (!queue_.empty()) {
            mail = std::move(queue_.front());
            queue_.pop_front();
        }
        if (!mail && inTransaction == 0) {
            if (closing_) {
                return;
            }
            continue;
        }
        lock.unlock();
        changed_.notify_all();
        bool ok = true;
        if (mail) {
            if (!opened) {
                opened = index.open(MailIndex::Check::None).ok();
            }
            if (inTransaction == 0) {
                begun = std::chrono::steady_clock::now();
            }
            ok = opened && (inTransaction > 0 || index.begin().ok()) &&
                 index.insert(mail->first, mail->second).ok();
            inTransaction = ok ? inTransaction + 1 : 0;
            if (!ok && opened) {
                index.rollback();
            }
        } else if (inTransaction > 0) {
            // Nothing more for now: what is in hand goes in.
            ok = index.commit().ok();
            if (!ok) {
                index.rollback();
            }
            inTransaction = 0;
        }
        if (ok && (inTransaction >= kBatch ||
                   (inTransaction > 0 && std::chrono::steady_clock::now() - begun > kLongest))) {
            ok = index.commit().ok();
            if (!ok) {
                index.rollback();
            }
            inTransaction = 0;
        }
        lock.lock();
        if (!ok) {
            failed_ = true;
            queue_.clear();
        }
        changed_.notify_all();
    }
}

} // namespace lumora::search
