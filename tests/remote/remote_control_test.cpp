// The remote control of the real program on a private session bus: --record, --stop,
// --status and --toggle ask the running copy, --record with no copy starts one that records,
// and a notification service hears of each start and stop while nothing waits for one.

#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class RemoteTest : public E2eTest {
 protected:
  static void SetUpTestSuite() {
    E2eTest::SetUpTestSuite();
    busDir_ = MakeTempDir("tonvale-bus-");
    const std::string socket = busDir_ + "/bus";
    bus_ = StartProgram(
        {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket},
        busDir_ + "/log");
    if (WaitUntil(5s, [&] { return access(socket.c_str(), F_OK) == 0; })) {
      setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
    }
  }
  static void TearDownTestSuite() {
    StopProcess(bus_);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::filesystem::remove_all(busDir_);
    E2eTest::TearDownTestSuite();
  }
  void SetUp() override {
    E2eTest::SetUp();
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "no private bus";
  }
  void TearDown() override { StopProcess(notifications_); }

  // The program as a key binding runs it: its exit status, and what it printed.
  static int Remote(const std::string& option, std::string* out = nullptr) {
    return RunProgram({BuildPath("bin/sonarelrecorder"), option}, out);
  }
  static void ExpectStatus(const std::string& line) {
    std::string out;
    EXPECT_EQ(Remote("--status", &out), 0);
    EXPECT_EQ(out, line + "\n");
  }

  pid_t notifications_ = -1;
  inline static std::string busDir_;
  inline static pid_t bus_ = -1;
};

TEST_F(RemoteTest, RecordStatusStopAndToggleDriveTheRunningCopyAndAreAnnounced) {
  const std::string output = home.path("remote.mp3");
  SettingsForDevice(output);
  ProgramRun program(home);
  ASSERT_FALSE(program.Open().empty()) << program.Log();
  ExpectStatus("ready 00:00:00 " + output);

  // No notification service runs.
  EXPECT_EQ(Remote("--record"), 0);
  ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:02")) << program.Log();
  std::string out;
  EXPECT_EQ(Remote("--status", &out), 0);
  EXPECT_THAT(out, AllOf(StartsWith("recording 00:00:0"), EndsWith(" " + output + "\n")));
  EXPECT_EQ(Remote("--stop"), 0);
  EXPECT_EQ(program.LastStatus(), "Status : Ready");
  ExpectTone(output, 2.5, 0.8, kToneHz);

  const std::string log = home.path("notifications.log");
  notifications_ = StartProgram({"/usr/bin/python3", TONVALE_NOTIFICATION_SERVER, log});
  ASSERT_TRUE(WaitUntil(10s, [&] { return ReadFile(log) == "ready\n"; })) << ReadFile(log);
  EXPECT_EQ(Remote("--toggle"), 0);
  EXPECT_TRUE(program.WaitForLine("Used Time: 00:00:01", 10s, 1)) << program.Log();
  EXPECT_EQ(Remote("--toggle"), 0);
  ExpectStatus("ready 00:00:00 " + output);
  // The stop replaces the start's notification.
  const std::string expected =
      "ready\n0 1 Recording started|" + output + "\n1 2 Recording stopped|" + output + "\n";
  EXPECT_TRUE(WaitUntil(5s, [&] { return ReadFile(log) == expected; })) << ReadFile(log);
  Close(program);
}

TEST_F(RemoteTest, WithNoCopyStopAndStatusSaySoAndRecordStartsOneThatRecords) {
  for (const char* option : {"--stop", "--status"}) {
    std::string out;
    EXPECT_EQ(Remote(option, &out), 1);
    EXPECT_EQ(out, "sonarelrecorder: Tonvale is not running\n");
  }
  const std::string output = home.path("started.mp3");
  SettingsForDevice(output);
  ProgramRun program(home);
  ASSERT_TRUE(program.Start({"--record"}));
  ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:02")) << program.Log();
  EXPECT_LT(program.Log().find("shown"), program.Log().find("Recording audio"));
  EXPECT_EQ(Remote("--stop"), 0);
  ExpectTone(output, 2.5, 0.8, kToneHz);
  Close(program);
}

TEST_F(RemoteTest, ACommandIsRefusedAtOnceWhileABoxIsOpen) {
  SettingsForDevice(home.dir());  // a folder: Record answers with a box
  ProgramRun program(home);
  ASSERT_FALSE(program.Open().empty()) << program.Log();
  std::string out;
  EXPECT_EQ(Remote("--record", &out), 1);
  EXPECT_THAT(out, HasSubstr("shows a message"));
  EXPECT_EQ(Remote("--stop", &out), 1);
  EXPECT_THAT(out, HasSubstr("box or dialog of Tonvale is open"));
  AnswerBox(program, "Error", "");
  ExpectStatus("ready 00:00:00 " + home.dir());
  Close(program);
}

}  // namespace
}  // namespace tonvale::testing
