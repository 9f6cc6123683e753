#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <optional>

namespace lumora::test {

// Runs tests/harness/mail_samples.py (the sample mails, and other programs'
// mail files made and read by Python's mailbox and email packages) with the
// arguments; its output, or nothing when it failed.
inline std::optional<QByteArray> mailSamples(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(LUMORA_MAIL_SAMPLES)} + args);
    if (!process.waitForFinished(60'000) || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

} // namespace lumora::test
