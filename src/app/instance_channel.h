#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;

// How a second start of the program reaches the one already running on the
// same application folder: through a local socket in a folder only the user
// can enter ($XDG_RUNTIME_DIR, or a folder of the user's own in the
// temporary folder), checked for its owner and mode before it is used. Both
// sides check that the other is the same user before a byte of a link goes
// over. The second start either hands over a mailto: link, which the running
// program only ever shows in a compose window, or asks it to come to the
// front.
//
// One request per connection, one line of UTF-8: "RAISE" or "MAILTO <link>",
// answered with "OK", or "TOO-LONG" for a line over kMaxRequestBytes. A
// connection that sends nothing for a few seconds is closed.
namespace lumora {

class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // The longest request taken; a longer link is refused whole, never cut.
    static constexpr qint64 kMaxRequestBytes = 1024 * 1024;

    // The socket's path for the application folder appFolder, in a folder
    // only this user can enter (made when missing); nothing when there is no
    // such folder (it belongs to someone else, or others may enter it).
    static std::optional<QString> socketPath(const QString& runtimeFolder,
                                             const QString& appFolder);
    // The temporary folder's one for this user, made when missing.
    static QString fallbackFolder();

    explicit InstanceChannel(QString path, int idleMilliseconds = 5000, QObject* parent = nullptr);
    ~InstanceChannel() override;

    // Starts listening. The caller holds the folder's instance lock, so a
    // socket file left by a program that ended without tidying up is stale
    // and is replaced.
    bool listen();

    enum class Handover {
        Delivered,
        TooLong,   // the running program refused it: nothing was opened
        NoAnswer,  // nobody answered in time
        NotTheUser // the socket belongs to someone else: nothing was sent
    };
    // The second start's side: hands link over (empty: only asks the running
    // program to come to the front).
    static Handover send(const QString& path, const QString& link, int timeoutMs = 3000);

Q_SIGNALS:
    void raiseRequested();
    void linkReceived(const QString& link);

private:
    class Connection;

    void accept();
    void serve(Connection* connection);

    QString path_;
    int idleMilliseconds_;
    int listening_ = -1; // the listening socket
    QSocketNotifier* waiting_ = nullptr;
};

} // namespace lumora
