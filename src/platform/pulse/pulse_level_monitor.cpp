#include "platform/pulse/pulse_level_monitor.h"

#include <pulse/introspect.h>
#include <pulse/stream.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

#include "platform/pulse/pulse_lines.h"

namespace tonvale::platform {

namespace {

using Clock = std::chrono::steady_clock;
// Levels older than this are no longer shown: the stream stopped delivering.
constexpr auto kStale = std::chrono::milliseconds(250);

}  // namespace

// What the libpulse thread and the UI thread share about one metered source. The stream, the
// query and `active` are guarded by the loop lock, the sums and levels by `mutex`.
struct PulseLevelMonitor::Meter {
  PulseContext* context = nullptr;
  std::string source;
  pa_stream* stream = nullptr;
  pa_operation* query = nullptr;
  std::uint32_t index = kNoIndex;
  int subscription = 0;
  bool active = true;

  std::mutex mutex;
  std::vector<float> peak;
  std::vector<double> squares;
  std::size_t frames = 0;
  LineLevels last;
  Clock::time_point lastSound;
  bool muted = false;

  // Asks for the source's state (its mute flag; its format when no stream runs yet).
  void Query(pa_context* c, bool byName) {
    if (query != nullptr) {
      pa_operation_cancel(query);
      pa_operation_unref(query);
    }
    query = byName ? pa_context_get_source_info_by_name(c, source.c_str(), &Meter::OnInfo, this)
                   : pa_context_get_source_info_by_index(c, index, &Meter::OnInfo, this);
  }

  static void OnInfo(pa_context* c, const pa_source_info* info, int eol, void* userdata) {
    auto* m = static_cast<Meter*>(userdata);
    if (eol != 0) {
      if (m->query != nullptr) {
        pa_operation_unref(m->query);
        m->query = nullptr;
      }
      return;
    }
    if (!m->active)
      return;
    m->index = info->index;
    {
      std::lock_guard lock(m->mutex);
      m->muted = info->mute != 0;
    }
    if (m->stream == nullptr)
      m->Open(c, *info);
  }

  void Open(pa_context* c, const pa_source_info& info) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, info.sample_spec.rate,
                                info.sample_spec.channels};
    if (pa_sample_spec_valid(&format) == 0)
      return;
    pa_channel_map map = info.channel_map;
    if (pa_channel_map_valid(&map) == 0 || map.channels != format.channels)
      pa_channel_map_init_extend(&map, format.channels, PA_CHANNEL_MAP_DEFAULT);
    stream = pa_stream_new(c, "Level meter", &format, &map);
    if (stream == nullptr)
      return;
    {
      std::lock_guard lock(mutex);
      peak.assign(format.channels, 0.0F);
      squares.assign(format.channels, 0.0);
      frames = 0;
    }
    pa_stream_set_read_callback(stream, &Meter::OnRead, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &format));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source.c_str(), &attr, flags) < 0) {
      qCWarning(lcDevices) << "level meter cannot read" << source.c_str();
      Close();
    }
  }

  void Close() {
    if (stream == nullptr)
      return;
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
  }

  bool Streaming() const {
    if (stream == nullptr)
      return false;
    const pa_stream_state_t state = pa_stream_get_state(stream);
    return state == PA_STREAM_CREATING || state == PA_STREAM_READY;
  }

  static void OnRead(pa_stream* s, std::size_t /*bytes*/, void* userdata) {
    auto* m = static_cast<Meter*>(userdata);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
      if (data != nullptr)  // nullptr: a hole in the stream
        m->Add(static_cast<const float*>(data), bytes / sizeof(float));
      pa_stream_drop(s);
    }
  }

  void Add(const float* samples, std::size_t count) {
    std::lock_guard lock(mutex);
    const std::size_t channels = peak.size();
    if (channels == 0)
      return;
    const std::size_t frameCount = count / channels;
    for (std::size_t f = 0; f < frameCount; ++f) {
      for (std::size_t ch = 0; ch < channels; ++ch) {
        const float v = samples[f * channels + ch];
        peak[ch] = std::max(peak[ch], std::fabs(v));
        squares[ch] += static_cast<double>(v) * v;
      }
    }
    frames += frameCount;
  }
};

PulseLevelMonitor::~PulseLevelMonitor() {
  Stop();
}

HRESULT PulseLevelMonitor::Watch(const std::shared_ptr<Pin>& line) {
  const auto* pin = dynamic_cast<const PulseInputPin*>(line.get());
  if (pin == nullptr) {
    Stop();
    return E_INVALIDARG;
  }
  return WatchSource(pin->source());
}

HRESULT PulseLevelMonitor::WatchSource(const std::string& source) {
  if (meter_ && meter_->source == source && context_ && context_->connected()) {
    bool streaming = false;
    context_->WithConnection([&](pa_context*) { streaming = meter_->Streaming(); });
    if (streaming)
      return S_OK;
  }
  Stop();
  if (!context_ || !context_->connected()) {
    context_.reset();
    HRESULT hr = PulseContext::Connect(&context_);
    if (Failed(hr))
      return hr;
  }
  auto meter = std::make_shared<Meter>();
  meter->context = context_.get();
  meter->source = source;
  Meter* m = meter.get();
  context_->WithConnection([&](pa_context* c) {
    m->subscription = context_->Subscribe([m](PulseFacility f, PulseEvent e, std::uint32_t idx) {
      if (!m->active || f != PulseFacility::Source)
        return;
      if (e == PulseEvent::Change && idx == m->index) {
        m->context->WithConnection([m](pa_context* ctx) { m->Query(ctx, false); });
      } else if (e == PulseEvent::New && !m->Streaming()) {
        // The source may be back under its name.
        m->Close();
        m->context->WithConnection([m](pa_context* ctx) { m->Query(ctx, true); });
      }
    });
    m->Query(c, true);
  });
  meter_ = std::move(meter);
  return S_OK;
}

void PulseLevelMonitor::Stop() {
  if (!meter_)
    return;
  if (context_) {
    Meter* m = meter_.get();
    context_->WithConnection([&](pa_context*) {
      m->active = false;
      if (m->query != nullptr) {
        pa_operation_cancel(m->query);
        pa_operation_unref(m->query);
        m->query = nullptr;
      }
      m->Close();
      context_->Unsubscribe(m->subscription);
    });
  }
  meter_.reset();
}

bool PulseLevelMonitor::Read(LineLevels* levels) {
  if (levels == nullptr || !meter_)
    return false;
  Meter& m = *meter_;
  std::lock_guard lock(m.mutex);
  const Clock::time_point now = Clock::now();
  if (m.frames > 0) {
    m.last.channels.resize(m.peak.size());
    for (std::size_t ch = 0; ch < m.peak.size(); ++ch) {
      m.last.channels[ch] = {m.peak[ch],
                             static_cast<float>(std::sqrt(m.squares[ch] / double(m.frames)))};
      m.peak[ch] = 0.0F;
      m.squares[ch] = 0.0;
    }
    m.frames = 0;
    m.lastSound = now;
  } else if (now - m.lastSound > kStale) {
    m.last.channels.clear();
  }
  levels->channels = m.last.channels;
  levels->muted = m.muted;
  return true;
}

}  // namespace tonvale::platform
