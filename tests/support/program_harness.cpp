#include "program_harness.h"

#include <signal.h>
#include <sys/wait.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "private_server.h"

namespace tonvale::testing {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Asks until it holds or the time is up; whether it held.
bool Poll(std::chrono::milliseconds limit, const std::function<bool()>& holds) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (holds())
      return true;
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(20ms);
  }
}

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

std::string ProgramPath() {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  return std::string(build ? build : ".") + "/bin/sonarelrecorder";
}

ProgramHome::ProgramHome() : dir_(MakeTempDir("tonvale-e2e-")) {}

ProgramHome::~ProgramHome() {
  if (!dir_.empty())
    QDir(Q(dir_)).removeRecursively();
}

void ProgramHome::WriteSettings(const std::map<std::string, std::string>& values,
                                const std::string& config) const {
  QDir().mkpath(Q(configHome(config)));
  QSettings settings(Q(settingsFile(config)), QSettings::IniFormat);
  for (const auto& [key, value] : values) settings.setValue(Q(key), Q(value));
}

std::optional<std::string> ProgramHome::Setting(const std::string& key,
                                                const std::string& config) const {
  QSettings settings(Q(settingsFile(config)), QSettings::IniFormat);
  if (!settings.contains(Q(key)))
    return std::nullopt;
  return settings.value(Q(key)).toString().toStdString();
}

bool ProgramHome::SettingsExist() const {
  return QFileInfo::exists(Q(settingsFile()));
}

ProgramRun::ProgramRun(const ProgramHome& home, std::string config)
    : home_(home), config_(std::move(config)), logPath_(home.path(config_ + ".log")) {}

ProgramRun::~ProgramRun() {
  if (pid_ > 0 && !reaped_)
    StopProcess(pid_);
}

bool ProgramRun::Start(const std::vector<std::string>& arguments) {
  // This process's servers; the home's folders (the default output file lives in HOME); the
  // diagnostics that show the window's state; a real display, not the unit tests' offscreen.
  std::vector<std::string> argv = {"env",
                                   "-u",
                                   "QT_QPA_PLATFORM",
                                   "HOME=" + home_.dir(),
                                   "XDG_CONFIG_HOME=" + home_.configHome(config_),
                                   "TMPDIR=" + home_.dir(),
                                   "QT_LOGGING_RULES=tonvale.status.debug=true",
                                   ProgramPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::remove(logPath_.c_str());
  pid_ = StartProgram(argv, logPath_);
  return pid_ > 0;
}

std::string ProgramRun::Log() const {
  std::ifstream in(logPath_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<std::string> ProgramRun::WaitForLine(const std::string& text,
                                                   std::chrono::milliseconds limit, int skip) {
  std::optional<std::string> found;
  Poll(limit, [&] {
    int seen = 0;
    for (const auto& line : SplitLines(Log())) {
      if (line.find(text) != std::string::npos && seen++ >= skip)
        found = line;
      if (found)
        return true;
    }
    return false;
  });
  return found;
}

std::string ProgramRun::LastAfter(const std::string& prefix) const {
  const auto lines = SplitLines(Log());
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (const auto at = it->find(prefix); at != std::string::npos)
      return it->substr(at + prefix.size());
  }
  return {};
}

int ProgramRun::CountLines(const std::string& text) const {
  const auto lines = SplitLines(Log());
  return int(std::ranges::count_if(
      lines, [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

std::string ProgramRun::WaitForMainWindow(std::chrono::milliseconds limit) {
  // Boxes titled "Tonvale" come only after the window is shown, from device events.
  return WaitForLine("shown", limit) ? WaitForWindow("^Tonvale$", {}, limit) : std::string();
}

void ProgramRun::Terminate() {
  if (pid_ > 0 && !reaped_)
    kill(pid_, SIGTERM);
}

int ProgramRun::WaitExit(std::chrono::milliseconds limit) {
  Poll(limit, [this] { return !running(); });
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
  for (const auto& line : SplitLines(out)) {
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
      windows.push_back(line);
  }
  return windows;
}

std::string WaitForWindow(const std::string& titleRegex, const std::vector<std::string>& except,
                          std::chrono::milliseconds limit) {
  std::string found;
  Poll(limit, [&] {
    for (const auto& window : FindWindows(titleRegex)) {
      if (std::ranges::find(except, window) == except.end())
        found = window;
    }
    return !found.empty();
  });
  return found;
}

bool WaitWindowGone(const std::string& window, std::chrono::milliseconds limit) {
  return Poll(limit, [&] {
    std::string out;
    return RunProgram({"xwininfo", "-id", window}, &out) != 0 ||
           out.find("IsViewable") == std::string::npos;
  });
}

std::optional<Geometry> WindowGeometry(const std::string& window) {
  std::string out;
  Geometry g;
  RunProgram({"xdotool", "getwindowgeometry", "--shell", window}, &out);
  for (const auto& line : SplitLines(out)) {
    const int value = std::atoi(line.c_str() + line.find('=') + 1);
    for (auto [key, field] :
         {std::pair{"X=", &g.x}, {"Y=", &g.y}, {"WIDTH=", &g.width}, {"HEIGHT=", &g.height}}) {
      if (line.starts_with(key))
        *field = value;
    }
  }
  return g.width > 0 && g.height > 0 ? std::optional(g) : std::nullopt;
}

bool PressKey(const std::string& key) {
  return RunProgram({"xdotool", "key", "--clearmodifiers", key}) == 0;
}

bool PressKeyInWindow(const std::string& window, const std::string& key) {
  // Real key events (XTest) to the window once it has the focus; Qt ignores sent events.
  return RunProgram({"xdotool", "windowfocus", "--sync", window}) == 0 && PressKey(key);
}

bool ClickAt(const std::string& window, int x, int y, int button) {
  return RunProgram({"xdotool", "mousemove", "--window", window, std::to_string(x),
                     std::to_string(y), "click", std::to_string(button)}) == 0;
}

bool SaveScreenshot(const std::string& window, const std::string& pngPath) {
  return RunProgram({"import", "-window", window, pngPath}) == 0;
}

Geometry DialogRect(const std::string& window, int x, int y, int width, int height) {
  // The main window is 244 x 156 dialog units.
  const auto g = WindowGeometry(window).value_or(Geometry{});
  return {x * g.width / 244, y * g.height / 156, width * g.width / 244, height * g.height / 156};
}

}  // namespace tonvale::testing
