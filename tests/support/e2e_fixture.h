#pragma once

// One private display and one private sound server with two null sinks, a tone playing into
// the first, for all cases of a test program; every case has a home of its own.

#include <gtest/gtest.h>

#include <optional>

#include "audio_analysis.h"
#include "private_server.h"
#include "program_harness.h"

namespace tonvale::testing {

class E2eTest : public ::testing::Test {
 protected:
  // Sorted by server name, so the program lists "Monitor of tonvale_a" first.
  static constexpr const char* kSinkA = "tonvale_a";
  static constexpr const char* kSinkB = "tonvale_b";
  static constexpr int kToneHz = 1000;  // into kSinkA

  static void SetUpTestSuite() {
    xvfb_.emplace();
    pulse_.emplace(std::vector<std::string>{kSinkA, kSinkB});
    tone_ = pulse_->playTone(kSinkA, kToneHz);
    if (tone_ > 0 && !pulse_->waitPlaying(tone_))
      tone_ = -1;
  }
  static void TearDownTestSuite() {
    pulse_.reset();
    xvfb_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(xvfb_->started() && pulse_->started() && tone_ > 0 && !home.dir().empty());
  }

  static PrivatePulse& pulse() { return *pulse_; }
  // The player of the tone in kSinkA.
  static pid_t suiteTone() { return tone_; }

  // Start Record, then at the count `until` Stop Record, which ends on Ready.
  static void RecordWithHotkeys(ProgramRun& program, const std::string& until = "00:00:02",
                                const std::string& start = "ctrl+alt+r") {
    EXPECT_TRUE(PressKey(start));
    EXPECT_TRUE(program.WaitForLine("Used Time: " + until)) << program.Log();
    EXPECT_TRUE(PressKey("ctrl+alt+s"));
    EXPECT_TRUE(program.WaitForLine("status: Status : Ready", 10s, 1)) << program.Log();
  }
  // SIGTERM closes the program through its close command, which ends with status 0.
  static void Close(ProgramRun& program) {
    program.Terminate();
    EXPECT_EQ(program.WaitExit(), 0) << program.Log();
  }
  // Waits for the program's message box (its diagnostics line and its window, not one of
  // `except`) while the program runs on, and answers it with Return.
  static void AnswerBox(ProgramRun& program, const std::string& title, const std::string& text,
                        const std::vector<std::string>& except = {}) {
    ASSERT_TRUE(program.WaitForLine("box: " + title + " | " + text)) << program.Log();
    const std::string box = WaitForWindow("^" + title + "$", except);
    ASSERT_FALSE(box.empty()) << title;
    EXPECT_TRUE(program.running());
    ASSERT_TRUE(PressKeyInWindow(box, "Return"));
    EXPECT_TRUE(WaitWindowGone(box));
  }

  // Settings of a program that has run before: the hint is off, the line search done, the
  // device chosen by its position alone.
  void SettingsForDevice(const std::string& output, int soundCard = 0,
                         const std::string& config = "config") {
    home.WriteSettings({{"Option/nSoundCaptureIndex", std::to_string(soundCard)},
                        {"Option/strSoundCaptureName", ""},
                        {"Option/nCapturePinIndex", "0"},
                        {"Option/nSearchFlag", "1"},
                        {"Option/b_only_once", "1"},
                        {"Option/output_wav_file", output}},
                       config);
  }
  void ExpectSettings(const std::map<std::string, std::string>& expected) {
    for (const auto& [key, value] : expected) EXPECT_EQ(home.Setting(key), value) << key;
  }

  ProgramHome home;

 private:
  inline static std::optional<PrivateXvfb> xvfb_;
  inline static std::optional<PrivatePulse> pulse_;
  inline static pid_t tone_ = -1;
};

}  // namespace tonvale::testing
