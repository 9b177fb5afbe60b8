#pragma once

// One private display and one private sound server with two null sinks for all cases of a
// test program; every case gets its own home and starts its own copy of the program.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "audio_analysis.h"
#include "private_server.h"
#include "program_harness.h"

namespace tonvale::testing {

class E2eTest : public ::testing::Test {
 protected:
  // Sorted by server name, so the program lists "Monitor of tonvale_a" first.
  static constexpr const char* kSinkA = "tonvale_a";
  static constexpr const char* kSinkB = "tonvale_b";

  static void SetUpTestSuite() {
    xvfb_ = std::make_unique<PrivateXvfb>();
    pulse_ = std::make_unique<PrivatePulse>(std::vector<std::string>{kSinkA, kSinkB});
  }
  static void TearDownTestSuite() {
    pulse_.reset();
    xvfb_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(xvfb_ && xvfb_->started());
    ASSERT_TRUE(pulse_ && pulse_->started());
    ASSERT_TRUE(home.valid());
  }

  static PrivatePulse& pulse() { return *pulse_; }

  // Presses Start Record, waits until the count shows `until`, presses Stop Record and
  // waits for Ready.
  static void RecordWithHotkeys(ProgramRun& program, const std::string& until = "00:00:02",
                                const std::string& start = "ctrl+alt+r",
                                const std::string& stop = "ctrl+alt+s") {
    EXPECT_TRUE(PressKey(start));
    EXPECT_TRUE(program.WaitForLine("Used Time: " + until)) << program.Log();
    EXPECT_TRUE(PressKey(stop));
    EXPECT_TRUE(program.WaitForLine("status: Status : Ready", 10s, 1)) << program.Log();
  }
  // Closes the program through its close command, as SIGTERM does; it ends with status 0.
  static void Close(ProgramRun& program) {
    program.Terminate();
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
  }

  // Settings of a program that has run before: the hint is off, the line search done, the
  // device chosen by its position alone.
  void SettingsForDevice(int soundCard, const std::string& output) {
    home.WriteSettings({{"Option/nSoundCaptureIndex", std::to_string(soundCard)},
                        {"Option/strSoundCaptureName", ""},
                        {"Option/nCapturePinIndex", "0"},
                        {"Option/nSearchFlag", "1"},
                        {"Option/b_only_once", "1"},
                        {"Option/output_wav_file", output}});
  }

  ProgramHome home;

 private:
  inline static std::unique_ptr<PrivateXvfb> xvfb_;
  inline static std::unique_ptr<PrivatePulse> pulse_;
};

}  // namespace tonvale::testing
