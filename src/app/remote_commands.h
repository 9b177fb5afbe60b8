#pragma once

// The remote control: its commands reach the main window the way the hotkeys do, and the
// command line's --record, --stop, --status and --toggle ask the copy that runs.

#include <QObject>
#include <string_view>

#include "platform/remote_control.h"

namespace tonvale::app {

class RecorderDialog;

// Serves the remote control for the main window. All calls on the UI thread.
class RemoteCommands : public QObject {
 public:
  // Offers the remote control until destroyed; the window must outlive it.
  RemoteCommands(RecorderDialog& dialog, platform::RemoteControl& remote);

  // Starts a recording once the window is up, as soon as no box or dialog of it is open.
  void RecordWhenShown();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void OnCommand(platform::RemoteControl::Command command,
                 const platform::RemoteControl::Reply& reply);
  platform::RemoteState State() const;
  void TryRecord();

  RecorderDialog& dialog_;
  bool recordWhenShown_ = false;
};

// The command line's options that talk to a running copy.
enum class RemoteOption { None, Record, Stop, Status, Toggle };
RemoteOption RemoteOptionFromArgument(std::string_view argument);

// What RunRemoteOption returns when no copy runs and the option starts one.
inline constexpr int kStartProgram = -1;
// Carries out the option through the running copy and tells the user the outcome on
// stdout or stderr. Needs a QCoreApplication. Returns the exit status: 0 when done, 1 when
// not (no copy runs, or it did not carry out the command), or kStartProgram.
int RunRemoteOption(RemoteOption option);

}  // namespace tonvale::app
