#pragma once

// The remote control: other programs of the user's session (a key bound in the desktop's
// settings to "sonarelrecorder --record") ask the running copy to record or stop, and read
// what it is doing. The commands carry no data: they take no paths and change no settings.

#include <QString>
#include <functional>

namespace tonvale::platform {

// What the running copy is doing, as the remote control reports it.
struct RemoteState {
  enum class Mode { Ready, Recording, Paused };
  Mode mode = Mode::Ready;
  int usedSeconds = 0;
  // The file being recorded, or the one Record would record to.
  QString outputFile;
};

// The names of the modes on the wire and on the command line.
inline QString RemoteModeName(RemoteState::Mode mode) {
  switch (mode) {
    case RemoteState::Mode::Recording:
      return QStringLiteral("recording");
    case RemoteState::Mode::Paused:
      return QStringLiteral("paused");
    case RemoteState::Mode::Ready:
      break;
  }
  return QStringLiteral("ready");
}

// The service side, offered by the running copy.
class RemoteControl {
 public:
  enum class Command { Record, Stop };
  // Answers a caller once: an empty text when the command was carried out, else why not.
  using Reply = std::function<void(const QString& error)>;
  // Called on the UI thread for each command. It may call reply before it returns (for
  // example while a box it opened waits for the user) or when it returns; a reply it never
  // calls is sent as a failure when it returns.
  using CommandHandler = std::function<void(Command command, const Reply& reply)>;
  // Called on the UI thread whenever a caller reads the state.
  using StateSource = std::function<RemoteState()>;

  virtual ~RemoteControl() = default;
  // Offers the service until the object is destroyed. False when there is no session bus or
  // another copy already offers it; then no command ever arrives.
  virtual bool Offer(CommandHandler handler, StateSource state) = 0;
};

}  // namespace tonvale::platform
