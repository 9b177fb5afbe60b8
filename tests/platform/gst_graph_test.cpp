// The GStreamer graph's building, refusals and event queue, with no sound server running
// (the test environment points PulseAudio at a socket that does not exist).

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <atomic>
#include <filesystem>
#include <thread>

#include "fake_media.h"
#include "media_probe.h"
#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/media_factory_gst.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

using testing::FakePin;
using Strings = std::vector<std::string>;

class GstGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(factory_.CreateFilterGraph(&graph_), S_OK);
    ASSERT_EQ(graph_->QueryMediaControl(&control_), S_OK);
    ASSERT_EQ(graph_->QueryMediaEvent(&events_), S_OK);
  }
  std::shared_ptr<Filter> Sink() {
    std::shared_ptr<Filter> sink;
    EXPECT_EQ(factory_.CreateFilter(kSinkClassId, &sink), S_OK);
    return sink;
  }
  std::shared_ptr<Filter> Writer(const std::string& path = "/nonexistent/unused.wav") {
    std::shared_ptr<FileSinkFilter> writer;
    std::shared_ptr<Filter> filter;
    EXPECT_EQ(factory_.CreateFileWriter(&writer), S_OK);
    EXPECT_EQ(writer->SetFileName(path), S_OK);
    EXPECT_EQ(writer->QueryFilter(&filter), S_OK);
    return filter;
  }

  GstMediaFactory factory_;
  std::shared_ptr<GraphBuilder> graph_, second_;
  std::shared_ptr<MediaControl> control_;
  std::shared_ptr<MediaEvent> events_;
  std::shared_ptr<GstCaptureFilter> capture_ = std::make_shared<GstCaptureFilter>(
      std::vector<std::shared_ptr<Pin>>{std::make_shared<FakePin>(PinDirection::Input, "Mic")}, [] {
        return CaptureSource{"nowhere", {}};
      });
};

// The sink only from the plugin directory, by its class id in any case; the one default
// device records from the server's default source.
TEST(GstMediaFactoryTest, FindsTheSinkByItsClassInItsPluginDirectoryAndTheDefaultSource) {
  const std::string empty = testing::MakeTempDir("tonvale-noplugins-");
  for (const auto& [dir, classId, found] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"", kSinkClassId, true},
           {"", "{ddcd2468-4ec9-4431-84d2-c7be1fe8cc17}", true},
           {"", "{00000000-0000-0000-0000-000000000000}", false},
           {empty, kSinkClassId, false},
           {empty + "/missing", kSinkClassId, false}}) {
    SCOPED_TRACE(dir + " " + classId);
    std::shared_ptr<Filter> filter;
    EXPECT_EQ(Succeeded(GstMediaFactory(dir).CreateFilter(classId, &filter)), found);
    EXPECT_EQ(filter ? Pins(*filter) : Strings{},
              (found ? Strings{"in:sink", "out:src"} : Strings{}));
  }
  std::filesystem::remove_all(empty);

  std::shared_ptr<DeviceEnumerator> devices;
  ASSERT_EQ(GstMediaFactory().CreateDeviceEnumerator(&devices), S_OK);
  std::unique_ptr<MonikerEnumerator> monikers;
  ASSERT_EQ(devices->CreateAudioInputEnumerator(&monikers), S_OK);
  std::shared_ptr<Moniker> moniker;
  std::string name;
  std::shared_ptr<Filter> filter;
  ASSERT_EQ(monikers->Next(&moniker), S_OK);
  ASSERT_EQ(moniker->ReadFriendlyName(&name), S_OK);
  EXPECT_EQ(name, "Default source");
  ASSERT_EQ(moniker->BindToObject(&filter), S_OK);
  auto* capture = dynamic_cast<GstCaptureFilter*>(filter.get());
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(capture->source().name, "");
  EXPECT_NE(monikers->Next(&moniker), S_OK);
}

// A graph holds a filter once and only its own kind; it renders the capture pin only through
// both the sink and the File Writer, leaving no half chain. Run with no sound server fails
// and reports the capture device.
TEST_F(GstGraphTest, HoldsEachFilterOnceAndRendersAndRunsOnlyAWholeChain) {
  std::shared_ptr<Pin> pin;
  std::shared_ptr<AudioInputMixer> mixer;
  EXPECT_EQ(Pins(*capture_, nullptr, &pin), (Strings{"in:Mic", "out:Capture"}));
  EXPECT_EQ(pin->QueryMixer(&mixer), E_NOINTERFACE);
  std::shared_ptr<FileSinkFilter> writer;
  ASSERT_EQ(factory_.CreateFileWriter(&writer), S_OK);
  EXPECT_EQ(writer->SetMode(FileSinkFilter::kOverwrite), S_OK);
  EXPECT_EQ(writer->SetMode(7), E_INVALIDARG);
  EXPECT_EQ(writer->SetFileName(""), E_INVALIDARG);
  EXPECT_EQ(writer->SetFileName(std::string("a\0b", 3)), E_INVALIDARG);

  ASSERT_EQ(factory_.CreateFilterGraph(&second_), S_OK);
  const auto sink = Sink(), wav = Writer();
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);
  ASSERT_EQ(graph_->AddFilter(sink, "WAV Dest"), S_OK);
  EXPECT_EQ(graph_->AddFilter(nullptr, "none"), E_POINTER);
  EXPECT_LT(graph_->AddFilter(capture_, "again"), 0);
  EXPECT_LT(graph_->AddFilter(std::make_shared<testing::FakeFilter>("foreign"), "foreign"), 0);
  EXPECT_LT(second_->AddFilter(capture_, "elsewhere"), 0);
  EXPECT_LT(second_->AddFilter(sink, "elsewhere"), 0);
  EXPECT_LT(second_->RemoveFilter(sink), 0);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);
  ASSERT_EQ(graph_->RemoveFilter(sink), S_OK);
  ASSERT_EQ(graph_->AddFilter(wav, "File Writer"), S_OK);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);  // raw audio is no WAV stream
  ASSERT_EQ(graph_->AddFilter(sink, "WAV Dest"), S_OK);
  EXPECT_EQ(graph_->Render(pin), S_OK);
  EXPECT_EQ(graph_->Render(pin), E_UNEXPECTED);  // already connected
  EXPECT_EQ(graph_->Render(std::make_shared<FakePin>(PinDirection::Output, "x")), E_INVALIDARG);
  EXPECT_EQ(graph_->Render(nullptr), E_POINTER);
  // Taking the sink out frees the pin for the next recording's chain; a removed filter may
  // join another graph.
  ASSERT_EQ(graph_->RemoveFilter(sink), S_OK);
  ASSERT_EQ(second_->AddFilter(sink, "WAV Dest"), S_OK);
  const std::string dir = testing::MakeTempDir("tonvale-noserver-");
  QSettings(QString::fromLatin1(kHandOffOrganisation), QString::fromLatin1(kHandOffApplication))
      .setValue(QString::fromLatin1(kHandOffKey), QString::fromStdString(dir + "/a.mp3"));
  ASSERT_EQ(graph_->AddFilter(Sink(), "WAV Dest"), S_OK);
  ASSERT_EQ(graph_->AddFilter(Writer(dir + "/a.wav"), "File Writer"), S_OK);
  EXPECT_EQ(graph_->Render(pin), S_OK);
  ASSERT_EQ(graph_->RemoveFilter(wav), S_OK);

  std::atomic<int> notified{0};
  ASSERT_EQ(events_->SetNotifyWindow([&](std::intptr_t) { ++notified; }, 0), S_OK);
  EXPECT_EQ(control_->Run(), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_EQ(control_->StopWhenReady(), S_OK);
  std::filesystem::remove_all(dir);
  const auto [code, hr, p2, text] = NextEvent(*events_);
  EXPECT_EQ(std::tuple(code, hr, text.empty()),
            std::tuple(EC_ERRORABORT, VFW_E_NO_CAPTURE_HARDWARE, false));
  EXPECT_GT(notified.load(), 0);
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
}

// Filter events queue in order and announce themselves to the registered callback, at once
// when it registers while events wait; a filter out of the graph no longer reaches it; once
// unregistered (while another thread notifies) a callback is never called again.
TEST_F(GstGraphTest, EventsQueueInOrderAndReachOnlyTheRegisteredCallback) {
  std::vector<std::intptr_t> instances;
  const auto record = [&](std::intptr_t i) { instances.push_back(i); };
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  ASSERT_EQ(events_->SetNotifyWindow(record, 42), S_OK);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 0);
  capture_->NotifyGraph(EC_DEVICE_LOST, 3, 1);
  EXPECT_EQ(instances, (std::vector<std::intptr_t>{42, 42}));
  EXPECT_EQ(NextEvent(*events_), Event(EC_DEVICE_LOST, 0, 0, ""));
  EXPECT_EQ(NextEvent(*events_), Event(EC_DEVICE_LOST, 3, 1, ""));
  EXPECT_EQ(NextEvent(*events_), Event(0, E_ABORT, 0, ""));  // none left

  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
  capture_->NotifyGraph(EC_COMPLETE, 0, 0);
  capture_->NotifyGraph(EC_ERRORABORT, E_FAIL, MakeErrorEventText("unread"));
  ASSERT_EQ(events_->SetNotifyWindow(record, 7), S_OK);
  EXPECT_EQ(instances, (std::vector<std::intptr_t>{42, 42, 7}));
  ASSERT_EQ(graph_->RemoveFilter(capture_), S_OK);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 0);
  EXPECT_EQ(NextEvent(*events_), Event(EC_COMPLETE, 0, 0, ""));
  EXPECT_EQ(NextEvent(*events_), Event(EC_ERRORABORT, E_FAIL, 0, "unread"));
  EXPECT_EQ(NextEvent(*events_), Event(0, E_ABORT, 0, ""));

  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  std::atomic<bool> unregistered{false}, stop{false};
  std::atomic<int> calls{0}, lateCalls{0};
  const auto count = [&](std::intptr_t) {
    ++calls;
    lateCalls += unregistered ? 1 : 0;
    std::this_thread::yield();
  };
  ASSERT_EQ(events_->SetNotifyWindow(count, 0), S_OK);
  std::thread notifier([&] {
    while (!stop) capture_->NotifyGraph(EC_DEVICE_LOST, 0, 1);
  });
  while (calls < 100) std::this_thread::yield();
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
  unregistered = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop = true;
  notifier.join();
  EXPECT_EQ(lateCalls.load(), 0);
  // An unread error is freed with the graph.
  capture_->NotifyGraph(EC_ERRORABORT, E_FAIL, MakeErrorEventText("leftover"));
}

}  // namespace
}  // namespace tonvale::platform
