#pragma once

#include "mail/receive_cycle.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

class QProcess;

// Runs receive cycles off the user-interface thread, one at a time. What the
// cycle tells its listener arrives as signals on the thread that owns the
// runner, in the cycle's order, ending with finished().
//
// Given a program, each cycle runs in a process of its own started from it
// (see receive_child.h), and the runner serves that process the received-mail
// file's turns; otherwise on a thread of this process, with the mail library
// given.
namespace lumora {

class MailRecordBuffer;

class ReceiveRunner : public QObject {
    Q_OBJECT
public:
    ReceiveRunner(MailLibrary& mail, AppPaths paths, QString program = {},
                  QObject* parent = nullptr);
    ~ReceiveRunner() override;

    bool running() const { return running_; }
    // The cycles run in a process that brings the search index up to date
    // before it ends.
    bool updatesIndex() const { return !program_.isEmpty(); }
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

    bool startProcess(const ReceiveSettings& settings);
    void readProcess();
    void processEnded(const QProcess* process, bool neverStarted);
    // Waits for the process (killed after waitMs unless -1) and the link.
    void waitForProcess(int waitMs);
    void endCycle(int count, bool failed);

    MailLibrary& mail_;
    AppPaths paths_;
    QString program_;
    std::unique_ptr<QProcess> process_;
    std::thread turnServer_;
    MailRecordBuffer* buffer_ = nullptr;
    qint64 countBefore_ = 0;
    bool ended_ = false;
    std::unique_ptr<QThread> thread_;
    std::atomic_bool cancel_{false};
    bool running_ = false;
};

} // namespace lumora
