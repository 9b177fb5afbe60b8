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

bool WaitExited(pid_t pid, int timeoutMs, int* status) {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    if (waitpid(pid, status, WNOHANG) == pid)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
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

pid_t StartProgram(const std::vector<std::string>& argv) {
  auto args = ArgvOf(argv);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
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
  if (!WaitExited(pid, 3000, &status)) {
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

PrivatePulse::PrivatePulse(const std::vector<std::string>& nullSinks) {
  dir_ = MakeTempDir("tonvale-pulse-");
  if (dir_.empty())
    return;
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
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("PULSE_RUNTIME_PATH", (dir_ + "/pulse").c_str(), 1);
  server_ = "unix:" + dir_ + "/pulse/native";
  setenv("PULSE_SERVER", server_.c_str(), 1);
  pid_ = StartProgram(argv);
  if (pid_ <= 0)
    return;
  for (int i = 0; i < 100 && !ready_; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ready_ = pactl({"info"}) == 0;
  }
}

PrivatePulse::~PrivatePulse() {
  for (pid_t t : tones_) StopProcess(t);
  StopProcess(pid_);
}

int PrivatePulse::pactl(const std::vector<std::string>& args, std::string* output) const {
  std::vector<std::string> argv = {"pactl", "--server=" + server_};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, output);
}

int PrivatePulse::loadNullSink(const std::string& name, const std::string& description) {
  std::string out;
  int rc =
      pactl({"load-module", "module-null-sink", "sink_name=" + name,
             "sink_properties=device.description=" + (description.empty() ? name : description)},
            &out);
  return rc == 0 ? std::atoi(out.c_str()) : -1;
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
