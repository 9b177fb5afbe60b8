#include "app/remote_commands.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "app/recorder_dialog.h"
#include "hotkeys/hotkey_table.h"
#include "platform/dbus/dbus_remote_control.h"
#include "recorder/recorder_engine.h"

namespace tonvale::app {

using Command = platform::RemoteControl::Command;
using Mode = platform::RemoteState::Mode;

RemoteCommands::RemoteCommands(RecorderDialog& dialog, platform::RemoteControl& remote)
    : dialog_(dialog) {
  remote.Offer([this](Command command,
                      const platform::RemoteControl::Reply& reply) { OnCommand(command, reply); },
               [this] { return State(); });
}

void RemoteCommands::OnCommand(Command command, const platform::RemoteControl::Reply& reply) {
  // Offered from the start, so a second copy finds the first; taken once the window is up.
  if (!dialog_.isVisible()) {
    reply(QStringLiteral("Tonvale's window is not open yet."));
    return;
  }
  // A box the command opens waits for the user, who may be anywhere: the caller hears at once
  // that nothing is done yet.
  QTimer boxWatch;
  boxWatch.setInterval(50);
  QObject::connect(&boxWatch, &QTimer::timeout, this, [&] {
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != &dialog_) {
      boxWatch.stop();
      reply(QStringLiteral("Tonvale shows a message in its window; nothing was done."));
    }
  });
  boxWatch.start();
  const bool record = command == Command::Record;
  if (!dialog_.OnHotKey(record ? hotkeys::kStartRecordHotKeyId : hotkeys::kStopRecordHotKeyId)) {
    reply(QStringLiteral("A box or dialog of Tonvale is open; close it first."));
    return;
  }
  const recorder::RecorderEngine& engine = dialog_.engine();
  if (engine.starting()) {
    // The answer tells how the start ended.
    QEventLoop started;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &started, [&] {
      if (!engine.starting()) {
        started.quit();
      }
    });
    poll.start(10);
    started.exec();
  }
  if (record && (!engine.recording() || engine.paused())) {
    reply(QStringLiteral("The recording did not start."));
  } else if (!record && engine.recording()) {
    reply(QStringLiteral("The recording did not stop."));
  } else {
    reply({});
  }
}

platform::RemoteState RemoteCommands::State() const {
  const recorder::RecorderEngine& engine = dialog_.engine();
  if (!engine.recording()) {
    // What Record would record to.
    return {Mode::Ready, 0, dialog_.OutputFieldText()};
  }
  return {engine.paused() ? Mode::Paused : Mode::Recording, engine.usedSeconds(),
          engine.outputFile()};
}

void RemoteCommands::RecordWhenShown() {
  recordWhenShown_ = true;
  dialog_.installEventFilter(this);
}

bool RemoteCommands::eventFilter(QObject* watched, QEvent* e) {
  if (watched == &dialog_ && e->type() == QEvent::Show && recordWhenShown_) {
    recordWhenShown_ = false;
    // Once the window is on screen.
    QTimer::singleShot(0, this, &RemoteCommands::TryRecord);
  }
  return false;
}

void RemoteCommands::TryRecord() {
  // A box shown with the window comes first; the recording starts once it is answered.
  if (dialog_.isVisible() && !dialog_.OnHotKey(hotkeys::kStartRecordHotKeyId)) {
    QTimer::singleShot(250, this, &RemoteCommands::TryRecord);
  }
}

RemoteOption RemoteOptionFromArgument(std::string_view argument) {
  if (argument == "--record") {
    return RemoteOption::Record;
  }
  if (argument == "--stop") {
    return RemoteOption::Stop;
  }
  if (argument == "--status") {
    return RemoteOption::Status;
  }
  if (argument == "--toggle") {
    return RemoteOption::Toggle;
  }
  return RemoteOption::None;
}

int RunRemoteOption(RemoteOption option) {
  const platform::DBusRemoteClient client;
  if (!client.Reachable()) {
    if (option == RemoteOption::Record || option == RemoteOption::Toggle) {
      return kStartProgram;
    }
    std::fputs("sonarelrecorder: Tonvale is not running\n", stderr);
    return 1;
  }
  QString error;
  if (option == RemoteOption::Status || option == RemoteOption::Toggle) {
    const auto state = client.State(&error);
    if (!state) {
      std::fprintf(stderr, "sonarelrecorder: %s\n", qPrintable(error));
      return 1;
    }
    if (option == RemoteOption::Status) {
      std::printf("%s %s %s\n", qPrintable(platform::RemoteModeName(state->mode)),
                  qPrintable(recorder::UsedTimeText(state->usedSeconds)),
                  qPrintable(state->outputFile));
      return 0;
    }
    option = state->mode == Mode::Ready ? RemoteOption::Record : RemoteOption::Stop;
  }
  error = client.Send(option == RemoteOption::Record ? Command::Record : Command::Stop);
  if (!error.isEmpty()) {
    std::fprintf(stderr, "sonarelrecorder: %s\n", qPrintable(error));
    return 1;
  }
  return 0;
}

}  // namespace tonvale::app
