#include "program_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "private_server.h"

extern char** environ;

namespace tonvale::testing {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The text after the first occurrence of prefix on the last line that has it.
std::string LastAfter(const std::vector<std::string>& lines, const std::string& prefix) {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const auto at = it->find(prefix);
    if (at != std::string::npos) {
      return it->substr(at + prefix.size());
    }
  }
  return {};
}

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

std::string ProgramPath() {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  return std::string(build ? build : ".") + "/bin/sonarelrecorder";
}

// ---------------------------------------------------------------------------------------

ProgramHome::ProgramHome() : dir_(MakeTempDir("tonvale-e2e-")) {
  if (!dir_.empty()) {
    QDir().mkpath(Q(configHome()));
  }
}

ProgramHome::~ProgramHome() {
  if (!dir_.empty()) {
    QDir(Q(dir_)).removeRecursively();
  }
}

void ProgramHome::WriteSettings(const std::map<std::string, std::string>& values,
                                const std::string& config) const {
  QDir().mkpath(Q(configHome(config)));
  QSettings settings(Q(settingsFile(config)), QSettings::IniFormat);
  for (const auto& [key, value] : values) {
    settings.setValue(Q(key), Q(value));
  }
  settings.sync();
}

std::optional<std::string> ProgramHome::Setting(const std::string& key,
                                                const std::string& config) const {
  QSettings settings(Q(settingsFile(config)), QSettings::IniFormat);
  if (!settings.contains(Q(key))) {
    return std::nullopt;
  }
  return settings.value(Q(key)).toString().toStdString();
}

bool ProgramHome::SettingsExist() const {
  return QFileInfo::exists(Q(settingsFile()));
}

// ---------------------------------------------------------------------------------------

ProgramRun::ProgramRun(const ProgramHome& home, std::string config)
    : home_(home), config_(std::move(config)), logPath_(home.path(config_ + ".log")) {}

ProgramRun::~ProgramRun() {
  if (pid_ > 0 && !reaped_) {
    StopProcess(pid_);
  }
}

bool ProgramRun::Start(const std::vector<std::string>& arguments) {
  // The child's environment: this process's servers, the home's folders, the diagnostics
  // that show the window's state, and a real display instead of the unit tests' offscreen.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name != "XDG_CONFIG_HOME" && name != "TMPDIR" && name != "HOME" &&
        name != "QT_QPA_PLATFORM" && name != "QT_LOGGING_RULES") {
      env.push_back(entry);
    }
  }
  // The default output file lives in the home folder: the program's own, here.
  env.push_back("HOME=" + home_.dir());
  env.push_back("XDG_CONFIG_HOME=" + home_.configHome(config_));
  env.push_back("TMPDIR=" + home_.dir());
  env.push_back("QT_LOGGING_RULES=tonvale.status.debug=true");
  std::vector<char*> envp;
  for (auto& e : env) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);

  std::vector<std::string> args = {ProgramPath()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
  }
  return pid_ > 0;
}

std::string ProgramRun::Log() const {
  std::ifstream in(logPath_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ProgramRun::LogLines() const {
  return SplitLines(Log());
}

std::optional<std::string> ProgramRun::WaitForLine(const std::string& text,
                                                   std::chrono::milliseconds limit, int skip) {
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    int seen = 0;
    for (const auto& line : LogLines()) {
      if (line.find(text) != std::string::npos && seen++ >= skip) {
        return line;
      }
    }
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < end);
  return std::nullopt;
}

std::string ProgramRun::LastStatus() const {
  return LastAfter(LogLines(), "tonvale.status: status: ");
}

std::string ProgramRun::LastLists() const {
  return LastAfter(LogLines(), "tonvale.status: lists: ");
}

int ProgramRun::CountLines(const std::string& text) const {
  int count = 0;
  for (const auto& line : LogLines()) {
    count += line.find(text) != std::string::npos ? 1 : 0;
  }
  return count;
}

std::string ProgramRun::WaitForMainWindow(std::chrono::milliseconds limit) {
  if (!WaitForLine("shown", limit)) {
    return {};
  }
  // Boxes titled "Tonvale" come only later, from device events.
  mainWindow_ = WaitForWindow("^Tonvale$", {}, limit);
  return mainWindow_;
}

void ProgramRun::Terminate() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGTERM);
  }
}

int ProgramRun::WaitExit(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (running() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(20ms);
  }
  return reaped_ ? exitCode_ : -2;
}

bool ProgramRun::running() {
  if (pid_ <= 0 || reaped_) {
    return false;
  }
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------

std::vector<std::string> FindWindows(const std::string& titleRegex) {
  std::string out;
  RunProgram({"xdotool", "search", "--onlyvisible", "--name", titleRegex}, &out);
  std::vector<std::string> windows;
  for (const auto& line : SplitLines(out)) {
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
      windows.push_back(line);
    }
  }
  return windows;
}

std::string WaitForWindow(const std::string& titleRegex, const std::vector<std::string>& except,
                          std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    for (const auto& window : FindWindows(titleRegex)) {
      if (std::find(except.begin(), except.end(), window) == except.end()) {
        return window;
      }
    }
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < end);
  return {};
}

bool WaitWindowGone(const std::string& window, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    std::string out;
    if (RunProgram({"xwininfo", "-id", window}, &out) != 0 ||
        out.find("IsViewable") == std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

std::optional<Geometry> WindowGeometry(const std::string& window) {
  std::string out;
  if (RunProgram({"xdotool", "getwindowgeometry", "--shell", window}, &out) != 0) {
    return std::nullopt;
  }
  Geometry g;
  for (const auto& line : SplitLines(out)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      continue;
    }
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X")
      g.x = value;
    if (key == "Y")
      g.y = value;
    if (key == "WIDTH")
      g.width = value;
    if (key == "HEIGHT")
      g.height = value;
  }
  if (g.width <= 0 || g.height <= 0) {
    return std::nullopt;
  }
  return g;
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
  // The main window is 244 x 156 dialog units; one unit is baseX/4 by baseY/8 pixels.
  const auto g = WindowGeometry(window).value_or(Geometry{});
  auto px = [&](int units, int total, int span) { return units * span / total; };
  return {px(x, 244, g.width), px(y, 156, g.height), px(width, 244, g.width),
          px(height, 156, g.height)};
}

}  // namespace tonvale::testing
