#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// How a second start of the program reaches the one already running on the
// same application folder: through a local socket private to the user (in
// $XDG_RUNTIME_DIR, mode 0600). The second start either hands over a mailto:
// link, which the running program only ever shows in a compose window, or
// asks it to come to the front.
//
// One request per connection, one line of UTF-8: "RAISE" or "MAILTO <link>",
// answered with "OK".
namespace lumora {

class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // The socket's path for the application folder appFolder.
    static QString socketPath(const QString& runtimeFolder, const QString& appFolder);

    explicit InstanceChannel(QString path, QObject* parent = nullptr);
    ~InstanceChannel() override;

    // Starts listening. The caller holds the folder's instance lock, so a
    // socket file left by a program that ended without tidying up is stale
    // and is replaced.
    bool listen();

    // The second start's side: hands link over (empty: only asks the running
    // program to come to the front). False when nobody answered in time.
    static bool send(const QString& path, const QString& link, int timeoutMs = 3000);

Q_SIGNALS:
    void raiseRequested();
    void linkReceived(const QString& link);

private:
    void accept();
    void serve(QLocalSocket* socket);

    QString path_;
    QLocalServer* server_ = nullptr;
};

} // namespace lumora
