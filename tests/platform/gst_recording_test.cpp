// Recording through the real GStreamer graph, the real sink plugin and a private PulseAudio
// server, with the chain built the way the program builds it.

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "audio_analysis.h"
#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/media_factory_gst.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

using namespace std::chrono_literals;
using testing::AnalyzeAudioFile;
using testing::HeaderDurationSeconds;

constexpr int kToneHz = 1000;

struct Event {
  long code;
  std::intptr_t param1;
  std::string text;
};

class GstRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pulse_.started());
    dir_ = testing::MakeTempDir("tonvale-graph-");
    ASSERT_FALSE(dir_.empty());
    ASSERT_GT(pulse_.playTone("tonvale_test", kToneHz), 0);
    capture_ = MakeCapture("tonvale_test.monitor");
    ASSERT_EQ(factory_.CreateFilterGraph(&graph_), S_OK);
    ASSERT_EQ(graph_->QueryMediaControl(&control_), S_OK);
    ASSERT_EQ(graph_->QueryMediaEvent(&events_), S_OK);
    ASSERT_EQ(events_->SetNotifyWindow([this](std::intptr_t) { ++notified_; }, 0), S_OK);
    ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
    // Let the tone reach the null sink before anything is recorded.
    std::this_thread::sleep_for(1500ms);
  }

  void TearDown() override {
    if (events_)
      events_->SetNotifyWindow({}, 0);
    std::filesystem::remove_all(dir_);
  }

  std::shared_ptr<GstCaptureFilter> MakeCapture(const std::string& source) {
    return std::make_shared<GstCaptureFilter>(std::vector<std::shared_ptr<Pin>>{}, [source] {
      return CaptureSource{source, {}};
    });
  }

  static std::shared_ptr<Pin> FirstOutputPin(const std::shared_ptr<Filter>& filter) {
    std::unique_ptr<PinEnumerator> pins;
    if (Failed(filter->EnumPins(&pins)))
      return nullptr;
    std::shared_ptr<Pin> pin;
    while (pins->Next(&pin) == S_OK) {
      PinDirection direction{};
      if (pin->QueryDirection(&direction) == S_OK && direction == PinDirection::Output)
        return pin;
    }
    return nullptr;
  }

  // The program's Record: hand-off value, sink, File Writer, file name, Render.
  HRESULT BuildChain(const std::string& mp3, const std::string& wav) {
    QSettings handOff(QString::fromLatin1(kHandOffOrganisation),
                      QString::fromLatin1(kHandOffApplication));
    handOff.setValue(QString::fromLatin1(kHandOffKey), QString::fromStdString(mp3));
    handOff.sync();
    HRESULT hr = factory_.CreateFilter(kSinkClassId, &sink_);
    if (Failed(hr))
      return hr;
    std::shared_ptr<FileSinkFilter> fileSink;
    if (Failed(hr = factory_.CreateFileWriter(&fileSink)))
      return hr;
    if (Failed(hr = fileSink->QueryFilter(&writer_)))
      return hr;
    if (Failed(hr = graph_->AddFilter(sink_, "WAV Dest")))
      return hr;
    if (Failed(hr = graph_->AddFilter(writer_, "File Writer")))
      return hr;
    fileSink->SetMode(FileSinkFilter::kOverwrite);
    if (Failed(hr = fileSink->SetFileName(wav)))
      return hr;
    return graph_->Render(FirstOutputPin(capture_));
  }

  // The program's Stop.
  void StopRecording() {
    EXPECT_EQ(control_->StopWhenReady(), S_OK);
    EXPECT_EQ(graph_->RemoveFilter(sink_), S_OK);
    EXPECT_EQ(graph_->RemoveFilter(writer_), S_OK);
    sink_.reset();
    writer_.reset();
  }

  std::vector<Event> DrainEvents() {
    std::vector<Event> read;
    long code = 0;
    std::intptr_t p1 = 0;
    std::intptr_t p2 = 0;
    while (events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
      read.push_back({code, p1, ErrorEventText(code, p2)});
      events_->FreeEventParams(code, p1, p2);
    }
    return read;
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Length within [shortest, longest] give or take 0.15 s (fragment and encoder edges).
  static void ExpectRecordingBetween(const std::string& path, double shortest, double longest) {
    SCOPED_TRACE(path);
    const auto audio = AnalyzeAudioFile(path);
    ASSERT_TRUE(audio.ok) << audio.error;
    EXPECT_GE(audio.durationSeconds, shortest - 0.15);
    EXPECT_LE(audio.durationSeconds, longest + 0.15);
    EXPECT_NEAR(audio.dominantFrequencyHz, kToneHz, 15);
    EXPECT_LT(audio.longestSilenceSeconds, 0.1);
    EXPECT_NEAR(HeaderDurationSeconds(path), audio.durationSeconds, 0.1);
  }

  static void ExpectRecording(const std::string& path, double seconds) {
    SCOPED_TRACE(path);
    const auto audio = AnalyzeAudioFile(path);
    ASSERT_TRUE(audio.ok) << audio.error;
    EXPECT_NEAR(audio.durationSeconds, seconds, 0.3);
    EXPECT_NEAR(audio.dominantFrequencyHz, kToneHz, 15);
    // No hole where the recording was paused (nor anywhere else).
    EXPECT_LT(audio.longestSilenceSeconds, 0.1);
    // The header was finished: its length agrees with the audio.
    EXPECT_NEAR(HeaderDurationSeconds(path), audio.durationSeconds, 0.1);
  }

  testing::PrivatePulse pulse_;
  GstMediaFactory factory_;
  std::string dir_;
  std::shared_ptr<GstCaptureFilter> capture_;
  std::shared_ptr<GraphBuilder> graph_;
  std::shared_ptr<MediaControl> control_;
  std::shared_ptr<MediaEvent> events_;
  std::shared_ptr<Filter> sink_;
  std::shared_ptr<Filter> writer_;
  std::atomic<int> notified_{0};
};

TEST_F(GstRecordingTest, PausedTimeIsLeftOutAndASecondRecordingInTheSameGraphWorks) {
  // The recorded length lies between the time the graph surely ran (from each Run's return to
  // the next Pause or Stop call) and the time it may have run (from each Run's call to the
  // return of the next Pause or Stop); a busy machine widens the window, never the check.
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  ASSERT_EQ(BuildChain(Path("one.mp3"), Path("one.wav")), S_OK);
  const auto runCalled = Clock::now();
  ASSERT_GE(control_->Run(), 0);
  const auto runReturned = Clock::now();
  std::this_thread::sleep_for(1500ms);
  const auto pauseCalled = Clock::now();
  EXPECT_GE(control_->Pause(), 0);
  const auto pauseReturned = Clock::now();
  std::this_thread::sleep_for(1s);
  const auto resumeCalled = Clock::now();
  ASSERT_GE(control_->Run(), 0);
  const auto resumeReturned = Clock::now();
  std::this_thread::sleep_for(1500ms);
  const auto stopCalled = Clock::now();
  StopRecording();
  const double surely = seconds(pauseCalled - runReturned) + seconds(stopCalled - resumeReturned);
  const double maybe = seconds(pauseReturned - runCalled) + seconds(stopCalled - resumeCalled);
  ExpectRecordingBetween(Path("one.mp3"), surely, maybe);
  ExpectRecordingBetween(Path("one.wav"), surely, maybe);

  ASSERT_EQ(BuildChain(Path("two.mp3"), Path("two.wav")), S_OK);
  const auto secondCalled = Clock::now();
  ASSERT_GE(control_->Run(), 0);
  const auto secondReturned = Clock::now();
  std::this_thread::sleep_for(1s);
  const auto secondStop = Clock::now();
  StopRecording();
  ExpectRecordingBetween(Path("two.mp3"), seconds(secondStop - secondReturned),
                         seconds(secondStop - secondCalled));
  ExpectRecordingBetween(Path("two.wav"), seconds(secondStop - secondReturned),
                         seconds(secondStop - secondCalled));
  for (const auto& e : DrainEvents()) ADD_FAILURE() << "unexpected event " << e.code << e.text;
}

TEST_F(GstRecordingTest, StopWhilePausedKeepsOnlyTheRecordedPart) {
  ASSERT_EQ(BuildChain(Path("p.mp3"), Path("p.wav")), S_OK);
  ASSERT_GE(control_->Run(), 0);
  std::this_thread::sleep_for(1500ms);
  EXPECT_GE(control_->Pause(), 0);
  std::this_thread::sleep_for(1500ms);
  StopRecording();
  ExpectRecording(Path("p.mp3"), 1.5);
  ExpectRecording(Path("p.wav"), 1.5);
}

// Closing the program stops the graph at once, and a graph may be released while it runs:
// either way the files must come out complete.
TEST_F(GstRecordingTest, FilesAreCompleteHoweverTheRecordingEnds) {
  enum class End { StopAtOnce, ReleaseRunningGraph };
  for (End end : {End::StopAtOnce, End::ReleaseRunningGraph}) {
    SCOPED_TRACE(static_cast<int>(end));
    const std::string mp3 = Path("end" + std::to_string(static_cast<int>(end)) + ".mp3");
    const std::string wav = mp3 + ".wav";
    if (!graph_) {
      ASSERT_EQ(factory_.CreateFilterGraph(&graph_), S_OK);
      ASSERT_EQ(graph_->QueryMediaControl(&control_), S_OK);
      ASSERT_EQ(graph_->QueryMediaEvent(&events_), S_OK);
      ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
    }
    ASSERT_EQ(BuildChain(mp3, wav), S_OK);
    ASSERT_GE(control_->Run(), 0);
    std::this_thread::sleep_for(1500ms);
    if (end == End::StopAtOnce) {
      EXPECT_GE(control_->Stop(), 0);
      StopRecording();
    } else {
      sink_.reset();
      writer_.reset();
      control_.reset();
      events_.reset();
      graph_.reset();
    }
    ExpectRecording(mp3, 1.5);
    ExpectRecording(wav, 1.5);
  }
}

TEST_F(GstRecordingTest, LeftoversOfAFailedBuildDoNotDisturbTheNextRecording) {
  // An earlier build that never got rendered leaves its sink and File Writer in the graph.
  ASSERT_EQ(factory_.CreateFilter(kSinkClassId, &sink_), S_OK);
  std::shared_ptr<FileSinkFilter> staleWriter;
  ASSERT_EQ(factory_.CreateFileWriter(&staleWriter), S_OK);
  std::shared_ptr<Filter> staleWriterFilter;
  ASSERT_EQ(staleWriter->QueryFilter(&staleWriterFilter), S_OK);
  ASSERT_EQ(graph_->AddFilter(sink_, "WAV Dest"), S_OK);
  ASSERT_EQ(graph_->AddFilter(staleWriterFilter, "File Writer"), S_OK);

  ASSERT_EQ(BuildChain(Path("new.mp3"), Path("new.wav")), S_OK);
  ASSERT_GE(control_->Run(), 0);
  std::this_thread::sleep_for(1s);
  StopRecording();
  ExpectRecording(Path("new.mp3"), 1.0);
  ExpectRecording(Path("new.wav"), 1.0);
}

TEST_F(GstRecordingTest, UnwritableOutputFailsTheStartAndNamesThePath) {
  const std::string mp3 = Path("missing-folder/out.mp3");
  ASSERT_EQ(BuildChain(mp3, Path("out.wav")), S_OK);
  const HRESULT run = control_->Run();
  EXPECT_LT(run, 0);
  StopRecording();
  const auto events = DrainEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().code, EC_ERRORABORT);
  EXPECT_NE(events.front().text.find(mp3), std::string::npos) << events.front().text;
  EXPECT_GT(notified_.load(), 0);
  EXPECT_FALSE(std::filesystem::exists(mp3));
}

// With no other source left for the server to move the stream to, PulseAudio fails the
// capture. PipeWire moves the stream to another source instead and reports nothing: there the
// program learns of the removal from its device watch (the devices end-to-end test).
TEST_F(GstRecordingTest, SourceVanishingWhileRecordingIsReportedAndTheFilesStayComplete) {
  std::string modules;
  ASSERT_EQ(pulse_.pactl({"list", "short", "modules"}, &modules), 0);
  std::string module;
  std::istringstream lines(modules);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("sink_name=tonvale_test") != std::string::npos) {
      module = line.substr(0, line.find('\t'));
    }
  }
  ASSERT_FALSE(module.empty()) << modules;

  ASSERT_EQ(BuildChain(Path("u.mp3"), Path("u.wav")), S_OK);
  ASSERT_GE(control_->Run(), 0);
  std::this_thread::sleep_for(1500ms);
  ASSERT_EQ(pulse_.pactl({"unload-module", module}), 0);

  std::vector<Event> events;
  for (int i = 0; i < 50 && events.empty(); ++i) {
    std::this_thread::sleep_for(100ms);
    events = DrainEvents();
  }
  if (pulse_.server() == testing::SoundServer::PipeWire) {
    EXPECT_TRUE(events.empty());
  } else {
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().code, EC_ERRORABORT);
    EXPECT_EQ(events.front().param1, VFW_E_NO_CAPTURE_HARDWARE) << events.front().text;
    EXPECT_GT(notified_.load(), 0);
  }

  StopRecording();
  for (const auto& file : {Path("u.mp3"), Path("u.wav")}) {
    if (pulse_.server() == testing::SoundServer::PipeWire) {
      // Complete, with whatever the moved stream delivered until the stop.
      const auto audio = AnalyzeAudioFile(file);
      ASSERT_TRUE(audio.ok) << audio.error;
      EXPECT_NEAR(HeaderDurationSeconds(file), audio.durationSeconds, 0.1);
    } else {
      ExpectRecording(file, 1.5);
    }
  }
}

}  // namespace
}  // namespace tonvale::platform
