#include "store/background_job.h"

namespace lumora {

BackgroundJob::BackgroundJob(QObject* parent) : QObject(parent) {}

BackgroundJob::~BackgroundJob()
{
    wait();
}

bool BackgroundJob::start(std::function<Status()> work, std::function<void(const Status&)> done)
{
    if (thread_) {
        return false;
    }
    thread_.reset(QThread::create([this, work = std::move(work), done = std::move(done)] {
        const Status status = work();
        QMetaObject::invokeMethod(
            this,
            [this, status, done] {
                thread_->wait();
                thread_.reset();
                done(status);
            },
            Qt::QueuedConnection);
    }));
    thread_->start();
    return true;
}

void BackgroundJob::wait()
{
    if (thread_) {
        thread_->wait();
    }
}

} // namespace lumora
