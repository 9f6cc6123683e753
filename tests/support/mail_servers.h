#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

namespace lumora::test {

// The project's test mail servers (tests/harness/servers.sh): Dovecot for
// POP3, APOP, STLS and POP3S, and an SMTP server that spools what it gets,
// on free loopback ports in a throw-away folder.
class MailServers {
public:
    // withPostfix: a private Postfix too (it needs root).
    explicit MailServers(bool withPostfix = false)
    {
        dir_.setAutoRemove(true);
        QProcess start;
        QStringList arguments{QStringLiteral("start"), dir_.path()};
        if (withPostfix) {
            arguments.append(QStringLiteral("--postfix"));
        }
        start.start(QStringLiteral(LUMORA_SERVERS_SCRIPT), arguments);
        // Up to three tries, each of which may wait for a slow server.
        started_ = start.waitForFinished(180'000) && start.exitStatus() == QProcess::NormalExit &&
                   start.exitCode() == 0;
        const QByteArray said = start.readAllStandardError();
        if (!said.isEmpty()) {
            // In the test's log: why a start failed, or had to be tried again.
            std::fputs(said.constData(), stderr);
        }
        QFile env(dir_.path() + QStringLiteral("/servers.env"));
        if (started_ && env.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : env.readAll().split('\n')) {
                const qsizetype eq = line.indexOf('=');
                if (eq > 0) {
                    env_.insert(QString::fromUtf8(line.left(eq)),
                                QString::fromUtf8(line.mid(eq + 1).trimmed()));
                }
            }
        }
        started_ = started_ && !env_.isEmpty();
    }
    ~MailServers()
    {
        QProcess stop;
        stop.start(QStringLiteral(LUMORA_SERVERS_SCRIPT), {QStringLiteral("stop"), dir_.path()});
        stop.waitForFinished(30'000);
    }
    MailServers(const MailServers&) = delete;
    MailServers& operator=(const MailServers&) = delete;

    bool started() const { return started_; }
    QString value(const QString& key) const { return env_.value(key); }
    QString pop3() const
    {
        return QStringLiteral("127.0.0.1:") + value(QStringLiteral("LUMORA_POP3_PORT"));
    }
    QString pop3s() const
    {
        return QStringLiteral("pop3s://127.0.0.1:") + value(QStringLiteral("LUMORA_POP3S_PORT"));
    }
    QString smtp() const
    {
        return QStringLiteral("127.0.0.1:") + value(QStringLiteral("LUMORA_SMTP_PORT"));
    }
    QString smtps() const
    {
        return QStringLiteral("smtps://127.0.0.1:") + value(QStringLiteral("LUMORA_SMTPS_PORT"));
    }
    // The private Postfix: PIPELINING, SIZE 4 MB, STARTTLS, AUTH through
    // Dovecot; what it accepts reaches spooled() a moment later.
    QString postfix() const
    {
        return QStringLiteral("127.0.0.1:") + value(QStringLiteral("LUMORA_POSTFIX_PORT"));
    }
    QString caFile() const { return value(QStringLiteral("LUMORA_TEST_CAFILE")); }
    QString otherCaFile() const { return value(QStringLiteral("LUMORA_TEST_OTHER_CAFILE")); }

    // Puts a mail into the user's maildir as a delivering MTA does.
    void deliver(const QString& user, const QByteArray& mail)
    {
        const QString box = value(QStringLiteral("LUMORA_MAILDIR")) + u'/' + user;
        const QString name = QStringLiteral("%1.%2.lumora")
                                 .arg(QDateTime::currentMSecsSinceEpoch())
                                 .arg(++delivered_);
        const QString tmp = box + QStringLiteral("/tmp/") + name;
        QFile file(tmp);
        if (!file.open(QIODevice::WriteOnly)) {
            return;
        }
        file.write(mail);
        file.close();
        if (::getuid() == 0) {
            (void)::chown(QFile::encodeName(tmp).constData(),
                          value(QStringLiteral("LUMORA_MAIL_UID")).toUInt(),
                          value(QStringLiteral("LUMORA_MAIL_GID")).toUInt());
        }
        QDir().rename(tmp, box + QStringLiteral("/new/") + name);
    }
    // Mails waiting in the user's maildir.
    int waiting(const QString& user) const
    {
        const QString box = value(QStringLiteral("LUMORA_MAILDIR")) + u'/' + user;
        return static_cast<int>(QDir(box + QStringLiteral("/new")).entryList(QDir::Files).size() +
                                QDir(box + QStringLiteral("/cur")).entryList(QDir::Files).size());
    }
    // The messages the SMTP server accepted, oldest first.
    QList<QByteArray> spooled() const
    {
        QList<QByteArray> list;
        const QDir spool(value(QStringLiteral("LUMORA_SMTP_SPOOL")));
        for (const QString& name :
             spool.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
            QFile file(spool.filePath(name));
            if (file.open(QIODevice::ReadOnly)) {
                list.append(file.readAll());
            }
        }
        return list;
    }
    QByteArray envelope(int index) const
    {
        QFile file(value(QStringLiteral("LUMORA_SMTP_SPOOL")) +
                   QStringLiteral("/%1.envelope").arg(index + 1, 4, 10, QLatin1Char('0')));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    QHash<QString, QString> env_;
    bool started_ = false;
    int delivered_ = 0;
};

} // namespace lumora::test
