#include "platform/gst_capture_filter.h"

#include "platform/gst_pins.h"
#include "platform/gst_support.h"

namespace tonvale::platform {
namespace {

// A recorder needs no low latency: large fragments mean fewer wake-ups. The first
// fragment still arrives about one fragment (100 ms) after the start.
constexpr gint64 kFragmentUs = 100000;
constexpr gint64 kBufferUs = 1000000;

}  // namespace

class GstCaptureFilter::OutputPin : public GstPadPin {
 public:
  OutputPin() : GstPadPin(PinDirection::Output, "src", "Capture") {}
};

GstCaptureFilter::GstCaptureFilter(std::vector<std::shared_ptr<Pin>> inputPins, SourceFn source)
    : inputs_(std::move(inputPins)),
      output_(std::make_shared<OutputPin>()),
      source_(std::move(source)) {
  if (!EnsureGstInitialized())
    return;
  GstElement* bin = gst_bin_new(nullptr);
  GstElement* pulse = gst_element_factory_make("pulsesrc", "source");
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  if (pulse == nullptr || convert == nullptr || resample == nullptr) {
    qCWarning(lcGraph, "The PulseAudio capture elements are not available");
    for (GstElement* e : {bin, pulse, convert, resample}) {
      if (e != nullptr)
        gst_object_unref(gst_object_ref_sink(e));
    }
    return;
  }
  g_object_set(pulse, "client-name", "Tonvale", "latency-time", kFragmentUs, "buffer-time",
               kBufferUs, nullptr);
  gst_bin_add_many(GST_BIN(bin), pulse, convert, resample, nullptr);
  GstPad* out = gst_element_get_static_pad(resample, "src");
  GstPad* ghost = gst_ghost_pad_new("src", out);
  gst_object_unref(out);
  if (!gst_element_link_many(pulse, convert, resample, nullptr) ||
      !gst_element_add_pad(bin, ghost)) {
    qCWarning(lcGraph, "Could not assemble the capture bin");
    gst_object_unref(gst_object_ref_sink(bin));
    return;
  }
  bin_ = GST_ELEMENT(gst_object_ref_sink(bin));
  pulse_ = pulse;
}

GstCaptureFilter::~GstCaptureFilter() {
  if (bin_ != nullptr) {
    gst_element_set_state(bin_, GST_STATE_NULL);
    gst_object_unref(bin_);
  }
}

HRESULT GstCaptureFilter::EnumPins(std::unique_ptr<PinEnumerator>* pins) {
  if (pins == nullptr)
    return E_POINTER;
  std::vector<std::shared_ptr<Pin>> all = inputs_;
  all.push_back(output_);
  *pins = std::make_unique<PinListEnumerator>(std::move(all));
  return S_OK;
}

void GstCaptureFilter::JoinFilterGraph(MediaEventSink* graph) {
  // Waits for a NotifyGraph in progress, so a departing graph is never called afterwards.
  std::lock_guard lock(graphMutex_);
  graph_ = graph;
}

void GstCaptureFilter::NotifyGraph(long code, std::intptr_t param1, std::intptr_t param2) {
  std::lock_guard lock(graphMutex_);
  if (graph_ != nullptr) {
    graph_->Notify(code, param1, param2);
  } else {
    FreeStandardEventParams(code, param1, param2);
  }
}

std::string GstCaptureFilter::source() const {
  return source_ ? source_() : std::string();
}

MediaEventSink* GstCaptureFilter::graph() const {
  std::lock_guard lock(graphMutex_);
  return graph_;
}

void GstCaptureFilter::ApplySource() {
  if (pulse_ == nullptr)
    return;
  const std::string name = source();
  qCDebug(lcGraph, "Capturing from PulseAudio source \"%s\"", name.c_str());
  g_object_set(pulse_, "device", name.empty() ? nullptr : name.c_str(), nullptr);
}

}  // namespace tonvale::platform
