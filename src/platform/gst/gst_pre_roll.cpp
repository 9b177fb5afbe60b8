#include "platform/gst/gst_pre_roll.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/gst_support.h"

namespace tonvale::platform {
namespace {

// Short fragments, so that what is kept reaches past the start of a recording's stream by
// the time its first fragment arrives.
constexpr int kIdleFragmentUs = 50000;
// Kept beyond keepMs: the time a recording's stream takes to start, and room to trim seldom.
constexpr GstClockTime kSlack = 2 * GST_SECOND;
// The stretch of the live stream looked for (50 ms, long enough to hold more than silence or
// one click), and where: the live stream starts a little after the clock's moment of the start.
constexpr int kMatchFramesPerSecond = 20;
constexpr GstClockTime kMatchEarliest = 100 * GST_MSECOND;
constexpr GstClockTime kMatchLatest = 250 * GST_MSECOND;
// How long the live stream's first fragment waits for what is kept to reach past its start.
constexpr auto kCatchUpWait = std::chrono::milliseconds(300);
// Average difference per sample still taken as the same sound: PipeWire passes samples
// through floating point; a stretch one fragment off differs by far more.
constexpr std::int64_t kMatchTolerance = 16;

}  // namespace

std::unique_ptr<GstPreRoll> GstPreRoll::Start(std::shared_ptr<GstCaptureFilter> filter,
                                              int keepMs) {
  if (!filter || filter->element() == nullptr || keepMs <= 0)
    return nullptr;
  std::unique_ptr<GstPreRoll> preRoll(new GstPreRoll(std::move(filter), keepMs));
  if (preRoll->pipeline_ == nullptr)
    return nullptr;
  return preRoll;
}

GstPreRoll::GstPreRoll(std::shared_ptr<GstCaptureFilter> filter, int keepMs)
    : filter_(std::move(filter)), keepMs_(keepMs) {
  filter_->ApplySource();
  sourceName_ = filter_->source().name;
  g_object_set(filter_->pulseSource(), "latency-time", static_cast<gint64>(kIdleFragmentUs),
               nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  GstElement* pipeline = gst_pipeline_new("tonvale-pre-roll");
  if (sink == nullptr || pipeline == nullptr) {
    for (GstElement* e : {sink, pipeline}) {
      if (e != nullptr)
        gst_object_unref(gst_object_ref_sink(e));
    }
    return;
  }
  g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
  g_signal_connect(sink, "handoff", G_CALLBACK(&GstPreRoll::OnFragment), this);
  // Fragment times on the system clock, which a recording's start is measured on too.
  GstClock* clock = gst_system_clock_obtain();
  gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
  gst_object_unref(clock);
  gst_bin_add_many(GST_BIN(pipeline), filter_->element(), sink, nullptr);
  if (!gst_element_link(filter_->element(), sink) ||
      gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    qCWarning(lcGraph, "The audio before Record cannot be kept: the capture did not start");
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(gst_object_ref_sink(pipeline));
    return;
  }
  pipeline_ = GST_ELEMENT(gst_object_ref_sink(pipeline));
  qCDebug(lcGraph, "Keeping the last %d ms of \"%s\"", keepMs_, sourceName_.c_str());
}

GstPreRoll::~GstPreRoll() {
  if (pipeline_ == nullptr)
    return;
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  // The capture bin goes back to its filter, out of this pipeline.
  gst_bin_remove(GST_BIN(pipeline_), filter_->element());
  gst_object_unref(pipeline_);
}

GstClockTime GstPreRoll::Now() {
  GstClock* clock = gst_system_clock_obtain();
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  return now;
}

void GstPreRoll::OnFragment(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer data) {
  auto* self = static_cast<GstPreRoll*>(data);
  if (!GST_BUFFER_PTS_IS_VALID(buffer))
    return;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
    return;
  const GstClockTime at = GST_BUFFER_PTS(buffer) + gst_element_get_base_time(sink);
  std::lock_guard lock(self->mutex_);
  if (!self->formatKnown_)
    self->formatKnown_ = CurrentAudioInfo(pad, &self->info_);
  self->marks_.emplace_back(at, self->kept_.size());
  self->kept_.insert(self->kept_.end(), map.data, map.data + map.size);
  gst_buffer_unmap(buffer, &map);
  self->grown_.notify_all();
  // Trimmed in large steps, so that little is moved.
  const GstClockTime keep = static_cast<GstClockTime>(self->keepMs_) * GST_MSECOND + kSlack;
  if (self->marks_.size() > 1 && at - self->marks_.front().first > 2 * keep) {
    while (self->marks_.size() > 1 && at - self->marks_.front().first > keep)
      self->marks_.pop_front();
    const std::size_t dropped = self->marks_.front().second;
    self->kept_.erase(self->kept_.begin(), self->kept_.begin() + static_cast<long>(dropped));
    for (auto& mark : self->marks_) mark.second -= dropped;
  }
}

std::size_t GstPreRoll::OffsetAt(GstClockTime time) const {
  if (marks_.empty() || time <= marks_.front().first)
    return 0;
  auto mark = std::upper_bound(marks_.begin(), marks_.end(), time,
                               [](GstClockTime t, const auto& m) { return t < m.first; });
  --mark;
  const auto bpf = static_cast<std::size_t>(GST_AUDIO_INFO_BPF(&info_));
  const std::size_t frames =
      gst_util_uint64_scale_int(time - mark->first, GST_AUDIO_INFO_RATE(&info_), GST_SECOND);
  return std::min(mark->second + frames * bpf, kept_.size() / bpf * bpf);
}

GstClockTime GstPreRoll::KeptUntil() const {
  if (marks_.empty())
    return 0;
  const auto bpf = static_cast<std::size_t>(GST_AUDIO_INFO_BPF(&info_));
  return marks_.back().first +
         gst_util_uint64_scale_int((kept_.size() - marks_.back().second) / bpf, GST_SECOND,
                                   GST_AUDIO_INFO_RATE(&info_));
}

std::vector<std::uint8_t> GstPreRoll::Before(GstClockTime from, GstClockTime until, GstBuffer* live,
                                             const GstAudioInfo& liveInfo) {
  std::unique_lock lock(mutex_);
  grown_.wait_for(lock, kCatchUpWait, [&] {
    return formatKnown_ && KeptUntil() >= until + kMatchLatest + GST_SECOND / kMatchFramesPerSecond;
  });
  if (!formatKnown_ || GST_AUDIO_INFO_FORMAT(&info_) != GST_AUDIO_INFO_FORMAT(&liveInfo) ||
      GST_AUDIO_INFO_RATE(&info_) != GST_AUDIO_INFO_RATE(&liveInfo) ||
      GST_AUDIO_INFO_CHANNELS(&info_) != GST_AUDIO_INFO_CHANNELS(&liveInfo))
    return {};
  const auto bpf = static_cast<std::size_t>(GST_AUDIO_INFO_BPF(&info_));
  std::size_t start = OffsetAt(from);
  std::size_t end = OffsetAt(until);
  GstMapInfo map;
  if (GST_AUDIO_INFO_FORMAT(&info_) == GST_AUDIO_FORMAT_S16LE &&
      gst_buffer_map(live, &map, GST_MAP_READ)) {
    // Where the live stream's first frames are in what is kept, nearest to where the clock
    // puts them when the sound repeats (silence, a steady tone).
    const std::size_t probe = std::min<std::size_t>(
        static_cast<std::size_t>(GST_AUDIO_INFO_RATE(&info_)) / kMatchFramesPerSecond * bpf,
        map.size / bpf * bpf);
    const std::size_t samples = probe / 2;
    const std::size_t last =
        std::min(kept_.size() >= probe ? kept_.size() - probe : 0, OffsetAt(until + kMatchLatest));
    const std::size_t first = std::max(start, OffsetAt(until - kMatchEarliest));
    std::int64_t best = static_cast<std::int64_t>(samples) * kMatchTolerance + 1;
    std::size_t found = 0;
    bool any = false;
    for (std::size_t at = first; probe > 0 && at <= last && kept_.size() >= probe; at += bpf) {
      std::int64_t cost = 0;
      for (std::size_t i = 0; i < samples && cost <= best; ++i) {
        std::int16_t a = 0;
        std::int16_t b = 0;
        std::memcpy(&a, kept_.data() + at + 2 * i, 2);
        std::memcpy(&b, map.data + 2 * i, 2);
        cost += std::abs(a - b);
      }
      const auto distance = [&](std::size_t p) { return p > end ? p - end : end - p; };
      if (cost < best || (cost == best && any && distance(at) < distance(found))) {
        best = cost;
        found = at;
        any = true;
      }
    }
    gst_buffer_unmap(live, &map);
    if (any) {
      // Exactly the length asked for before the join: the kept stream's clock marks may be
      // some tens of milliseconds off the live stream's.
      const std::size_t length =
          gst_util_uint64_scale_int(until - from, GST_AUDIO_INFO_RATE(&info_), GST_SECOND) * bpf;
      end = found;
      start = end > length ? end - length : 0;
    } else
      qCDebug(lcGraph, "The recording's stream was not found in the audio kept before it");
  }
  if (end <= start)
    return {};
  return {kept_.begin() + static_cast<long>(start), kept_.begin() + static_cast<long>(end)};
}

}  // namespace tonvale::platform
