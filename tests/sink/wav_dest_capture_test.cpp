// WAV Dest behind a real capture: a private PulseAudio server plays a tone into a null sink
// and pulsesrc records its monitor, paused for a while in the middle, ended by EOS.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "audio_analysis.h"
#include "private_server.h"
#include "sink_test_env.h"

namespace {

namespace fs = std::filesystem;
using tonvale::testing::AnalyzeAudioFile;
using tonvale::testing::HeaderDurationSeconds;

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(WavDestCapture, PausedRecordingOfAMonitorKeepsOnlyTheRecordedTimeInBothFiles) {
  const std::string registry = tonvale::testing::InitGstWithSinkPlugin();
  ASSERT_FALSE(registry.empty()) << "run through ctest";
  tonvale::testing::PrivatePulse pulse({"tonvale_test"});
  ASSERT_TRUE(pulse.started());
  ASSERT_GT(pulse.playTone("tonvale_test", 1000), 0);
  Sleep(1000);  // let the tone reach the sink

  const std::string dir = tonvale::testing::MakeTempDir("tonvale-capture-");
  const std::string mp3 = dir + "/capture.mp3";
  const std::string wav = dir + "/capture.wav";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(
      "pulsesrc name=capture device=tonvale_test.monitor ! tonvalewavdest name=dest "
      "! filesink name=writer",
      &error);
  ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
  GstElement* dest = gst_bin_get_by_name(GST_BIN(pipeline), "dest");
  GstElement* writer = gst_bin_get_by_name(GST_BIN(pipeline), "writer");
  g_object_set(dest, "location", mp3.c_str(), nullptr);
  g_object_set(writer, "location", wav.c_str(), nullptr);
  gst_object_unref(dest);
  gst_object_unref(writer);

  ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  Sleep(1500);
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  Sleep(1500);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  Sleep(1500);
  gst_element_send_event(pipeline, gst_event_new_eos());
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(message, nullptr) << "no EOS within 20 s";
  EXPECT_EQ(GST_MESSAGE_TYPE(message), GST_MESSAGE_EOS);
  gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);

  // About 3 s recorded; the 1.5 s pause must not be in either file, neither as sound nor as
  // inserted silence.
  for (const std::string& path : {mp3, wav}) {
    SCOPED_TRACE(path);
    const auto a = AnalyzeAudioFile(path);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_GT(a.durationSeconds, 2.4);
    EXPECT_LT(a.durationSeconds, 3.8);
    EXPECT_NEAR(a.dominantFrequencyHz, 1000, 2.0);
    EXPECT_LT(a.longestSilenceSeconds, 0.25);
    // Both headers were completed before EOS reached the application.
    EXPECT_NEAR(HeaderDurationSeconds(path), a.durationSeconds, 0.1);
  }
  fs::remove_all(dir);
  fs::remove_all(registry);
}

}  // namespace
