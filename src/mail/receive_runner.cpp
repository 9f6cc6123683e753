#include "mail/receive_runner.h"

#include "mail/mail_library.h"
#include "mail/receive_child.h"
#include "store/bulk_memory.h"
#include "store/record_buffer.h"
#include "store/records.h"
#include "store/turn_link.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QProcess>
#include <QSignalBlocker>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {

// Passes each step on as the runner's signal: from a cycle's thread queued
// to the runner's, so the order holds; from the steps a receiving process
// wrote, read on the runner's thread, at once.
class ReceiveRunner::Listener final : public ReceiveListener {
public:
    Listener(ReceiveRunner* runner, bool queued) : runner_(runner), queued_(queued) {}

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
        if (queued_) {
            QMetaObject::invokeMethod(runner_, std::forward<F>(f), Qt::QueuedConnection);
        } else {
            f();
        }
    }
    ReceiveRunner* runner_;
    bool queued_;
};

ReceiveRunner::ReceiveRunner(MailLibrary& mail, AppPaths paths, QString program, QObject* parent)
    : QObject(parent), mail_(mail), paths_(std::move(paths)), program_(std::move(program))
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
    if (!program_.isEmpty()) {
        return startProcess(settings);
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
            Listener listener(this, true);
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

bool ReceiveRunner::startProcess(const ReceiveSettings& settings)
{
    // The last process may still be ending.
    waitForProcess(-1);
    int link[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link) != 0) {
        return false;
    }
    running_ = true;
    ended_ = false;
    buffer_ = settings.buffer;
    countBefore_ = mailFile(paths_.receivedFile()).wholeCount();
    process_ = std::make_unique<QProcess>();
    process_->setProgram(program_);
    process_->setArguments({QString::fromLatin1(kReceiveChildArgument), paths_.appFolder()});
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const int childEnd = link[1];
    process_->setChildProcessModifier([childEnd] {
        // Between fork and exec: only calls safe there. dup2 leaves the copy
        // open across exec; the end itself, when it already is descriptor 3,
        // loses its close-on-exec flag instead.
        if (childEnd == kTurnLinkDescriptor) {
            ::fcntl(childEnd, F_SETFD, 0);
        } else {
            ::dup2(childEnd, kTurnLinkDescriptor);
        }
    });
    connect(process_.get(), &QProcess::readyReadStandardOutput, this, &ReceiveRunner::readProcess);
    connect(process_.get(), &QProcess::finished, this,
            [this, process = process_.get()] { processEnded(process, false); });
    connect(process_.get(), &QProcess::errorOccurred, this,
            [this, process = process_.get()](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    processEnded(process, true);
                }
            });
    process_->start();
    ::close(childEnd);
    process_->write(receiveSettingsFrame(settings));
    turnServer_ = std::thread(
        [fd = link[0], owner = RecordOwner::of(paths_.receivedFile(), MailRecord::kLayout)] {
            serveTurns(fd, *owner, Writer::Receive);
            ::close(fd);
        });
    return true;
}

void ReceiveRunner::readProcess()
{
    if (ended_ || !process_) {
        return;
    }
    Listener listener(this, false);
    bool broken = false;
    const std::optional<ReceiveEnd> end = readReceiveSteps(*process_, listener, &broken);
    if (broken) {
        process_->kill(); // not ours to read: ended as a crash
        return;
    }
    if (end) {
        if (buffer_ && !end->lastRecord.isEmpty()) {
            buffer_->set(MailRecord::fromBytes(end->lastRecord));
        }
        endCycle(end->outcome.count, end->outcome.failed);
    }
}

void ReceiveRunner::processEnded(const QProcess* process, bool neverStarted)
{
    if (process != process_.get()) {
        return; // waited for already
    }
    readProcess();
    if (process != process_.get()) {
        return; // its outcome started the next cycle, which waited for it
    }
    if (turnServer_.joinable()) {
        turnServer_.join(); // the process is gone: its end of the link is closed
    }
    if (!ended_) {
        // Ended without its outcome: it crashed or was killed. What it
        // stored stays stored; what it did not is still on the server.
        Q_EMIT failed(neverStarted
                          ? QStringLiteral("メールの受信を始められませんでした。\n") +
                                process_->errorString()
                          : QStringLiteral("メールの受信が途中で止まりました。"
                                           "受信できなかったメールはサーバーに残してあります。"));
        const qint64 now = mailFile(paths_.receivedFile()).wholeCount();
        endCycle(static_cast<int>(std::max<qint64>(0, now - countBefore_)), true);
    }
}

void ReceiveRunner::endCycle(int count, bool failed)
{
    ended_ = true;
    running_ = false;
    Q_EMIT finished(count, failed);
}

void ReceiveRunner::waitForProcess(int waitMs)
{
    if (process_) {
        if (process_->state() != QProcess::NotRunning) {
            process_->write("C"); // stop after the mail in hand
            if (!process_->waitForFinished(waitMs)) {
                // Its connection is broken: nothing is deleted on the server.
                process_->kill();
                process_->waitForFinished(-1);
            }
        }
        process_->disconnect(this);
        process_.release()->deleteLater();
    }
    if (turnServer_.joinable()) {
        turnServer_.join();
    }
    running_ = false;
}

void ReceiveRunner::endWithin(int graceMilliseconds)
{
    if (!program_.isEmpty()) {
        // The program is ending: no window hears of this cycle any more.
        const QSignalBlocker quiet(this);
        waitForProcess(graceMilliseconds);
        return;
    }
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
    if (!program_.isEmpty()) {
        const QSignalBlocker quiet(this);
        waitForProcess(-1);
        return;
    }
    cancel_ = true;
    if (thread_) {
        thread_->wait();
    }
}

} // namespace lumora
