#include "mail/receive_runner.h"

#include "mail/mail_library.h"
#include "store/bulk_memory.h"

#include <QDeadlineTimer>
#include <QMetaObject>

namespace lumora {

// Passes each step on to the runner's thread, queued, so the order holds.
class ReceiveRunner::Listener final : public ReceiveListener {
public:
    explicit Listener(ReceiveRunner* runner) : runner_(runner) {}

    void checking() override
    {
        post([r = runner_] { Q_EMIT r->checking(); });
    }
    void credentialsRead(const QString& id, const QString& password) override
    {
        post([r = runner_, id, password] { Q_EMIT r->credentialsRead(id, password); });
    }
    void credentialsMissing() override
    {
        post([r = runner_] { Q_EMIT r->credentialsMissing(); });
    }
    void failed(const QString& text) override
    {
        post([r = runner_, text] { Q_EMIT r->failed(text); });
    }
    void certificateRefused(const ServerCertificate& certificate, const QString& text) override
    {
        post([r = runner_, certificate, text] { Q_EMIT r->certificateRefused(certificate, text); });
    }
    void notice(const QString& text) override
    {
        post([r = runner_, text] { Q_EMIT r->notice(text); });
    }
    void progress(int index, int count, qint64 done, qint64 total) override
    {
        post([r = runner_, index, count, done, total] {
            Q_EMIT r->progress(index, count, done, total);
        });
    }
    void mailShown(const QString& subject, const QString& from, const QString& date,
                   const QString& body) override
    {
        post([r = runner_, subject, from, date, body] {
            Q_EMIT r->mailShown(subject, from, date, body);
        });
    }

private:
    template <class F> void post(F&& f)
    {
        QMetaObject::invokeMethod(runner_, std::forward<F>(f), Qt::QueuedConnection);
    }
    ReceiveRunner* runner_;
};

ReceiveRunner::ReceiveRunner(MailLibrary& mail, AppPaths paths, QObject* parent)
    : QObject(parent), mail_(mail), paths_(std::move(paths))
{
}

ReceiveRunner::~ReceiveRunner()
{
    stopAndWait();
}

bool ReceiveRunner::start(const ReceiveSettings& settings)
{
    if (running_) {
        return false;
    }
    running_ = true;
    cancel_ = false;
    if (thread_) {
        thread_->wait();
    }
    thread_.reset(QThread::create([this, settings] {
        ReceiveOutcome outcome;
        {
            // Ends (and gives the cycle's memory back) once the cycle's
            // threads are done with it.
            const memory::BulkWork bulk;
            Listener listener(this);
            outcome = runReceiveCycle(mail_, paths_, settings, listener, &cancel_);
        }
        QMetaObject::invokeMethod(
            this,
            [this, outcome] {
                running_ = false;
                Q_EMIT finished(outcome.count, outcome.failed);
            },
            Qt::QueuedConnection);
    }));
    thread_->start();
    return true;
}

void ReceiveRunner::endWithin(int graceMilliseconds)
{
    cancel_ = true;
    if (!thread_) {
        return;
    }
    if (!thread_->wait(QDeadlineTimer(graceMilliseconds))) {
        mail_.NMailPop3AbortAll();
        thread_->wait();
    }
}

void ReceiveRunner::stopAndWait()
{
    cancel_ = true;
    if (thread_) {
        thread_->wait();
    }
}

} // namespace lumora
