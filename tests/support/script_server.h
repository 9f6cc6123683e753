#pragma once

#include "support/temp_folder.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace lumora::test {

// A test server written in Python that prints its port on its first line
// and logs what it was sent to a file: started with start(), ended when
// this goes.
class ScriptServer {
public:
    ScriptServer() = default;
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;
    ~ScriptServer()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }

    // The file the script is told to log to.
    QString log() const { return folder_.file(QStringLiteral("commands.log")); }
    // What the script logged so far.
    QByteArray commands() const { return folder_.read(QStringLiteral("commands.log")); }

    // The first line the script printed: its port, or why it could not
    // listen. Empty when it printed nothing.
    QString port;
    bool listening() const { return !port.isEmpty() && port.front().isDigit(); }

protected:
    void start(const QString& script, const QStringList& arguments)
    {
        process_.start(QStringLiteral("/usr/bin/python3"), QStringList{script} + arguments);
        if (process_.waitForReadyRead(10'000)) {
            port = QString::fromLatin1(process_.readLine().trimmed());
        }
    }

private:
    TempFolder folder_;
    QProcess process_;
};

} // namespace lumora::test
