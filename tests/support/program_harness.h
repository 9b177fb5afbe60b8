#pragma once

// The real program driven from outside: started on a home of its own under this process's
// private display and sound server, followed through its diagnostics on stderr (status
// line, lists, message boxes), its windows found and driven with xdotool.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "private_server.h"

namespace tonvale::testing {

using namespace std::chrono_literals;

std::string BuildPath(const std::string& relative);  // under TONVALE_BUILD_DIR
std::string ReadFile(const std::string& path);

// X windows through xdotool: visible ones whose title matches the regular expression; one
// that is not among `except` (empty on time-out).
std::vector<std::string> FindWindows(const std::string& titleRegex);
std::string WaitForWindow(const std::string& titleRegex,
                          const std::vector<std::string>& except = {},
                          std::chrono::milliseconds limit = 10s);
bool WaitWindowGone(const std::string& window, std::chrono::milliseconds limit = 10s);
// One key (xdotool syntax: "Return", "ctrl+alt+r") to the focused window, or to this one.
bool PressKey(const std::string& key);
bool PressKeyInWindow(const std::string& window, const std::string& key);
// Clicks with the button at a point of the main window given in its dialog units.
bool ClickDialog(const std::string& window, int x, int y, int button = 1);

// A fresh folder for one case. A program run with `config` keeps its settings in
// path(config); all share it as their temporary folder.
class ProgramHome {
 public:
  ProgramHome() : dir_(MakeTempDir("tonvale-e2e-")) {}
  ~ProgramHome() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ProgramHome(const ProgramHome&) = delete;
  ProgramHome& operator=(const ProgramHome&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string settingsFile(const std::string& config = "config") const {
    return path(config) + "/Velmora/sonarelrecorder.conf";
  }
  std::string tempWav() const { return path("qorntemp.wav"); }
  // Values as the program stores them ("Option/nSearchFlag" -> "1"); nothing when absent.
  void WriteSettings(const std::map<std::string, std::string>& values,
                     const std::string& config = "config") const;
  std::optional<std::string> Setting(const std::string& key,
                                     const std::string& config = "config") const;

 private:
  std::string dir_;
};

// One run of the program. The destructor ends it by its pid if it still runs.
class ProgramRun {
 public:
  explicit ProgramRun(const ProgramHome& home, std::string config = "config")
      : home_(home), config_(std::move(config)), logPath_(home.path(config_ + ".log")) {}
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // `environment` goes to env(1) before the home's variables ("--chdir=DIR", "NAME=VALUE").
  bool Start(const std::vector<std::string>& arguments = {},
             const std::vector<std::string>& environment = {});
  // Starts it and waits for its main window, shown with its lists filled; empty on failure.
  std::string Open(const std::vector<std::string>& arguments = {}) {
    return Start(arguments) ? WaitForMainWindow() : std::string();
  }
  // Boxes titled "Tonvale" come only after the window is shown, from device events.
  std::string WaitForMainWindow(std::chrono::milliseconds limit = 10s) {
    return WaitForLine("shown", limit) ? WaitForWindow("^Tonvale$", {}, limit) : std::string();
  }
  pid_t pid() const { return pid_; }

  std::string Log() const { return ReadFile(logPath_); }
  // The first diagnostics line containing text after `skip` such lines; nothing on time-out.
  std::optional<std::string> WaitForLine(const std::string& text,
                                         std::chrono::milliseconds limit = 10s, int skip = 0);
  int CountLines(const std::string& text) const { return int(LinesWith(text).size()); }
  // The last status text and list snapshot (see "status:" and "lists:" lines).
  std::string LastStatus() const { return LastAfter("tonvale.status: status: "); }
  std::string LastLists() const { return LastAfter("tonvale.status: lists: "); }

  // SIGTERM: the window closes as through its close button.
  void Terminate();
  // Exit code, -1 for a signal, -2 when it did not end in time.
  int WaitExit(std::chrono::milliseconds limit = 15s);
  bool running();

 private:
  std::vector<std::string> LinesWith(const std::string& text) const;
  std::string LastAfter(const std::string& prefix) const;

  const ProgramHome& home_;
  std::string config_;
  std::string logPath_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
};

}  // namespace tonvale::testing
