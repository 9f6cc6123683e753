#pragma once

#include "store/status.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

// Runs one piece of file work at a time on a thread of its own and hands its
// outcome to the thread that owns the job, queued, so a window stays
// responsive while a large file is rewritten. Destroying the job waits for
// the work in hand: a file is never left half written because a window
// closed.
namespace lumora {

class BackgroundJob : public QObject {
    Q_OBJECT
public:
    explicit BackgroundJob(QObject* parent = nullptr);
    ~BackgroundJob() override;

    bool running() const { return thread_ != nullptr; }
    // Starts the work; false (and nothing started) while other work runs.
    bool start(std::function<Status()> work, std::function<void(const Status&)> done);
    // Waits until the work in hand is done (its outcome is still handed on).
    void wait();

private:
    std::unique_ptr<QThread> thread_;
};

} // namespace lumora
