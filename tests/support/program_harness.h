#pragma once

// Running the real program from outside: start it with chosen settings under the private
// display and sound server of this process's environment, follow what its window shows
// through its diagnostics on stderr (status line, lists, message boxes), find and drive its
// windows with xdotool, and read what it stored.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tonvale::testing {

using namespace std::chrono_literals;

std::string ProgramPath();

// A fresh home for one run: settings folder, temporary folder, output files.
class ProgramHome {
 public:
  ProgramHome();
  ~ProgramHome();
  ProgramHome(const ProgramHome&) = delete;
  ProgramHome& operator=(const ProgramHome&) = delete;

  bool valid() const { return !dir_.empty(); }
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // A program started on this home keeps its settings in configHome(config); further
  // copies can have folders of their own, and share the temporary folder.
  std::string configHome(const std::string& config = "config") const { return path(config); }
  std::string settingsFile(const std::string& config = "config") const {
    return configHome(config) + "/Velmora/sonarelrecorder.conf";
  }
  std::string tempWav() const { return path("qorntemp.wav"); }

  // Stores values ("Option/nSearchFlag" -> "1") as the program reads them.
  void WriteSettings(const std::map<std::string, std::string>& values,
                     const std::string& config = "config") const;
  // A stored value, or nothing when it is absent.
  std::optional<std::string> Setting(const std::string& key,
                                     const std::string& config = "config") const;
  bool SettingsExist() const;

 private:
  std::string dir_;
};

// One run of the program. The destructor ends it by its pid if it still runs.
class ProgramRun {
 public:
  explicit ProgramRun(const ProgramHome& home, std::string config = "config");
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Starts the program with these command-line arguments.
  bool Start(const std::vector<std::string>& arguments = {});
  pid_t pid() const { return pid_; }

  // All diagnostics so far.
  std::string Log() const;
  // Waits for a diagnostics line that contains text, counting only lines after the first
  // `skip` matching ones; returns the line or nothing on time-out.
  std::optional<std::string> WaitForLine(const std::string& text,
                                         std::chrono::milliseconds limit = 10s, int skip = 0);
  // The last status text and list snapshot (see "status:" and "lists:" lines).
  std::string LastStatus() const { return LastAfter("tonvale.status: status: "); }
  std::string LastLists() const { return LastAfter("tonvale.status: lists: "); }
  int CountLines(const std::string& text) const;

  // The main window, once it is shown with its lists filled; empty on time-out.
  std::string WaitForMainWindow(std::chrono::milliseconds limit = 10s);

  // SIGTERM: the window closes as through its close button.
  void Terminate();
  // Exit code, -1 for a signal, -2 when it did not end in time.
  int WaitExit(std::chrono::milliseconds limit = 15s);
  bool running();

 private:
  std::string LastAfter(const std::string& prefix) const;

  const ProgramHome& home_;
  std::string config_;
  std::string logPath_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
};

// X windows through xdotool.
struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};
// Visible windows whose title matches the regular expression.
std::vector<std::string> FindWindows(const std::string& titleRegex);
// A visible window with this title that is not among `except`; empty on time-out.
std::string WaitForWindow(const std::string& titleRegex,
                          const std::vector<std::string>& except = {},
                          std::chrono::milliseconds limit = 10s);
bool WaitWindowGone(const std::string& window, std::chrono::milliseconds limit = 10s);
std::optional<Geometry> WindowGeometry(const std::string& window);
// Sends one key (xdotool syntax: "Return", "ctrl+alt+r") to the focused window.
bool PressKey(const std::string& key);
bool PressKeyInWindow(const std::string& window, const std::string& key);
// Clicks with the given button at a point of the window.
bool ClickAt(const std::string& window, int x, int y, int button = 1);
// Saves the window's pixels as PNG.
bool SaveScreenshot(const std::string& window, const std::string& pngPath);

// Dialog units of the main window (its font's base units) to pixels of this display.
Geometry DialogRect(const std::string& window, int x, int y, int width, int height);

}  // namespace tonvale::testing
