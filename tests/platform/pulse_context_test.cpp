#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/pulse/pulse_context.h"
#include "platform/pulse/pulse_lines.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

using tonvale::testing::PrivatePulse;

template <typename Pred>
bool WaitFor(Pred pred, int ms = 5000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (pred())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

std::shared_ptr<PulseContext> Connected() {
  std::shared_ptr<PulseContext> context;
  EXPECT_EQ(PulseContext::Connect(&context), S_OK);
  return context;
}

TEST(PulseContextTest, UnreachableServerIsRefused) {
  setenv("PULSE_SERVER", "unix:/nonexistent/tonvale/native", 1);
  std::shared_ptr<PulseContext> context;
  EXPECT_EQ(PulseContext::Connect(&context), E_FAIL);
  EXPECT_EQ(context, nullptr);
}

// A server that accepts the connection and never answers must not hold the caller up.
TEST(PulseContextTest, SilentServerGivesUpAfterTheTimeout) {
  const std::string dir = tonvale::testing::MakeTempDir("tonvale-silent-");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/native";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

  std::shared_ptr<PulseContext> context;
  EXPECT_EQ(PulseContext::Connect(&context, 300), E_ABORT);
  EXPECT_EQ(context, nullptr);
  close(fd);
  unlink(path.c_str());
  rmdir(dir.c_str());
}

TEST(PulseContextTest, LevelsRoundTripClampAndFollowTheLinesSource) {
  PrivatePulse pulse({"one"});
  ASSERT_TRUE(pulse.started());
  auto context = Connected();
  ASSERT_NE(context, nullptr);
  auto selection = std::make_shared<PulseLineSelection>(
      std::vector<PulseLine>{{"Monitor", "one.monitor", ""}, {"Gone", "missing.source", ""}});
  PulseLineMixer mixer(context, selection, 0);

  struct Case {
    double put;
    double expected;
  } cases[] = {{0.5, 0.5}, {0.0, 0.0}, {1.0, 1.0}, {1.7, 1.0}, {-0.3, 0.0}, {0.25, 0.25}};
  for (const auto& c : cases) {
    ASSERT_EQ(mixer.put_MixLevel(c.put), S_OK) << c.put;
    double level = -1;
    ASSERT_EQ(mixer.get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, c.expected, 0.01) << c.put;
  }
  EXPECT_EQ(mixer.put_MixLevel(std::nan("")), E_INVALIDARG);

  // The server's own view agrees: 50% on every channel.
  ASSERT_EQ(mixer.put_MixLevel(0.5), S_OK);
  std::string out;
  ASSERT_EQ(pulse.pactl({"get-source-volume", "one.monitor"}, &out), 0);
  EXPECT_NE(out.find("50%"), std::string::npos) << out;
  EXPECT_EQ(out.find("100%"), std::string::npos) << out;

  // A level above normal set elsewhere reads as full.
  ASSERT_EQ(pulse.pactl({"set-source-volume", "one.monitor", "150%"}), 0);
  double level = 0;
  ASSERT_EQ(mixer.get_MixLevel(&level), S_OK);
  EXPECT_DOUBLE_EQ(level, 1.0);

  PulseLineMixer gone(context, selection, 1);
  EXPECT_EQ(gone.get_MixLevel(&level), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_TRUE(Failed(gone.put_MixLevel(0.5)));
  EXPECT_EQ(mixer.get_MixLevel(nullptr), E_POINTER);
}

TEST(PulseContextTest, EnablingALineSwitchesTheRecordedSource) {
  PrivatePulse pulse({"one", "two"});
  ASSERT_TRUE(pulse.started());
  auto context = Connected();
  ASSERT_NE(context, nullptr);
  auto selection = std::make_shared<PulseLineSelection>(std::vector<PulseLine>{
      {"One", "one.monitor", ""}, {"Two", "two.monitor", ""}, {"Port", "one.monitor", "nope"}});
  auto pins = MakePulseInputPins(context, selection);
  ASSERT_EQ(pins.size(), 3u);
  std::vector<std::shared_ptr<AudioInputMixer>> mixers;
  for (auto& pin : pins) {
    std::shared_ptr<AudioInputMixer> m;
    ASSERT_EQ(pin->QueryMixer(&m), S_OK);
    mixers.push_back(m);
  }
  EXPECT_EQ(selection->source(), "one.monitor");
  ASSERT_EQ(mixers[1]->put_Enable(true), S_OK);
  EXPECT_EQ(selection->source(), "two.monitor");
  ASSERT_EQ(mixers[0]->put_Enable(false), S_OK);  // not the current line: no change
  EXPECT_EQ(selection->source(), "two.monitor");
  ASSERT_EQ(mixers[1]->put_Enable(false), S_OK);
  EXPECT_EQ(selection->source(), "one.monitor");
  // A port the source refuses, or a source that is gone, is reported; the line stays chosen
  // so that recording never falls back to another line unnoticed.
  EXPECT_TRUE(Failed(mixers[2]->put_Enable(true)));
  EXPECT_EQ(selection->current(), 2);
  ASSERT_EQ(pulse.pactl({"unload-module", "module-null-sink"}), 0);
  // PipeWire takes the nodes away after it has answered.
  ASSERT_TRUE(WaitFor([&] {
    std::string sources;
    return pulse.pactl({"list", "short", "sources"}, &sources) == 0 &&
           sources.find("two.monitor") == std::string::npos;
  }));
  EXPECT_EQ(mixers[1]->put_Enable(true), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(selection->source(), "two.monitor");
}

TEST(PulseContextTest, FrozenServerTimesOutAndTheConnectionStaysUsable) {
  PrivatePulse pulse({"one"});
  ASSERT_TRUE(pulse.started());
  const pid_t server = pulse.protocolServerPid();
  ASSERT_GT(server, 0);
  auto context = Connected();
  ASSERT_NE(context, nullptr);
  auto selection =
      std::make_shared<PulseLineSelection>(std::vector<PulseLine>{{"One", "one.monitor", ""}});
  PulseLineMixer mixer(context, selection, 0);

  ASSERT_EQ(kill(server, SIGSTOP), 0);
  PulseSnapshot snapshot;
  EXPECT_EQ(context->QuerySnapshot(&snapshot, 300), E_ABORT);
  double level = 0;
  EXPECT_EQ(mixer.get_MixLevel(&level), E_ABORT);
  ASSERT_EQ(kill(server, SIGCONT), 0);

  // The abandoned requests leave nothing behind that breaks later ones.
  ASSERT_EQ(context->QuerySnapshot(&snapshot), S_OK);
  EXPECT_EQ(snapshot.sinks.size(), 1u);
  ASSERT_EQ(mixer.put_MixLevel(0.5), S_OK);
  ASSERT_EQ(mixer.get_MixLevel(&level), S_OK);
  EXPECT_NEAR(level, 0.5, 0.01);
}

TEST(PulseContextTest, WatchOfADeviceAlreadyGoneReportsItAtOnce) {
  PrivatePulse pulse({"base"});
  ASSERT_TRUE(pulse.started());
  auto context = Connected();
  ASSERT_NE(context, nullptr);
  std::atomic<int> lost{0};
  auto watch = context->WatchPresence(PulseFacility::Card, "no.such.card", 42,
                                      [&](bool present) { lost += present ? 0 : 1; });
  EXPECT_TRUE(WaitFor([&] { return lost.load() == 1; }));
}

}  // namespace
}  // namespace tonvale::platform
