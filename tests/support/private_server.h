#pragma once

// Private sound and display servers for tests, and the programs tests run. A server points
// this process's environment at itself while it lives and is stopped by its own pid in the
// destructor, so a failing test still cleans up.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tonvale::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;  // "" for unset

enum class SoundServer { PulseAudio, PipeWire };

class PrivatePulse {
 public:
  // A server speaking the PulseAudio protocol with one null sink per name, in a fresh runtime
  // directory: a PulseAudio daemon, or with TONVALE_SOUND_SERVER=pipewire PipeWire,
  // WirePlumber and pipewire-pulse on a private session bus.
  explicit PrivatePulse(const std::vector<std::string>& nullSinks = {"tonvale_test"});
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  bool started() const { return ready_; }
  SoundServer server() const { return kind_; }
  // The process that answers the PulseAudio protocol (pulseaudio or pipewire-pulse).
  pid_t protocolServerPid() const { return processes_.empty() ? -1 : processes_.back(); }
  int pactl(const std::vector<std::string>& args, std::string* output = nullptr) const;
  // Loads a null sink (extra module arguments such as "channels=6" after the name) and
  // waits until its monitor is listed; returns the module index or -1.
  int loadNullSink(const std::string& name, const std::string& description = {},
                   const std::vector<std::string>& args = {});
  // Plays a sine tone, or a WAV file once, into the sink; the player's pid. With `bufferMs`,
  // that much tone stays queued at the server and the player is paced by the server alone,
  // so neither a busy machine nor its clock corrections put gaps into the tone.
  pid_t playTone(const std::string& sink, int frequency, int bufferMs = 0);
  pid_t playFile(const std::string& sink, const std::string& wavPath);
  void stopTone(pid_t pid);
  // Waits until the player's stream is at the server: a player may take seconds to start (a
  // plugin scan). The server may then move the stream when the default sink changes.
  bool waitPlaying(pid_t pid);
  // Moves the player's stream to the sink.
  bool moveToSink(pid_t pid, const std::string& sink);

 private:
  pid_t Play(const std::vector<std::string>& argv);
  // The server's index of the player's stream, or -1.
  int SinkInputOf(pid_t pid) const;

  SoundServer kind_ = SoundServer::PulseAudio;
  Environment savedEnvironment_;
  std::string dir_;
  std::string server_;
  std::vector<pid_t> processes_;  // in the order started, stopped in reverse
  std::vector<pid_t> players_;
  bool ready_ = false;
};

class PrivateXvfb {
 public:
  // Starts Xvfb on a free display and sets DISPLAY meanwhile.
  PrivateXvfb();
  ~PrivateXvfb();
  PrivateXvfb(const PrivateXvfb&) = delete;
  PrivateXvfb& operator=(const PrivateXvfb&) = delete;

  bool started() const { return pid_ > 0 && !display_.empty(); }
  const std::string& display() const { return display_; }

 private:
  std::string display_;
  Environment savedEnvironment_;
  pid_t pid_ = -1;
};

// Runs a program (no shell); its exit status, its stdout and stderr in output.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);
// Starts a program in the background, its stdout and stderr into the log; its pid.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& logPath = {});
void StopProcess(pid_t pid);
std::string MakeTempDir(const std::string& prefix);
// Asks every 20 ms until it holds or the time is up; whether it held.
bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& holds);

}  // namespace tonvale::testing
