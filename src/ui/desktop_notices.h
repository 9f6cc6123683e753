#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

// Notices on the desktop through its notification service
// (org.freedesktop.Notifications on the session bus). A notice's default
// action, when the user activates it, runs the function given with it.
namespace lumora::ui {

class DesktopNotices : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotices(QObject* parent = nullptr);

    // Sends the notice without waiting for the desktop; false when there is
    // no session bus to send it on.
    bool show(const QString& summary, const QString& body, std::function<void()> activated);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    QHash<uint, std::function<void()>> actions_;
};

} // namespace lumora::ui
