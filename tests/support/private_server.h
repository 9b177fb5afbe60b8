#pragma once

// Private sound and display servers for tests. Each fixture starts its own server process
// in a fresh runtime directory, points this process's environment at it, and stops that
// process (by its own pid) in its destructor, so a failing test still cleans up.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tonvale::testing {

enum class SoundServer { PulseAudio, PipeWire };
// The server the sound tests run against: PipeWire (with pipewire-pulse) when
// TONVALE_SOUND_SERVER is "pipewire", else PulseAudio.
SoundServer SoundServerUnderTest();

class PrivatePulse {
 public:
  // Starts a sound server that speaks the PulseAudio protocol (SoundServerUnderTest(): a
  // PulseAudio daemon, or PipeWire, WirePlumber and pipewire-pulse on a private session bus)
  // with one null sink per name. Sets PULSE_SERVER and XDG_RUNTIME_DIR (and, for PipeWire,
  // DBUS_SESSION_BUS_ADDRESS) for this process until it is destroyed. started() tells
  // whether it came up.
  explicit PrivatePulse(const std::vector<std::string>& nullSinks = {"tonvale_test"});
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  bool started() const { return pid_ > 0 && ready_; }
  // The process that answers the PulseAudio protocol (pulseaudio or pipewire-pulse).
  pid_t protocolServerPid() const;
  const std::string& serverAddress() const { return server_; }
  const std::string& runtimeDir() const { return dir_; }
  // Runs pactl against this server; returns its exit status and fills output.
  int pactl(const std::vector<std::string>& args, std::string* output = nullptr) const;
  SoundServer server() const { return server_kind_; }
  // Loads another null sink (extra module arguments such as "channels=6" after the name)
  // and waits until its monitor is listed; returns the module index or -1.
  int loadNullSink(const std::string& name, const std::string& description = {},
                   const std::vector<std::string>& args = {});
  // Starts a process that plays a sine tone into the sink until stopTone(); returns its pid.
  // With `bufferMs`, the player keeps that much audio queued at the server instead of
  // pulsesink's 200 ms and is paced by the server alone, so neither a busy machine nor the
  // player's own clock corrections put gaps into the tone.
  pid_t playTone(const std::string& sink, int frequency, int bufferMs = 0);
  // Plays a WAV file (its own format and channel layout) into the sink once, or until
  // stopTone(); returns the player's pid.
  pid_t playFile(const std::string& sink, const std::string& wavPath);
  void stopTone(pid_t pid);

 private:
  bool StartPulseAudio(const std::vector<std::string>& nullSinks);
  bool StartPipeWire(const std::vector<std::string>& nullSinks);

  SoundServer server_kind_ = SoundServer::PulseAudio;
  std::vector<std::pair<std::string, std::string>> savedEnvironment_;  // name, value ("" unset)
  std::string dir_;
  std::string server_;
  pid_t pid_ = -1;
  // PipeWire's helpers, stopped after the main process in reverse order.
  std::vector<pid_t> helpers_;
  bool ready_ = false;
  std::vector<pid_t> tones_;
};

class PrivateXvfb {
 public:
  // Starts Xvfb on a free display and sets DISPLAY for this process.
  PrivateXvfb();
  ~PrivateXvfb();
  PrivateXvfb(const PrivateXvfb&) = delete;
  PrivateXvfb& operator=(const PrivateXvfb&) = delete;

  bool started() const { return pid_ > 0 && !display_.empty(); }
  const std::string& display() const { return display_; }

 private:
  std::string display_;
  std::string oldDisplay_;
  pid_t pid_ = -1;
};

// Runs a program (no shell) with the current environment; returns its exit status.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);
// Starts a program in the background; returns its pid (stop it with StopProcess). With a
// log path, its stdout and stderr go there.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& logPath = {});
void StopProcess(pid_t pid);
// A fresh temporary directory (removed by the caller or left in /tmp for inspection).
std::string MakeTempDir(const std::string& prefix);

}  // namespace tonvale::testing
