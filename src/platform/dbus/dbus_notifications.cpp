#include "platform/dbus/dbus_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "platform/dbus/dbus_support.h"

namespace tonvale::platform {

DBusNotifications::DBusNotifications(QString appName, QString icon, QString desktopEntry)
    : appName_(std::move(appName)),
      icon_(std::move(icon)),
      desktopEntry_(std::move(desktopEntry)) {}

DBusNotifications::~DBusNotifications() = default;

void DBusNotifications::Show(const QString& summary, const QString& body) {
  next_ = {summary, body};
  if (!calling_) {
    SendNext();
  }
}

void DBusNotifications::SendNext() {
  if (!next_) {
    return;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    next_.reset();
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  // Services that understand markup in the body would read a path's "&" or "<" as markup.
  call << appName_ << shownId_ << icon_ << next_->first << next_->second.toHtmlEscaped()
       << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), desktopEntry_}} << -1;
  next_.reset();
  calling_ = true;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &context_);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_, [this, watcher] {
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isValid()) {
      shownId_ = reply.value();
    } else {
      qCDebug(lcDBus) << "no notification:" << reply.error().message();
    }
    watcher->deleteLater();
    calling_ = false;
    SendNext();
  });
}

}  // namespace tonvale::platform
