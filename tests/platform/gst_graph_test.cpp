// The GStreamer graph's building, refusals and event queue, with no sound server running
// (the test environment points PulseAudio at a socket that does not exist).

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/media_factory_gst.h"
#include "private_server.h"

namespace tonvale::platform {
namespace {

class NamedPin : public Pin {
 public:
  explicit NamedPin(std::string name) : name_(std::move(name)) {}
  HRESULT QueryDirection(PinDirection* d) override {
    *d = PinDirection::Input;
    return S_OK;
  }
  HRESULT QueryPinInfo(std::string* name) override {
    *name = name_;
    return S_OK;
  }
  HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>*) override { return E_NOINTERFACE; }

 private:
  std::string name_;
};

class ForeignFilter : public Filter {
 public:
  HRESULT EnumPins(std::unique_ptr<PinEnumerator>*) override { return E_FAIL; }
};

struct PinInfo {
  std::string name;
  PinDirection direction;
  bool operator==(const PinInfo&) const = default;
};

std::vector<PinInfo> PinsOf(const std::shared_ptr<Filter>& filter) {
  std::vector<PinInfo> out;
  std::unique_ptr<PinEnumerator> pins;
  if (Failed(filter->EnumPins(&pins)))
    return out;
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    PinInfo info;
    pin->QueryPinInfo(&info.name);
    pin->QueryDirection(&info.direction);
    out.push_back(info);
  }
  return out;
}

std::shared_ptr<Pin> OutputPin(const std::shared_ptr<Filter>& filter) {
  std::unique_ptr<PinEnumerator> pins;
  filter->EnumPins(&pins);
  std::shared_ptr<Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    PinDirection d{};
    if (pin->QueryDirection(&d) == S_OK && d == PinDirection::Output)
      return pin;
  }
  return nullptr;
}

class GstGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(factory_.CreateFilterGraph(&graph_), S_OK);
    ASSERT_EQ(graph_->QueryMediaControl(&control_), S_OK);
    ASSERT_EQ(graph_->QueryMediaEvent(&events_), S_OK);
    capture_ = std::make_shared<GstCaptureFilter>(
        std::vector<std::shared_ptr<Pin>>{std::make_shared<NamedPin>("Microphone")}, [] {
          return CaptureSource{"nowhere", {}};
        });
  }

  std::shared_ptr<Filter> MakeSink() {
    std::shared_ptr<Filter> sink;
    EXPECT_EQ(factory_.CreateFilter(kSinkClassId, &sink), S_OK);
    return sink;
  }
  std::shared_ptr<Filter> MakeWriter(const std::string& path = "/nonexistent/unused.wav") {
    std::shared_ptr<FileSinkFilter> writer;
    std::shared_ptr<Filter> filter;
    EXPECT_EQ(factory_.CreateFileWriter(&writer), S_OK);
    EXPECT_EQ(writer->SetFileName(path), S_OK);
    EXPECT_EQ(writer->QueryFilter(&filter), S_OK);
    return filter;
  }

  GstMediaFactory factory_;
  std::shared_ptr<GraphBuilder> graph_;
  std::shared_ptr<MediaControl> control_;
  std::shared_ptr<MediaEvent> events_;
  std::shared_ptr<GstCaptureFilter> capture_;
};

TEST(GstMediaFactoryTest, FindsTheSinkOnlyInItsPluginDirectoryAndByItsClass) {
  const std::string empty = testing::MakeTempDir("tonvale-noplugins-");
  struct Case {
    std::string dir;
    std::string classId;
    bool found;
  } cases[] = {
      {"", kSinkClassId, true},
      {"", "{ddcd2468-4ec9-4431-84d2-c7be1fe8cc17}", true},
      {"", "{00000000-0000-0000-0000-000000000000}", false},
      {empty, kSinkClassId, false},
      {empty + "/missing", kSinkClassId, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir + " " + c.classId);
    GstMediaFactory factory(c.dir);
    std::shared_ptr<Filter> filter;
    const HRESULT hr = factory.CreateFilter(c.classId, &filter);
    EXPECT_EQ(Succeeded(hr), c.found);
    EXPECT_EQ(filter != nullptr, c.found);
    if (filter) {
      EXPECT_EQ(PinsOf(filter), (std::vector<PinInfo>{{"sink", PinDirection::Input},
                                                      {"src", PinDirection::Output}}));
    }
  }
  std::filesystem::remove_all(empty);
}

TEST(GstMediaFactoryTest, DefaultDeviceRecordsFromTheDefaultSource) {
  GstMediaFactory factory;
  std::shared_ptr<DeviceEnumerator> devices;
  ASSERT_EQ(factory.CreateDeviceEnumerator(&devices), S_OK);
  std::unique_ptr<MonikerEnumerator> monikers;
  ASSERT_EQ(devices->CreateAudioInputEnumerator(&monikers), S_OK);
  std::shared_ptr<Moniker> moniker;
  ASSERT_EQ(monikers->Next(&moniker), S_OK);
  std::string name;
  ASSERT_EQ(moniker->ReadFriendlyName(&name), S_OK);
  EXPECT_EQ(name, "Default source");
  std::shared_ptr<Filter> filter;
  ASSERT_EQ(moniker->BindToObject(&filter), S_OK);
  auto* capture = dynamic_cast<GstCaptureFilter*>(filter.get());
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(capture->source().name, "");
  EXPECT_NE(monikers->Next(&moniker), S_OK);
}

TEST_F(GstGraphTest, CaptureFilterListsItsLinesThenTheCapturePin) {
  EXPECT_EQ(PinsOf(capture_), (std::vector<PinInfo>{{"Microphone", PinDirection::Input},
                                                    {"Capture", PinDirection::Output}}));
  std::shared_ptr<AudioInputMixer> mixer;
  EXPECT_EQ(OutputPin(capture_)->QueryMixer(&mixer), E_NOINTERFACE);
}

TEST_F(GstGraphTest, FileWriterRefusesBadModesAndNames) {
  std::shared_ptr<FileSinkFilter> writer;
  ASSERT_EQ(factory_.CreateFileWriter(&writer), S_OK);
  EXPECT_EQ(writer->SetMode(FileSinkFilter::kOverwrite), S_OK);
  EXPECT_EQ(writer->SetMode(7), E_INVALIDARG);
  EXPECT_EQ(writer->SetFileName(""), E_INVALIDARG);
  EXPECT_EQ(writer->SetFileName(std::string("a\0b", 3)), E_INVALIDARG);
}

TEST_F(GstGraphTest, RefusesFiltersItCannotHold) {
  std::shared_ptr<GraphBuilder> second;
  ASSERT_EQ(factory_.CreateFilterGraph(&second), S_OK);
  auto sink = MakeSink();
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  ASSERT_EQ(graph_->AddFilter(sink, "WAV Dest"), S_OK);

  EXPECT_EQ(graph_->AddFilter(nullptr, "none"), E_POINTER);
  EXPECT_LT(graph_->AddFilter(capture_, "again"), 0);
  EXPECT_LT(graph_->AddFilter(std::make_shared<ForeignFilter>(), "foreign"), 0);
  EXPECT_LT(second->AddFilter(capture_, "elsewhere"), 0);
  EXPECT_LT(second->AddFilter(sink, "elsewhere"), 0);
  EXPECT_LT(second->RemoveFilter(sink), 0);

  // Once removed, a filter may join another graph.
  ASSERT_EQ(graph_->RemoveFilter(capture_), S_OK);
  EXPECT_EQ(second->AddFilter(capture_, "Audio Capture"), S_OK);
}

TEST_F(GstGraphTest, RenderNeedsBothTheSinkAndTheWriterAndLeavesNoHalfChain) {
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  const auto pin = OutputPin(capture_);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);

  // Raw audio does not go straight into the File Writer.
  auto writer = MakeWriter();
  ASSERT_EQ(graph_->AddFilter(writer, "File Writer"), S_OK);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);
  ASSERT_EQ(graph_->RemoveFilter(writer), S_OK);

  auto sink = MakeSink();
  ASSERT_EQ(graph_->AddFilter(sink, "WAV Dest"), S_OK);
  EXPECT_EQ(graph_->Render(pin), VFW_E_CANNOT_RENDER);

  ASSERT_EQ(graph_->AddFilter(MakeWriter(), "File Writer"), S_OK);
  EXPECT_EQ(graph_->Render(pin), S_OK);
  EXPECT_EQ(graph_->Render(pin), E_UNEXPECTED);  // already connected
  EXPECT_EQ(graph_->Render(std::make_shared<NamedPin>("stranger")), E_INVALIDARG);
  EXPECT_EQ(graph_->Render(nullptr), E_POINTER);

  // Taking the sink out frees the capture pin for the next recording's chain.
  ASSERT_EQ(graph_->RemoveFilter(sink), S_OK);
  ASSERT_EQ(graph_->AddFilter(MakeSink(), "WAV Dest"), S_OK);
  ASSERT_EQ(graph_->AddFilter(MakeWriter(), "File Writer"), S_OK);
  EXPECT_EQ(graph_->Render(pin), S_OK);
}

TEST_F(GstGraphTest, RunWithoutASoundServerFailsAndReportsTheCaptureDevice) {
  std::atomic<int> notified{0};
  ASSERT_EQ(events_->SetNotifyWindow([&](std::intptr_t) { ++notified; }, 0), S_OK);
  const std::string dir = testing::MakeTempDir("tonvale-noserver-");
  QSettings handOff(QString::fromLatin1(kHandOffOrganisation),
                    QString::fromLatin1(kHandOffApplication));
  handOff.setValue(QString::fromLatin1(kHandOffKey), QString::fromStdString(dir + "/a.mp3"));
  handOff.sync();
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  ASSERT_EQ(graph_->AddFilter(MakeSink(), "WAV Dest"), S_OK);
  ASSERT_EQ(graph_->AddFilter(MakeWriter(dir + "/a.wav"), "File Writer"), S_OK);
  ASSERT_EQ(graph_->Render(OutputPin(capture_)), S_OK);

  EXPECT_EQ(control_->Run(), VFW_E_NO_CAPTURE_HARDWARE);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(control_->StopWhenReady(), S_OK);
  long code = 0;
  std::intptr_t p1 = 0;
  std::intptr_t p2 = 0;
  ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(p1, VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_FALSE(ErrorEventText(code, p2).empty());
  EXPECT_EQ(events_->FreeEventParams(code, p1, p2), S_OK);
  EXPECT_GT(notified.load(), 0);
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
}

TEST_F(GstGraphTest, FilterEventsQueueInOrderAndReachTheCallback) {
  std::vector<std::intptr_t> instances;
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  ASSERT_EQ(events_->SetNotifyWindow([&](std::intptr_t i) { instances.push_back(i); }, 42), S_OK);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 0);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 1);
  EXPECT_EQ(instances, (std::vector<std::intptr_t>{42, 42}));

  long code = 0;
  std::intptr_t p1 = 0;
  std::intptr_t p2 = 0;
  for (std::intptr_t expected : {0, 1}) {
    ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_DEVICE_LOST);
    EXPECT_EQ(p2, expected);
  }
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 0), E_ABORT);

  // Registering while events wait announces them at once.
  ASSERT_EQ(events_->SetNotifyWindow({}, 0), S_OK);
  capture_->NotifyGraph(EC_COMPLETE, 0, 0);
  capture_->NotifyGraph(EC_ERRORABORT, E_FAIL, MakeErrorEventText("unread"));
  EXPECT_EQ(instances.size(), 2u);
  ASSERT_EQ(events_->SetNotifyWindow([&](std::intptr_t i) { instances.push_back(i); }, 7), S_OK);
  EXPECT_EQ(instances, (std::vector<std::intptr_t>{42, 42, 7}));

  // A filter out of the graph no longer reaches it; the unread error is freed with the graph.
  ASSERT_EQ(graph_->RemoveFilter(capture_), S_OK);
  capture_->NotifyGraph(EC_DEVICE_LOST, 0, 0);
  ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(ErrorEventText(code, p2), "unread");
  events_->FreeEventParams(code, p1, p2);
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 0), E_ABORT);
  capture_->NotifyGraph(EC_ERRORABORT, E_FAIL, MakeErrorEventText("leftover"));
}

TEST_F(GstGraphTest, UnregisteredCallbackIsNeverCalledAgain) {
  ASSERT_EQ(graph_->AddFilter(capture_, "Audio Capture"), S_OK);
  std::atomic<bool> unregistered{false};
  std::atomic<int> lateCalls{0};
  std::atomic<int> calls{0};
  ASSERT_EQ(events_->SetNotifyWindow(
                [&](std::intptr_t) {
                  ++calls;
                  if (unregistered)
                    ++lateCalls;
                  std::this_thread::yield();
                },
                0),
            S_OK);
  std::atomic<bool> stop{false};
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
}

}  // namespace
}  // namespace tonvale::platform
