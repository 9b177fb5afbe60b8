// Tonvale: a desktop sound recorder.

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

#include "app/recorder_app.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM close the main window the way its close button does, so a running
// recording ends with complete files and the settings are kept.
void CloseOnTerminationSignals(QApplication& app) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
    return;
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    char byte;
    [[maybe_unused]] ssize_t got = read(signalPipe[0], &byte, 1);
    // Boxes and dialogs open above the main window go first, so the handlers that opened
    // them return; the main window then closes from its own loop.
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
    if (main != nullptr) {
      QTimer::singleShot(0, main, &QWidget::close);
    } else {
      QApplication::quit();
    }
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Diagnostics stay quiet unless QT_LOGGING_RULES asks for them.
  QLoggingCategory::setFilterRules(QStringLiteral("tonvale.*.debug=false"));
  QApplication app(argc, argv);
  CloseOnTerminationSignals(app);
  tonvale::app::RecorderApp recorderApp;
  return recorderApp.InitInstance();
}
