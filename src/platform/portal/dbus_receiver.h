#pragma once

// Hands the D-Bus signals a QDBusConnection connects it to on to a function: QtDBus delivers
// signals only to slots.

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <functional>

namespace tonvale::platform {

class DBusReceiver : public QObject {
  Q_OBJECT

 public:
  explicit DBusReceiver(QObject* parent = nullptr) : QObject(parent) {}
  std::function<void(const QDBusMessage&)> callback;
  QString path;  // a request's object path
  bool finished = false;

 public slots:
  void Receive(const QDBusMessage& message) {
    if (callback)
      callback(message);
  }
};

}  // namespace tonvale::platform
