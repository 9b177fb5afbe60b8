// Tonvale: a desktop sound recorder.

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "app/recorder_app.h"
#include "app/remote_commands.h"

#ifndef TONVALE_VERSION
#define TONVALE_VERSION "unknown"
#endif

namespace {

constexpr const char* kShortUsage =
    "Usage: sonarelrecorder [--help] [--version] [--record|--stop|--status|--toggle]\n"
    "                       [Qt options such as -platform NAME]\n";
constexpr const char* kHelp =
    "Usage: sonarelrecorder [OPTION]...\n"
    "Tonvale records a microphone, a line input or the sound other programs play to an MP3\n"
    "file, started and stopped with its buttons or with two system-wide hotkeys.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Remote control of the running copy, for a key bound in the desktop's settings:\n"
    "      --record   start recording, as the Start Record hotkey does; with no copy\n"
    "                 running, start Tonvale and record once its window is up\n"
    "      --stop     stop recording, as the Stop Record hotkey does\n"
    "      --toggle   record when ready, stop when recording (one key for both); with no\n"
    "                 copy running, start Tonvale and record\n"
    "      --status   print the state on one line: ready, recording or paused, the used\n"
    "                 time (hh:mm:ss) and the output file\n"
    "These exit with status 0 when done, and 1 when Tonvale is not running (--stop,\n"
    "--status) or did not carry out the command (a box of it is open, for example).\n"
    "\n"
    "Qt's own options, such as -platform NAME or -display DISPLAY, work as in every Qt\n"
    "program.\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/Velmora/sonarelrecorder.conf (~/.config/Velmora/...).\n"
    "Temporary recording: $XDG_CACHE_HOME/tonvale/qorntemp.wav (~/.cache/tonvale/...), or\n"
    "$TMPDIR when it is private to you (else a folder tonvale-<uid> of yours inside it).\n";

int RefuseArgument(const char* argument) {
  std::fprintf(stderr, "sonarelrecorder: unknown option '%s'\n%s", argument, kShortUsage);
  return 2;
}

// --help and --version are answered, and other "--" options refused, before anything needs
// a display. A remote-control option is taken out of argv into *remote. Returns the exit
// status when the program ends here, or -1 to go on.
int HandleOwnOptions(int& argc, char** argv, tonvale::app::RemoteOption* remote) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (const auto option = tonvale::app::RemoteOptionFromArgument(argument);
        option != tonvale::app::RemoteOption::None) {
      if (*remote != tonvale::app::RemoteOption::None) {
        std::fprintf(stderr,
                     "sonarelrecorder: only one of --record, --stop, --status, --toggle\n%s",
                     kShortUsage);
        return 2;
      }
      *remote = option;
      std::copy(argv + i + 1, argv + argc + 1, argv + i);
      --argc;
      --i;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (argument == "--version") {
      std::fputs("sonarelrecorder (Tonvale) " TONVALE_VERSION "\n", stdout);
      return 0;
    }
    if (argument.starts_with("--")) {
      return RefuseArgument(argv[i]);
    }
  }
  return -1;
}

int signalPipe[2] = {-1, -1};
// Set while a byte waits in the pipe: one wakes the loop, more add nothing.
std::atomic<bool> signalPending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnTerminationSignal(int) {
  // Runs on any thread, any number of times at once: it never waits (the pipe does not
  // block, and a full one already holds a byte).
  if (signalPending.exchange(true)) {
    return;
  }
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
  errno = savedErrno;
}

// Boxes and dialogs open above the main window go first, so the handlers that opened them
// return; the main window then closes from its own loop, as through its close button. While
// it is not running yet (a box of the start-up is open), this tries again shortly.
void CloseMainWindow() {
  QWidget* main = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == QLatin1String("RecorderDialog")) {
      main = top;
    }
  }
  for (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != main;
       modal = QApplication::activeModalWidget()) {
    if (!modal->close()) {
      break;
    }
  }
  if (main != nullptr && main->isVisible()) {
    QTimer::singleShot(0, main, &QWidget::close);
  } else {
    QTimer::singleShot(50, qApp, &CloseMainWindow);
  }
}

// SIGINT and SIGTERM close the main window the way its close button does, so a running
// recording ends with complete files and the settings are kept. The window closes once
// however many signals come.
void CloseOnTerminationSignals(QApplication& app) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
    return;
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    // Cleared before the pipe is drained, so a signal from now on wakes the loop again.
    signalPending = false;
    char bytes[64];
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    CloseMainWindow();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Asks the running copy. --stop and --status take nothing else; what --record and --toggle
// leave is Qt's, for the program they start when no copy runs.
int AskRunningCopy(int& argc, char** argv, tonvale::app::RemoteOption option) {
  using tonvale::app::RemoteOption;
  if ((option == RemoteOption::Stop || option == RemoteOption::Status) && argc > 1) {
    return RefuseArgument(argv[1]);
  }
  // Its own application object: the program's needs a display, the question does not.
  QCoreApplication app(argc, argv);
  return tonvale::app::RunRemoteOption(option);
}

}  // namespace

int main(int argc, char** argv) {
  auto remote = tonvale::app::RemoteOption::None;
  if (const int status = HandleOwnOptions(argc, argv, &remote); status >= 0) {
    return status;
  }
  // Diagnostics stay quiet unless QT_LOGGING_RULES asks for them.
  QLoggingCategory::setFilterRules(QStringLiteral("tonvale.*.debug=false"));
  if (remote != tonvale::app::RemoteOption::None) {
    if (const int status = AskRunningCopy(argc, argv, remote);
        status != tonvale::app::kStartProgram) {
      return status;
    }
  }
  // The window goes to the X server through its socket, not through MIT shared memory: with
  // shared memory Qt waits for the server's answer before painting again over what it sent,
  // which for the level meter's small repaints, ~16 a second, cost more than sending the
  // pixels (bench/README.md, "Level meter"). A choice in the environment stands; the programs
  // started later (Play) get the environment as it was.
  const bool shmChosen = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
  if (!shmChosen) {
    qputenv("QT_XCB_NO_MITSHM", "1");
  }
  QApplication app(argc, argv);
  if (!shmChosen) {
    qunsetenv("QT_XCB_NO_MITSHM");
  }
  // Qt has taken its own options out; anything left is not for this program.
  if (argc > 1) {
    return RefuseArgument(argv[1]);
  }
  CloseOnTerminationSignals(app);
  tonvale::app::RecorderApp recorderApp;
  if (remote != tonvale::app::RemoteOption::None) {
    recorderApp.RecordWhenShown();
  }
  return recorderApp.InitInstance();
}
