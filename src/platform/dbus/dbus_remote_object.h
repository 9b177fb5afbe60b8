#pragma once

// The remote control's object on the bus (private to this backend). QtDBus calls it on the
// UI thread.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include "platform/remote_control.h"

namespace tonvale::platform {

class DBusRemoteObject : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.velmora.Tonvale")
  Q_PROPERTY(QString State READ state)
  Q_PROPERTY(int UsedSeconds READ usedSeconds)
  Q_PROPERTY(QString OutputFile READ outputFile)

 public:
  DBusRemoteObject(QDBusConnection bus, RemoteControl::CommandHandler handler,
                   RemoteControl::StateSource source)
      : bus_(std::move(bus)), handler_(std::move(handler)), source_(std::move(source)) {}

  QString state() const { return RemoteModeName(source_().mode); }
  int usedSeconds() const { return source_().usedSeconds; }
  QString outputFile() const { return source_().outputFile; }

 public Q_SLOTS:
  Q_SCRIPTABLE void Record(const QDBusMessage& message) {
    Run(RemoteControl::Command::Record, message);
  }
  Q_SCRIPTABLE void Stop(const QDBusMessage& message) {
    Run(RemoteControl::Command::Stop, message);
  }

 private:
  void Run(RemoteControl::Command command, const QDBusMessage& message);

  QDBusConnection bus_;
  RemoteControl::CommandHandler handler_;
  RemoteControl::StateSource source_;
};

}  // namespace tonvale::platform
