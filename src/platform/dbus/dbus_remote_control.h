#pragma once

// The remote control on the session bus. The copy that offers it first owns the name
// com.velmora.Tonvale and serves, on /com/velmora/Tonvale, the interface
// com.velmora.Tonvale: the methods Record() and Stop() and the read-only properties State
// ("ready", "recording", "paused"), UsedSeconds and OutputFile. A command that was not
// carried out is answered with the error com.velmora.Tonvale.Error.NotDone and the reason.

#include <QString>
#include <memory>
#include <optional>

#include "platform/remote_control.h"

class QObject;

namespace tonvale::platform {

class DBusRemoteControl : public RemoteControl {
 public:
  DBusRemoteControl();
  ~DBusRemoteControl() override;
  DBusRemoteControl(const DBusRemoteControl&) = delete;
  DBusRemoteControl& operator=(const DBusRemoteControl&) = delete;

  bool Offer(CommandHandler handler, StateSource state) override;

 private:
  std::unique_ptr<QObject> object_;
};

// The command line's side: asks the copy that offers the remote control. Every call blocks
// until that copy answers; it needs a QCoreApplication. Its connection to the bus is its
// own and ends with it, so the application object may be replaced afterwards.
class DBusRemoteClient {
 public:
  DBusRemoteClient();
  ~DBusRemoteClient();
  DBusRemoteClient(const DBusRemoteClient&) = delete;
  DBusRemoteClient& operator=(const DBusRemoteClient&) = delete;

  // False when no copy offers the remote control, or there is no session bus.
  bool Reachable() const;
  // Empty when the command was carried out, else why not.
  QString Send(RemoteControl::Command command) const;
  // The running copy's state; nothing, with the reason in *error, when it did not answer.
  std::optional<RemoteState> State(QString* error) const;
};

}  // namespace tonvale::platform
