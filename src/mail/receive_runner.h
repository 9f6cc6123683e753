#pragma once

#include "mail/receive_cycle.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>

// Runs receive cycles off the user-interface thread, one at a time. What the
// cycle tells its listener arrives as signals on the thread that owns the
// runner, in the cycle's order, ending with finished().
namespace lumora {

class ReceiveRunner : public QObject {
    Q_OBJECT
public:
    ReceiveRunner(MailLibrary& mail, AppPaths paths, QObject* parent = nullptr);
    ~ReceiveRunner() override;

    bool running() const { return running_; }
    // Starts a cycle; false (and nothing started) while one runs.
    bool start(const ReceiveSettings& settings);
    // Asks a running cycle to stop after the mail in hand and waits for it.
    void stopAndWait();
    // The program is ending: a cycle that has not ended within the grace
    // period has its connection broken (nothing is deleted on the server)
    // and is waited for.
    void endWithin(int graceMilliseconds);

Q_SIGNALS:
    void checking();
    void credentialsRead(const QString& id, const QString& password);
    void credentialsMissing();
    void failed(const QString& text);
    void certificateRefused(const lumora::ServerCertificate& certificate, const QString& text);
    void notice(const QString& text);
    void progress(int index, int count, qint64 bytesDone, qint64 bytesTotal);
    void mailShown(const QString& subject, const QString& from, const QString& date,
                   const QString& body);
    void finished(int count, bool failed);

private:
    class Listener;

    MailLibrary& mail_;
    AppPaths paths_;
    std::unique_ptr<QThread> thread_;
    std::atomic_bool cancel_{false};
    bool running_ = false;
};

} // namespace lumora
