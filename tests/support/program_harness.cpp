#include "program_harness.h"

#include <signal.h>
#include <sys/wait.h>

#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "private_server.h"

namespace tonvale::testing {
namespace {

const auto Q = [](const std::string& s) { return QString::fromStdString(s); };

}  // namespace

std::string BuildPath(const std::string& relative) {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  return std::string(build ? build : ".") + "/" + relative;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void ProgramHome::WriteSettings(const std::map<std::string, std::string>& values,
                                const std::string& config) const {
  QSettings settings(Q(settingsFile(config)), QSettings::IniFormat);
  for (const auto& [key, value] : values) settings.setValue(Q(key), Q(value));
}

std::optional<std::string> ProgramHome::Setting(const std::string& key,
                                                const std::string& config) const {
  QSettings settings(Q(settingsFile(config)), QSettings::IniFormat);
  return settings.contains(Q(key)) ? std::optional(settings.value(Q(key)).toString().toStdString())
                                   : std::nullopt;
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0 && !reaped_)
    StopProcess(pid_);
}

bool ProgramRun::Start(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment) {
  // This process's servers; the home's folders (the default output file lives in HOME); the
  // diagnostics that show the window's state; a real display, not the unit tests' offscreen.
  std::vector<std::string> argv = {"env", "-u", "QT_QPA_PLATFORM"};
  argv.insert(argv.end(), environment.begin(), environment.end());
  argv.insert(argv.end(), {"HOME=" + home_.dir(), "XDG_CONFIG_HOME=" + home_.path(config_),
                           "TMPDIR=" + home_.dir(), "QT_LOGGING_RULES=tonvale.status.debug=true",
                           BuildPath("bin/sonarelrecorder")});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::remove(logPath_.c_str());
  pid_ = StartProgram(argv, logPath_);
  return pid_ > 0;
}

std::vector<std::string> ProgramRun::LinesWith(const std::string& text) const {
  std::vector<std::string> lines;
  std::istringstream in(Log());
  for (std::string line; std::getline(in, line);) {
    if (line.find(text) != std::string::npos)
      lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> ProgramRun::WaitForLine(const std::string& text,
                                                   std::chrono::milliseconds limit, int skip) {
  std::vector<std::string> lines;
  WaitUntil(limit, [&] { return int((lines = LinesWith(text)).size()) > skip; });
  return int(lines.size()) > skip ? std::optional(lines[std::size_t(skip)]) : std::nullopt;
}

std::string ProgramRun::LastAfter(const std::string& prefix) const {
  const auto lines = LinesWith(prefix);
  return lines.empty() ? "" : lines.back().substr(lines.back().find(prefix) + prefix.size());
}

void ProgramRun::Terminate() {
  if (pid_ > 0 && !reaped_)
    kill(pid_, SIGTERM);
}

int ProgramRun::WaitExit(std::chrono::milliseconds limit) {
  WaitUntil(limit, [this] { return !running(); });
  return reaped_ ? exitCode_ : -2;
}

bool ProgramRun::running() {
  int status = 0;
  if (pid_ <= 0 || reaped_ || waitpid(pid_, &status, WNOHANG) != pid_)
    return pid_ > 0 && !reaped_;
  reaped_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return false;
}

std::vector<std::string> FindWindows(const std::string& titleRegex) {
  std::string out;
  RunProgram({"xdotool", "search", "--onlyvisible", "--name", titleRegex}, &out);
  std::vector<std::string> windows;
  std::istringstream in(out);
  for (std::string word; in >> word;) {
    if (word.find_first_not_of("0123456789") == std::string::npos)
      windows.push_back(word);
  }
  return windows;
}

std::string WaitForWindow(const std::string& titleRegex, const std::vector<std::string>& except,
                          std::chrono::milliseconds limit) {
  std::string found;
  WaitUntil(limit, [&] {
    for (const auto& window : FindWindows(titleRegex)) {
      if (std::ranges::find(except, window) == except.end())
        found = window;
    }
    return !found.empty();
  });
  return found;
}

bool WaitWindowGone(const std::string& window, std::chrono::milliseconds limit) {
  return WaitUntil(limit, [&] {
    std::string out;
    return RunProgram({"xwininfo", "-id", window}, &out) != 0 ||
           out.find("IsViewable") == std::string::npos;
  });
}

bool PressKey(const std::string& key) {
  return RunProgram({"xdotool", "key", "--clearmodifiers", key}) == 0;
}

bool PressKeyInWindow(const std::string& window, const std::string& key) {
  // Real key events (XTest) to the window once it has the focus; Qt ignores sent events.
  return RunProgram({"xdotool", "windowfocus", "--sync", window}) == 0 && PressKey(key);
}

bool ClickDialog(const std::string& window, int x, int y, int button) {
  std::string out;
  int width = 0;
  int height = 0;
  RunProgram({"xdotool", "getwindowgeometry", "--shell", window}, &out);
  std::sscanf(out.c_str(), "WINDOW=%*d X=%*d Y=%*d WIDTH=%d HEIGHT=%d", &width, &height);
  // The main window is 244 x 156 dialog units.
  return width > 0 &&
         RunProgram({"xdotool", "mousemove", "--window", window, std::to_string(x * width / 244),
                     std::to_string(y * height / 156), "click", std::to_string(button)}) == 0;
}

}  // namespace tonvale::testing
