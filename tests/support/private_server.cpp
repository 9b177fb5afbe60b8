#include "private_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <ranges>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace tonvale::testing {
namespace {

using namespace std::chrono_literals;

// Starts argv[0] from PATH, stdin on /dev/null, stdout and stderr on these descriptors
// (-1: this process's own); its pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, int out, int err) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  for (const auto& [from, to] : {std::pair{out, STDOUT_FILENO}, {err, STDERR_FILENO}}) {
    if (from >= 0)
      posix_spawn_file_actions_adddup2(&actions, from, to);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The words of a command line, split at spaces.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), {}};
}

// Sets the variables ("" unsets); returns their former values.
Environment SetEnvironment(const Environment& values) {
  Environment former;
  for (const auto& [name, value] : values) {
    const char* was = std::getenv(name.c_str());
    former.emplace_back(name, was != nullptr ? was : "");
    value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
  }
  return former;
}

}  // namespace

bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& holds) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!holds()) {
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

pid_t StartProgram(const std::vector<std::string>& argv, const std::string& logPath) {
  const int log =
      logPath.empty() ? -1 : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const pid_t pid = Spawn(argv, log, log);
  if (log >= 0)
    close(log);
  return pid;
}

void StopProcess(pid_t pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  if (!WaitUntil(3s, [pid] { return waitpid(pid, nullptr, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  const pid_t pid = Spawn(argv, fds[1], fds[1]);
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
  close(fds[0]);
  if (output)
    *output = text;
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

PrivatePulse::PrivatePulse(const std::vector<std::string>& nullSinks) {
  const char* chosen = std::getenv("TONVALE_SOUND_SERVER");
  if (chosen != nullptr && std::string_view(chosen) == "pipewire")
    kind_ = SoundServer::PipeWire;
  dir_ = MakeTempDir("tonvale-pulse-");
  if (dir_.empty())
    return;
  server_ = "unix:" + dir_ + "/pulse/native";
  const std::string log = dir_ + "/log";
  const std::string bus = dir_ + "/bus";
  Environment environment = {{"XDG_RUNTIME_DIR", dir_},
                             {"PULSE_RUNTIME_PATH", dir_ + "/pulse"},
                             {"PULSE_SERVER", server_}};
  if (kind_ == SoundServer::PipeWire)
    environment.emplace_back("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus);
  savedEnvironment_ = SetEnvironment(environment);
  const auto start = [&](const std::vector<std::string>& argv) {
    processes_.push_back(StartProgram(argv, log));
  };
  if (kind_ == SoundServer::PulseAudio) {
    start(
        Words("pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no"
              " --log-target=stderr --load=module-native-protocol-unix"));
  } else {
    // The bus, the server, and once its socket is there, its clients.
    start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus});
    WaitUntil(2s, [&] { return access(bus.c_str(), F_OK) == 0; });
    start({"pipewire"});
    WaitUntil(5s, [&] { return access((dir_ + "/pipewire-0").c_str(), F_OK) == 0; });
    start({"wireplumber"});
    start({"pipewire-pulse"});
  }
  ready_ = std::ranges::all_of(processes_, [](pid_t pid) { return pid > 0; }) &&
           WaitUntil(5s, [this] { return pactl({"info"}) == 0; }) &&
           std::ranges::all_of(nullSinks, [this](const auto& s) { return loadNullSink(s) >= 0; });
}

PrivatePulse::~PrivatePulse() {
  for (pid_t pid : players_) StopProcess(pid);
  for (pid_t pid : std::views::reverse(processes_)) StopProcess(pid);
  SetEnvironment(savedEnvironment_);
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
  const bool listed = WaitUntil(2s, [&] {
    std::string sources;
    return pactl({"list", "short", "sources"}, &sources) == 0 &&
           sources.find("\t" + name + ".monitor\t") != std::string::npos;
  });
  return listed ? std::atoi(out.c_str()) : -1;
}

pid_t PrivatePulse::playTone(const std::string& sink, int frequency, int bufferMs) {
  std::string line =
      "gst-launch-1.0 -q audiotestsrc wave=sine volume=0.5 freq=" + std::to_string(frequency) +
      (bufferMs > 0 ? " is-live=false" : " is-live=true") +
      " ! audioconvert ! pulsesink device=" + sink;
  // A generator that is not live into a sink that does not sync to a clock: the player never
  // resyncs (which inserts silence or drops tone).
  if (bufferMs > 0)
    line += " sync=false buffer-time=" + std::to_string(bufferMs * 1000) +
            " latency-time=" + std::to_string(bufferMs * 100);
  return Play(Words(line));
}

pid_t PrivatePulse::playFile(const std::string& sink, const std::string& wavPath) {
  return Play({"paplay", "--device=" + sink, wavPath});
}

pid_t PrivatePulse::Play(const std::vector<std::string>& argv) {
  const pid_t pid = StartProgram(argv);
  if (pid > 0)
    players_.push_back(pid);
  return pid;
}

int PrivatePulse::SinkInputOf(pid_t pid) const {
  std::string streams;
  if (pactl({"list", "sink-inputs"}, &streams) != 0)
    return -1;
  const std::size_t ours = streams.find("application.process.id = \"" + std::to_string(pid) + "\"");
  const std::size_t block = streams.rfind("Sink Input #", ours);
  if (ours == std::string::npos || block == std::string::npos)
    return -1;
  return std::atoi(streams.c_str() + block + 12);
}

bool PrivatePulse::waitPlaying(pid_t pid) {
  return WaitUntil(10s, [&] { return SinkInputOf(pid) >= 0; });
}

bool PrivatePulse::moveToSink(pid_t pid, const std::string& sink) {
  const int index = SinkInputOf(pid);
  return index >= 0 && pactl({"move-sink-input", std::to_string(index), sink}) == 0;
}

void PrivatePulse::stopTone(pid_t pid) {
  StopProcess(pid);
  std::erase(players_, pid);
}

PrivateXvfb::PrivateXvfb() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return;
  // Xvfb takes a free display and writes its number to stdout.
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_ =
      Spawn(Words("Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset"), fds[1], null);
  close(null);
  close(fds[1]);
  std::string number;
  char c;
  while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  close(fds[0]);
  if (!number.empty()) {
    display_ = ":" + number;
    savedEnvironment_ = SetEnvironment({{"DISPLAY", display_}});
  }
}

PrivateXvfb::~PrivateXvfb() {
  StopProcess(pid_);
  SetEnvironment(savedEnvironment_);
}

}  // namespace tonvale::testing
