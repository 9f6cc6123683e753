#pragma once

#include "search/mail_index.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

// The index kept in step while mail is stored: whoever stores a mail (a
// receive, an import) hands over the texts it has already decoded, and a
// thread of the feed's own adds them to the index in batches, one
// transaction each. Nothing is decoded twice, and on a machine of two cores
// the index is made beside the storing rather than after it.
//
// A mail is handed over once its record is written; a crash before the
// feed's transaction leaves it out of the index, and the next update (which
// always compares the index with the data files, and which the window
// starts after every receive) adds it. A feed that cannot write the index,
// has too many mails in hand, or has not caught up a second after its run
// ends, leaves them to that update in the same way.
namespace lumora::search {

class IndexFeed {
public:
    explicit IndexFeed(QString indexPath);
    // Waits for what was handed over to be in the index, a second at most:
    // what is still in hand then is left to the next update.
    ~IndexFeed();
    IndexFeed(const IndexFeed&) = delete;
    IndexFeed& operator=(const IndexFeed&) = delete;

    // Takes no more mails: what is in hand goes in and the index is closed
    // on the feed's own thread, while the caller goes on (a receive says
    // goodbye to its server meanwhile). The destructor waits for it.
    void close();

    // Hands over the texts of a stored mail under its index key. Never
    // waits: while the feed has many mails in hand (its thread runs at the
    // lowest priority, and a busy machine may leave it behind), the mail is
    // left to the next update, so the index never holds up the storing.
    void add(QByteArray key, IndexedMail mail);

private:
    void run();

    QString path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<QByteArray, IndexedMail>> queue_;
    bool closing_ = false;
    std::chrono::steady_clock::time_point closedAt_;
    bool failed_ = false;
    std::thread thread_;
};

} // namespace lumora::search
