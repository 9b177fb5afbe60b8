#include "private_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace tonvale::testing {
namespace {

std::vector<char*> ArgvOf(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// Asks every 20 ms until it holds or timeoutMs have passed; whether it held.
template <typename Holds>
bool WaitFor(int timeoutMs, Holds holds) {
  for (int waited = 0; !holds(); waited += 20) {
    if (waited >= timeoutMs)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr)
    return {};
  return buf.data();
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& logPath) {
  auto args = ArgvOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!logPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void StopProcess(pid_t pid) {
  if (pid <= 0)
    return;
  int status = 0;
  kill(pid, SIGTERM);
  if (!WaitFor(3000, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  int fds[2];
  if (pipe(fds) != 0)
    return -1;
  auto args = ArgvOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  if (output)
    *output = text;
  if (rc != 0)
    return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SoundServer SoundServerUnderTest() {
  const char* chosen = std::getenv("TONVALE_SOUND_SERVER");
  return chosen != nullptr && std::strcmp(chosen, "pipewire") == 0 ? SoundServer::PipeWire
                                                                   : SoundServer::PulseAudio;
}

PrivatePulse::PrivatePulse(const std::vector<std::string>& nullSinks)
    : server_kind_(SoundServerUnderTest()) {
  for (const char* name :
       {"XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS"}) {
    const char* value = std::getenv(name);
    savedEnvironment_.emplace_back(name, value != nullptr ? value : "");
  }
  dir_ = MakeTempDir("tonvale-pulse-");
  if (dir_.empty())
    return;
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("PULSE_RUNTIME_PATH", (dir_ + "/pulse").c_str(), 1);
  server_ = "unix:" + dir_ + "/pulse/native";
  setenv("PULSE_SERVER", server_.c_str(), 1);
  ready_ =
      server_kind_ == SoundServer::PipeWire ? StartPipeWire(nullSinks) : StartPulseAudio(nullSinks);
}

bool PrivatePulse::StartPulseAudio(const std::vector<std::string>& nullSinks) {
  std::vector<std::string> argv = {"pulseaudio",
                                   "-n",
                                   "--daemonize=no",
                                   "--exit-idle-time=-1",
                                   "--use-pid-file=no",
                                   "--log-target=file:" + dir_ + "/log",
                                   "--load=module-native-protocol-unix"};
  for (const auto& sink : nullSinks) {
    argv.push_back("--load=module-null-sink sink_name=" + sink +
                   " sink_properties=device.description=" + sink);
  }
  pid_ = StartProgram(argv);
  return pid_ > 0 && WaitFor(5000, [this] { return pactl({"info"}) == 0; });
}

bool PrivatePulse::StartPipeWire(const std::vector<std::string>& nullSinks) {
  const std::string log = dir_ + "/log";
  const std::string bus = dir_ + "/bus";
  const pid_t dbus = StartProgram(
      {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus}, log);
  if (dbus <= 0)
    return false;
  helpers_.push_back(dbus);
  WaitFor(2000, [&] { return access(bus.c_str(), F_OK) == 0; });
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus).c_str(), 1);
  // The server itself is the last to stop: its clients go first.
  pid_ = StartProgram({"pipewire"}, log);
  if (pid_ <= 0)
    return false;
  // Its clients connect only once its socket is there.
  const std::string socket = dir_ + "/pipewire-0";
  WaitFor(5000, [&] { return access(socket.c_str(), F_OK) == 0; });
  for (const char* helper : {"wireplumber", "pipewire-pulse"}) {
    const pid_t pid = StartProgram({helper}, log);
    if (pid <= 0)
      return false;
    helpers_.push_back(pid);
  }
  if (!WaitFor(5000, [this] { return pactl({"info"}) == 0; }))
    return false;
  for (const auto& sink : nullSinks) {
    if (loadNullSink(sink) < 0)
      return false;
  }
  return true;
}

PrivatePulse::~PrivatePulse() {
  for (pid_t t : tones_) StopProcess(t);
  // PipeWire's clients first, then the server, then the bus.
  for (auto it = helpers_.rbegin(); it != helpers_.rend(); ++it) {
    if (*it != helpers_.front())
      StopProcess(*it);
  }
  StopProcess(pid_);
  if (!helpers_.empty())
    StopProcess(helpers_.front());
  for (const auto& [name, value] : savedEnvironment_) {
    if (value.empty()) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
}

pid_t PrivatePulse::protocolServerPid() const {
  return server_kind_ == SoundServer::PipeWire && !helpers_.empty() ? helpers_.back() : pid_;
}

int PrivatePulse::pactl(const std::vector<std::string>& args, std::string* output) const {
  std::vector<std::string> argv = {"pactl", "--server=" + server_};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, output);
}

int PrivatePulse::loadNullSink(const std::string& name, const std::string& description,
                               const std::vector<std::string>& args) {
  std::string out;
  std::vector<std::string> argv = {
      "load-module", "module-null-sink", "sink_name=" + name,
      "sink_properties=device.description=" + (description.empty() ? name : description)};
  argv.insert(argv.end(), args.begin(), args.end());
  if (pactl(argv, &out) != 0)
    return -1;
  // PipeWire makes the node after it has answered.
  const bool listed = WaitFor(2000, [&] {
    std::string sources;
    return pactl({"list", "short", "sources"}, &sources) == 0 &&
           sources.find("\t" + name + ".monitor\t") != std::string::npos;
  });
  return listed ? std::atoi(out.c_str()) : -1;
}

pid_t PrivatePulse::playTone(const std::string& sink, int frequency, int bufferMs) {
  std::vector<std::string> argv = {"gst-launch-1.0", "-q",
                                   "audiotestsrc",   "is-live=true",
                                   "wave=sine",      "freq=" + std::to_string(frequency),
                                   "volume=0.5",     "!",
                                   "audioconvert",   "!",
                                   "pulsesink",      "device=" + sink};
  if (bufferMs > 0) {
    // Paced by the server alone: a generator that is not live, into a sink that does not
    // sync to a clock, so the player never resyncs (which inserts silence or drops tone).
    argv[3] = "is-live=false";
    argv.push_back("sync=false");
    argv.push_back("buffer-time=" + std::to_string(bufferMs * 1000));
    argv.push_back("latency-time=" + std::to_string(bufferMs * 100));
  }
  pid_t pid = StartProgram(argv);
  if (pid > 0)
    tones_.push_back(pid);
  return pid;
}

pid_t PrivatePulse::playFile(const std::string& sink, const std::string& wavPath) {
  pid_t pid = StartProgram({"paplay", "--device=" + sink, wavPath});
  if (pid > 0)
    tones_.push_back(pid);
  return pid;
}

void PrivatePulse::stopTone(pid_t pid) {
  StopProcess(pid);
  std::erase(tones_, pid);
}

PrivateXvfb::PrivateXvfb() {
  if (const char* d = std::getenv("DISPLAY"))
    oldDisplay_ = d;
  int fds[2];
  if (pipe(fds) != 0)
    return;
  std::vector<std::string> argv = {"Xvfb",      "-displayfd", std::to_string(fds[1]),
                                   "-screen",   "0",          "1280x800x24",
                                   "-nolisten", "tcp",        "-noreset"};
  auto args = ArgvOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string number;
  char c;
  while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  close(fds[0]);
  if (!number.empty()) {
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
}

PrivateXvfb::~PrivateXvfb() {
  StopProcess(pid_);
  if (oldDisplay_.empty()) {
    unsetenv("DISPLAY");
  } else {
    setenv("DISPLAY", oldDisplay_.c_str(), 1);
  }
}

}  // namespace tonvale::testing
