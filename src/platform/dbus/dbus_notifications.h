#pragma once

// Notifications through org.freedesktop.Notifications on the session bus.

#include <QObject>
#include <QString>
#include <optional>
#include <utility>

#include "platform/services.h"

namespace tonvale::platform {

class DBusNotifications : public Notifications {
 public:
  // appName and icon as the notification service shows them; desktopEntry is the desktop
  // file's name without ".desktop".
  DBusNotifications(QString appName, QString icon, QString desktopEntry);
  ~DBusNotifications() override;
  DBusNotifications(const DBusNotifications&) = delete;
  DBusNotifications& operator=(const DBusNotifications&) = delete;

  void Show(const QString& summary, const QString& body) override;

 private:
  void SendNext();

  QString appName_;
  QString icon_;
  QString desktopEntry_;
  // The calls' watchers are its children, so none reports after this object has gone.
  QObject context_;
  // The service's id of the notification shown last (0: none), replaced by the next one.
  uint shownId_ = 0;
  // One call at a time, so each knows the id it replaces; only the latest waiting text goes.
  bool calling_ = false;
  std::optional<std::pair<QString, QString>> next_;
};

}  // namespace tonvale::platform
