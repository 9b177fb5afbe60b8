#include "platform/gst/gst_capture_filter.h"

#include <gst/audio/audio.h>

#include <algorithm>

#include "platform/gst/gst_pins.h"
#include "platform/gst/gst_support.h"

namespace tonvale::platform {
namespace {

// A recorder needs no low latency: large fragments mean fewer wake-ups. The first
// fragment still arrives about one fragment (100 ms) after the start.
constexpr gint64 kFragmentUs = 100000;
constexpr gint64 kBufferUs = 1000000;
constexpr const char* kFilterKey = "tonvale-capture-filter";

GstAudioChannelPosition GstPosition(Speaker speaker) {
  switch (speaker) {
    case Speaker::Mono:
      return GST_AUDIO_CHANNEL_POSITION_MONO;
    case Speaker::FrontLeft:
      return GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT;
    case Speaker::FrontRight:
      return GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT;
    case Speaker::FrontCenter:
      return GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER;
    case Speaker::Lfe:
      return GST_AUDIO_CHANNEL_POSITION_LFE1;
    case Speaker::RearLeft:
      return GST_AUDIO_CHANNEL_POSITION_REAR_LEFT;
    case Speaker::RearRight:
      return GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT;
    case Speaker::RearCenter:
      return GST_AUDIO_CHANNEL_POSITION_REAR_CENTER;
    case Speaker::SideLeft:
      return GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT;
    case Speaker::SideRight:
      return GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT;
    case Speaker::FrontLeftOfCenter:
      return GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER;
    case Speaker::FrontRightOfCenter:
      return GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER;
    case Speaker::TopCenter:
      return GST_AUDIO_CHANNEL_POSITION_TOP_CENTER;
    case Speaker::TopFrontLeft:
      return GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_LEFT;
    case Speaker::TopFrontRight:
      return GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_RIGHT;
    case Speaker::TopFrontCenter:
      return GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_CENTER;
    case Speaker::TopRearLeft:
      return GST_AUDIO_CHANNEL_POSITION_TOP_REAR_LEFT;
    case Speaker::TopRearRight:
      return GST_AUDIO_CHANNEL_POSITION_TOP_REAR_RIGHT;
    case Speaker::TopRearCenter:
      return GST_AUDIO_CHANNEL_POSITION_TOP_REAR_CENTER;
    case Speaker::Other:
      break;
  }
  return GST_AUDIO_CHANNEL_POSITION_NONE;
}

// A source of more than two channels, with each one's place, in the order GStreamer carries
// them (by position); no places at all when one is unknown or taken twice.
std::vector<Speaker> PlacedSpeakers(const CaptureFormat& format, guint64* mask) {
  *mask = 0;
  if (format.speakers.size() != static_cast<std::size_t>(format.channels))
    return {};
  std::vector<Speaker> placed = format.speakers;
  for (Speaker speaker : placed) {
    const GstAudioChannelPosition position = GstPosition(speaker);
    if (position < 0 || position == GST_AUDIO_CHANNEL_POSITION_MONO ||
        (*mask & (G_GUINT64_CONSTANT(1) << position)) != 0) {
      *mask = 0;
      return {};
    }
    *mask |= G_GUINT64_CONSTANT(1) << position;
  }
  std::ranges::sort(placed, {}, [](Speaker s) { return static_cast<int>(GstPosition(s)); });
  return placed;
}

GstCaps* RawCaps(int channels, int rate, guint64 mask, const char* sampleFormat) {
  GstCaps* caps = gst_caps_new_simple("audio/x-raw", "layout", G_TYPE_STRING, "interleaved", "rate",
                                      G_TYPE_INT, rate, "channels", G_TYPE_INT, channels, nullptr);
  if (channels > 1)
    gst_caps_set_simple(caps, "channel-mask", GST_TYPE_BITMASK, mask, nullptr);
  if (sampleFormat != nullptr)
    gst_caps_set_simple(caps, "format", G_TYPE_STRING, sampleFormat, nullptr);
  return caps;
}

void SetCaps(GstElement* filter, GstCaps* caps) {
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
}

// audioconvert's mix-matrix: one row per output channel, one column per input channel.
void SetMixMatrix(GstElement* convert, const std::vector<std::array<double, 2>>& weights) {
  GValue matrix = G_VALUE_INIT;
  g_value_init(&matrix, GST_TYPE_ARRAY);
  for (std::size_t side = 0; side < 2 && !weights.empty(); ++side) {
    GValue row = G_VALUE_INIT;
    g_value_init(&row, GST_TYPE_ARRAY);
    for (const auto& w : weights) {
      GValue cell = G_VALUE_INIT;
      g_value_init(&cell, G_TYPE_FLOAT);
      g_value_set_float(&cell, static_cast<float>(w[side]));
      gst_value_array_append_and_take_value(&row, &cell);
    }
    gst_value_array_append_and_take_value(&matrix, &row);
  }
  g_object_set_property(G_OBJECT(convert), "mix-matrix", &matrix);
  g_value_unset(&matrix);
}

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
  GstElement* sourceCaps = gst_element_factory_make("capsfilter", "source-format");
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  GstElement* recordedCaps = gst_element_factory_make("capsfilter", "recorded-format");
  if (pulse == nullptr || sourceCaps == nullptr || convert == nullptr || resample == nullptr ||
      recordedCaps == nullptr) {
    qCWarning(lcGraph, "The PulseAudio capture elements are not available");
    for (GstElement* e : {bin, pulse, sourceCaps, convert, resample, recordedCaps}) {
      if (e != nullptr)
        gst_object_unref(gst_object_ref_sink(e));
    }
    return;
  }
  g_object_set(pulse, "client-name", "Tonvale", "latency-time", kFragmentUs, "buffer-time",
               kBufferUs, nullptr);
  gst_bin_add_many(GST_BIN(bin), pulse, sourceCaps, convert, resample, recordedCaps, nullptr);
  GstPad* out = gst_element_get_static_pad(recordedCaps, "src");
  GstPad* ghost = gst_ghost_pad_new("src", out);
  gst_object_unref(out);
  if (!gst_element_link_many(pulse, sourceCaps, convert, resample, recordedCaps, nullptr) ||
      !gst_element_add_pad(bin, ghost)) {
    qCWarning(lcGraph, "Could not assemble the capture bin");
    gst_object_unref(gst_object_ref_sink(bin));
    return;
  }
  bin_ = GST_ELEMENT(gst_object_ref_sink(bin));
  pulse_ = pulse;
  // The element lives in the bin this object owns, so it never outlives the pointer.
  g_object_set_data(G_OBJECT(pulse), kFilterKey, this);
  sourceCaps_ = sourceCaps;
  convert_ = convert;
  recordedCaps_ = recordedCaps;
  ApplyFormat({});
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

GstCaptureFilter* GstCaptureFilter::OfElement(GstObject* element) {
  return element != nullptr
             ? static_cast<GstCaptureFilter*>(g_object_get_data(G_OBJECT(element), kFilterKey))
             : nullptr;
}

CaptureSource GstCaptureFilter::source() const {
  return source_ ? source_() : CaptureSource{};
}

MediaEventSink* GstCaptureFilter::graph() const {
  std::lock_guard lock(graphMutex_);
  return graph_;
}

void GstCaptureFilter::ApplySource() {
  if (pulse_ == nullptr)
    return;
  const CaptureSource chosen = source();
  const std::string& name = chosen.name;
  qCDebug(lcGraph, "Capturing from PulseAudio source \"%s\" (%d channels, %d Hz)", name.c_str(),
          chosen.format.channels, chosen.format.rate);
  g_object_set(pulse_, "device", name.empty() ? nullptr : name.c_str(), nullptr);
  ApplyFormat(chosen.format);
}

void GstCaptureFilter::ApplyFormat(const CaptureFormat& format) {
  CaptureFormat source = format;
  if (source.channels <= 0) {
    source.channels = kDefaultCaptureChannels;
    source.speakers.clear();
  }
  if (source.rate <= 0)
    source.rate = kDefaultCaptureRate;
  const int channels = RecordedChannels(source.channels);
  constexpr guint64 kStereoMask = (G_GUINT64_CONSTANT(1) << GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT) |
                                  (G_GUINT64_CONSTANT(1) << GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT);
  // Mono and stereo are taken as they are; more channels in their own layout, so that the
  // server passes them on unmixed and the mix below is the same on every server.
  guint64 mask = channels == 2 ? kStereoMask : 0;
  std::vector<std::array<double, 2>> weights;
  if (source.channels > 2) {
    std::vector<Speaker> placed = PlacedSpeakers(source, &mask);
    if (placed.empty())
      placed.assign(static_cast<std::size_t>(source.channels), Speaker::Other);
    weights = DownmixCoefficients(placed);
  }
  SetCaps(sourceCaps_, RawCaps(source.channels, source.rate, mask, nullptr));
  SetMixMatrix(convert_, weights);
  SetCaps(recordedCaps_, RawCaps(channels, RecordedSampleRate(source.rate),
                                 channels == 2 ? kStereoMask : 0, "S16LE"));
}

}  // namespace tonvale::platform
