#include "ui/desktop_notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace lumora::ui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DesktopNotices::DesktopNotices(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(closed(uint, uint)));
}

bool DesktopNotices::show(const QString& summary, const QString& body,
                          std::function<void()> activated)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("lumora")},
                            {QStringLiteral("category"), QStringLiteral("email.arrived")}};
    call << QStringLiteral("ルモラ") << 0u << QStringLiteral("mail-unread") << summary << body
         << QStringList{QStringLiteral("default"), QStringLiteral("開く")} << hints
         << static_cast<int>(-1);
    // The reply, the notice's id, comes later: the window never waits for
    // the desktop (a service that is slow to start would freeze it).
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, activated = std::move(activated)](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> reply = *w;
                if (!reply.isError()) {
                    actions_.insert(reply.value(), activated);
                }
                w->deleteLater();
            });
    return true;
}

void DesktopNotices::actionInvoked(uint id, const QString& action)
{
    if (action == QLatin1String("default")) {
        if (const std::function<void()> run = actions_.take(id)) {
            run();
        }
    }
}

void DesktopNotices::closed(uint id, uint)
{
    actions_.remove(id);
}

} // namespace lumora::ui
