#include "platform/gst/gst_filter_graph.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/gst_element_filter.h"
#include "platform/gst/gst_pins.h"

namespace tonvale::platform {
namespace {

bool HasLinkedPad(GstElement* element) {
  for (auto direction : {GST_PAD_SINK, GST_PAD_SRC}) {
    for (const auto& pad : PadsOf(element, direction)) {
      if (gst_pad_is_linked(pad.get()))
        return true;
    }
  }
  return false;
}

bool CarriesRawAudio(GstPad* pad) {
  GstCaps* caps = gst_pad_query_caps(pad, nullptr);
  bool raw = false;
  for (guint i = 0; caps != nullptr && i < gst_caps_get_size(caps) && !raw; ++i) {
    raw = gst_structure_has_name(gst_caps_get_structure(caps, i), "audio/x-raw");
  }
  if (caps != nullptr)
    gst_caps_unref(caps);
  return raw;
}

bool IsPulseSource(GstObject* object) {
  if (object == nullptr || !GST_IS_ELEMENT(object))
    return false;
  GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(object));
  return factory != nullptr &&
         std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "pulsesrc") == 0;
}

// The debug text without its first line, which only says where in GStreamer it came from.
std::string ErrorDetail(const char* debug) {
  if (debug == nullptr)
    return {};
  std::string rest(debug);
  const auto firstEnd = rest.find('\n');
  if (firstEnd == std::string::npos)
    return {};
  rest.erase(0, firstEnd + 1);
  std::replace(rest.begin(), rest.end(), '\n', ' ');
  return rest;
}

GstPadProbeReturn DropData(GstPad*, GstPadProbeInfo*, gpointer) {
  return GST_PAD_PROBE_DROP;
}

// A filter that ends the stream and takes anything (the File Writer) writes bytes as they
// come: raw audio is never rendered straight into it.
bool IsRawWriter(GstElement* element, GstPad* sink) {
  if (!PadsOf(element, GST_PAD_SRC).empty())
    return false;
  GstCaps* caps = gst_pad_get_pad_template_caps(sink);
  const bool any = caps != nullptr && gst_caps_is_any(caps);
  if (caps != nullptr)
    gst_caps_unref(caps);
  return any;
}

}  // namespace

std::shared_ptr<GstFilterGraph> GstFilterGraph::Create() {
  std::shared_ptr<GstFilterGraph> graph(new GstFilterGraph());
  if (!graph->Init())
    return nullptr;
  return graph;
}

bool GstFilterGraph::Init() {
  if (!EnsureGstInitialized())
    return false;
  pipeline_ = gst_pipeline_new(nullptr);
  if (pipeline_ == nullptr)
    return false;
  gst_object_ref_sink(pipeline_);
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, &GstFilterGraph::OnBusMessage, this, nullptr);
  gst_object_unref(bus);
  return true;
}

GstFilterGraph::~GstFilterGraph() {
  JoinStart();
  events_.SetNotify({}, 0);
  if (pipeline_ != nullptr) {
    Finish();
    for (auto& entry : entries_) {
      if (entry.inPipeline)
        gst_bin_remove(GST_BIN(pipeline_), entry.element);
      entry.filter->JoinFilterGraph(nullptr);
    }
    links_.clear();
    preRoll_.reset();
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
  }
}

// ---- Building ----

GstFilterGraph::Entry* GstFilterGraph::FindEntry(const Filter* filter) {
  for (auto& entry : entries_) {
    if (entry.filter.get() == filter)
      return &entry;
  }
  return nullptr;
}

GstFilterGraph::Entry* GstFilterGraph::FindEntryOfElement(const GstElement* element) {
  for (auto& entry : entries_) {
    if (entry.element == element)
      return &entry;
  }
  return nullptr;
}

HRESULT GstFilterGraph::AddFilter(const std::shared_ptr<Filter>& filter, const std::string& name) {
  if (!filter)
    return E_POINTER;
  JoinStart();
  if (FindEntry(filter.get()) != nullptr)
    return E_INVALIDARG;
  Entry entry;
  entry.filter = filter;
  entry.name = name;
  MediaEventSink* joined = nullptr;
  if (auto* capture = dynamic_cast<GstCaptureFilter*>(filter.get())) {
    entry.capture = capture;
    entry.element = capture->element();
    joined = capture->graph();
  } else if (auto* other = dynamic_cast<GstElementFilter*>(filter.get())) {
    entry.element = other->element();
    joined = other->graph();
  } else {
    qCWarning(lcGraph, "Filter \"%s\" does not belong to this media layer", name.c_str());
    return E_INVALIDARG;
  }
  if (entry.element == nullptr)
    return E_FAIL;
  if (joined != nullptr || GST_OBJECT_PARENT(entry.element) != nullptr) {
    qCWarning(lcGraph, "Filter \"%s\" is already in a graph", name.c_str());
    return E_INVALIDARG;
  }
  entries_.push_back(std::move(entry));
  Entry& added = entries_.back();
  if (added.capture != nullptr) {
    Attach(&added);
    if (!added.inPipeline) {
      entries_.pop_back();
      return E_FAIL;
    }
  }
  added.filter->JoinFilterGraph(this);
  qCDebug(lcGraph, "Added filter \"%s\"", added.name.c_str());
  return S_OK;
}

HRESULT GstFilterGraph::RemoveFilter(const std::shared_ptr<Filter>& filter) {
  if (!filter)
    return E_POINTER;
  JoinStart();
  Entry* entry = FindEntry(filter.get());
  if (entry == nullptr)
    return E_INVALIDARG;
  if (entry->capture != nullptr)
    preRoll_.reset();
  if (CurrentState() != GST_STATE_NULL)
    Finish();
  GstElement* element = entry->element;
  for (auto it = links_.begin(); it != links_.end();) {
    if (GST_PAD_PARENT(it->src.get()) == element || GST_PAD_PARENT(it->sink.get()) == element) {
      Undo(*it);
      it = links_.erase(it);
    } else {
      ++it;
    }
  }
  if (entry->inPipeline) {
    gst_element_set_state(element, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_), element);
    entry->inPipeline = false;
  }
  entry = nullptr;
  std::shared_ptr<Filter> keep = filter;
  std::erase_if(entries_, [&](const Entry& e) { return e.filter == filter; });
  keep->JoinFilterGraph(nullptr);
  DetachUnlinked();
  return S_OK;
}

void GstFilterGraph::Attach(Entry* entry) {
  if (entry->inPipeline)
    return;
  entry->inPipeline = gst_bin_add(GST_BIN(pipeline_), entry->element) != FALSE;
}

void GstFilterGraph::DetachUnlinked() {
  for (auto& entry : entries_) {
    if (entry.capture != nullptr || !entry.inPipeline || HasLinkedPad(entry.element))
      continue;
    gst_element_set_state(entry.element, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_), entry.element);
    entry.inPipeline = false;
  }
}

GstPad* GstFilterGraph::PadOfPin(const Pin* pin, Entry** owner) {
  for (auto& entry : entries_) {
    if (entry.capture != nullptr) {
      if (entry.capture->IsOutputPin(pin)) {
        *owner = &entry;
        return gst_element_get_static_pad(entry.element, "src");
      }
      continue;
    }
    std::unique_ptr<PinEnumerator> pins;
    if (Failed(entry.filter->EnumPins(&pins)) || !pins)
      continue;
    std::shared_ptr<Pin> candidate;
    while (pins->Next(&candidate) == S_OK) {
      if (candidate.get() != pin)
        continue;
      const auto* padPin = dynamic_cast<const GstPadPin*>(pin);
      if (padPin == nullptr)
        return nullptr;
      *owner = &entry;
      return gst_element_get_static_pad(entry.element, padPin->padName().c_str());
    }
  }
  return nullptr;
}

HRESULT GstFilterGraph::Render(const std::shared_ptr<Pin>& pin) {
  if (!pin)
    return E_POINTER;
  JoinStart();
  Entry* owner = nullptr;
  GstRef<GstPad> src(PadOfPin(pin.get(), &owner));
  if (!src || GST_PAD_DIRECTION(src.get()) != GST_PAD_SRC)
    return E_INVALIDARG;
  if (gst_pad_is_linked(src.get()) || CurrentState() != GST_STATE_NULL)
    return E_UNEXPECTED;
  Attach(owner);
  std::vector<Link> made;
  if (!owner->inPipeline || !RenderPad(src.get(), owner, &made, 0)) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) Undo(*it);
    DetachUnlinked();
    qCWarning(lcGraph, "Could not render the output of \"%s\"", owner->name.c_str());
    return VFW_E_CANNOT_RENDER;
  }
  for (auto& link : made) links_.push_back(std::move(link));
  // Filters tried on the way and not used must not run with the chain.
  DetachUnlinked();
  return S_OK;
}

bool GstFilterGraph::RenderPad(GstPad* src, const Entry* owner, std::vector<Link>* made,
                               int depth) {
  constexpr int kMaxDepth = 8;
  if (depth > kMaxDepth)
    return false;
  // Free filters that pass the stream on come first, then those that end it; newest first.
  std::vector<Entry*> passOn;
  std::vector<Entry*> ends;
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    Entry& entry = *it;
    if (&entry == owner || entry.capture != nullptr || HasLinkedPad(entry.element))
      continue;
    (PadsOf(entry.element, GST_PAD_SRC).empty() ? ends : passOn).push_back(&entry);
  }
  passOn.insert(passOn.end(), ends.begin(), ends.end());
  for (Entry* target : passOn) {
    for (const auto& sink : PadsOf(target->element, GST_PAD_SINK)) {
      const std::size_t mark = made->size();
      if (!TryLink(src, target, sink.get(), made))
        continue;
      bool onward = true;
      for (const auto& next : PadsOf(target->element, GST_PAD_SRC)) {
        if (!RenderPad(next.get(), target, made, depth + 1)) {
          onward = false;
          break;
        }
      }
      if (onward)
        return true;
      while (made->size() > mark) {
        Undo(made->back());
        made->pop_back();
      }
    }
  }
  return false;
}

bool GstFilterGraph::TryLink(GstPad* src, Entry* target, GstPad* sink, std::vector<Link>* made) {
  if (CarriesRawAudio(src) && IsRawWriter(target->element, sink))
    return false;
  Attach(target);
  if (!target->inPipeline)
    return false;
  if (gst_pad_link(src, sink) == GST_PAD_LINK_OK) {
    made->push_back({GstRef<GstPad>::Share(src), GstRef<GstPad>::Share(sink), {}});
    return true;
  }
  if (!CarriesRawAudio(src))
    return false;
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  if (convert == nullptr || resample == nullptr) {
    for (GstElement* e : {convert, resample}) {
      if (e != nullptr)
        gst_object_unref(gst_object_ref_sink(e));
    }
    return false;
  }
  gst_bin_add_many(GST_BIN(pipeline_), convert, resample, nullptr);
  Link link{GstRef<GstPad>::Share(src), GstRef<GstPad>::Share(sink), {convert, resample}};
  GstRef<GstPad> in(gst_element_get_static_pad(convert, "sink"));
  GstRef<GstPad> out(gst_element_get_static_pad(resample, "src"));
  const bool linked = gst_pad_link(src, in.get()) == GST_PAD_LINK_OK &&
                      gst_element_link(convert, resample) &&
                      gst_pad_link(out.get(), sink) == GST_PAD_LINK_OK;
  if (!linked) {
    Undo(link);
    return false;
  }
  made->push_back(std::move(link));
  return true;
}

void GstFilterGraph::Undo(Link& link) {
  if (link.helpers.empty()) {
    gst_pad_unlink(link.src.get(), link.sink.get());
    return;
  }
  // Removing a helper unlinks its pads.
  for (GstElement* helper : link.helpers) {
    gst_element_set_state(helper, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_), helper);
  }
  link.helpers.clear();
}

HRESULT GstFilterGraph::QueryMediaControl(std::shared_ptr<MediaControl>* control) {
  if (control == nullptr)
    return E_POINTER;
  *control = shared_from_this();
  return S_OK;
}

HRESULT GstFilterGraph::QueryMediaEvent(std::shared_ptr<MediaEvent>* events) {
  if (events == nullptr)
    return E_POINTER;
  *events = shared_from_this();
  return S_OK;
}

// ---- Running ----

GstState GstFilterGraph::CurrentState() const {
  GstState state = GST_STATE_NULL;
  gst_element_get_state(pipeline_, &state, nullptr, 0);
  return state;
}

HRESULT GstFilterGraph::ChangeState(GstState target) {
  JoinStart();
  return ChangeStateNow(target);
}

HRESULT GstFilterGraph::ChangeStateNow(GstState target) {
  if (CurrentState() <= GST_STATE_READY) {
    for (auto& entry : entries_) {
      if (entry.capture != nullptr)
        entry.capture->ApplySource();
    }
    std::lock_guard lock(streamMutex_);
    errorSeen_ = false;
    lastError_ = S_OK;
    eosReached_ = false;
  }
  StopDropping();
  GstStateChangeReturn result = gst_element_set_state(pipeline_, target);
  if (result == GST_STATE_CHANGE_ASYNC) {
    result = gst_element_get_state(pipeline_, nullptr, nullptr, kStateWaitMs * GST_MSECOND);
  }
  if (result != GST_STATE_CHANGE_SUCCESS && result != GST_STATE_CHANGE_NO_PREROLL) {
    // A failure, or a pipeline stuck on the way (a live graph gets there at once).
    HRESULT hr = E_FAIL;
    {
      std::lock_guard lock(streamMutex_);
      if (Failed(lastError_))
        hr = lastError_;
    }
    qCWarning(lcGraph, "The pipeline could not change to %s (0x%08x)",
              gst_element_state_get_name(target), static_cast<unsigned>(hr));
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    return hr;
  }
  return S_OK;
}

HRESULT GstFilterGraph::Run() {
  return ChangeState(GST_STATE_PLAYING);
}

HRESULT GstFilterGraph::RunAsync() {
  JoinStart();
  if (preRoll_ && CurrentState() == GST_STATE_NULL) {
    startedAt_ = GstPreRoll::Now();
    spliced_ = false;
    preRollLength_ = 0;
    for (auto& out : CaptureOutputs()) {
      const gulong id = gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                          &GstFilterGraph::OnLiveAudio, this, nullptr);
      spliceProbes_.emplace_back(std::move(out), id);
    }
  }
  starter_ = std::thread([this] {
    const HRESULT hr = ChangeStateNow(GST_STATE_PLAYING);
    Notify(EC_RUN_COMPLETE, hr, 0);
  });
  return S_FALSE;
}

HRESULT GstFilterGraph::SetPreRoll(int ms) {
  JoinStart();
  preRollMs_ = std::max(0, ms);
  // A running stream may be joining what is kept: the change waits for its end.
  if (CurrentState() != GST_STATE_NULL) {
    preRollChanged_ = true;
    return S_OK;
  }
  std::shared_ptr<GstCaptureFilter> capture;
  for (auto& entry : entries_) {
    if (entry.capture != nullptr)
      capture = std::dynamic_pointer_cast<GstCaptureFilter>(entry.filter);
  }
  if (preRollMs_ == 0 || !capture) {
    preRoll_.reset();
    return S_OK;
  }
  if (preRoll_ && preRoll_->keepMs() == preRollMs_ &&
      preRoll_->sourceName() == capture->source().name)
    return S_OK;
  preRoll_.reset();
  preRoll_ = GstPreRoll::Start(
      std::make_shared<GstCaptureFilter>(std::vector<std::shared_ptr<Pin>>{}, capture->source_),
      preRollMs_);
  return preRoll_ ? S_OK : E_FAIL;
}

GstPadProbeReturn GstFilterGraph::OnLiveAudio(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
  auto* graph = static_cast<GstFilterGraph*>(self);
  GstBuffer* live = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!graph->spliced_) {
    graph->spliced_ = true;
    graph->SpliceBeforeStart(pad, live);
  }
  // The live stream follows what came before the start.
  const GstClockTime before = graph->preRollLength_;
  if (before > 0 && GST_BUFFER_PTS_IS_VALID(live)) {
    live = gst_buffer_make_writable(live);
    GST_BUFFER_PTS(live) += before;
    GST_PAD_PROBE_INFO_DATA(info) = live;
  }
  return GST_PAD_PROBE_OK;
}

void GstFilterGraph::SpliceBeforeStart(GstPad* pad, GstBuffer* live) {
  GstAudioInfo audio;
  if (preRoll_ == nullptr || !CurrentAudioInfo(pad, &audio))
    return;
  const GstClockTime keep = static_cast<GstClockTime>(preRollMs_) * GST_MSECOND;
  const GstClockTime from = startedAt_ > keep ? startedAt_ - keep : 0;
  std::vector<std::uint8_t> before = preRoll_->Before(from, startedAt_, live, audio);
  const auto bpf = static_cast<std::size_t>(GST_AUDIO_INFO_BPF(&audio));
  if (before.empty())
    return;
  const GstClockTime length =
      gst_util_uint64_scale_int(before.size() / bpf, GST_SECOND, GST_AUDIO_INFO_RATE(&audio));
  GstBuffer* buffer = gst_buffer_new_memdup(before.data(), before.size());
  GST_BUFFER_PTS(buffer) = GST_BUFFER_PTS_IS_VALID(live) ? GST_BUFFER_PTS(live) : 0;
  GST_BUFFER_DURATION(buffer) = length;
  preRollLength_ = length;
  qCDebug(lcGraph, "The recording begins with %" GST_TIME_FORMAT " from before its start",
          GST_TIME_ARGS(length));
  GstRef<GstPad> next(gst_pad_get_peer(pad));
  if (next)
    gst_pad_chain(next.get(), buffer);
  else
    gst_buffer_unref(buffer);
}

void GstFilterGraph::RemoveSplice() {
  for (auto& [pad, id] : spliceProbes_) gst_pad_remove_probe(pad.get(), id);
  spliceProbes_.clear();
}

void GstFilterGraph::JoinStart() {
  if (starter_.joinable() && starter_.get_id() != std::this_thread::get_id())
    starter_.join();
}

HRESULT GstFilterGraph::Pause() {
  return ChangeState(GST_STATE_PAUSED);
}

HRESULT GstFilterGraph::Stop() {
  return Finish();
}

HRESULT GstFilterGraph::StopWhenReady() {
  return Finish();
}

// The end of a capture's stream, put on its output pad. Nothing is ever sent into the
// source itself: a live source takes its streaming lock for that, and waits with it (and
// with the element's state lock) for as long as no audio comes, which is forever when the
// sound server leaves the stream without a source.
class GstFilterGraph::EndOfStreamGate {
 public:
  // Audio captured before `stopAt` (running time; none: nothing more) still passes.
  EndOfStreamGate(GstRef<GstPad> pad, GstClockTime stopAt) : pad_(std::move(pad)), stopAt_(stopAt) {
    probe_ = gst_pad_add_probe(
        pad_.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &EndOfStreamGate::OnBuffer, this, nullptr);
  }
  // Ends the stream from this thread, unless the streaming thread has done so.
  void EndNow() {
    if (!ended_.exchange(true))
      gst_pad_push_event(pad_.get(), gst_event_new_eos());
  }
  void Remove() { gst_pad_remove_probe(pad_.get(), probe_); }

 private:
  // The fragment that holds the moment of Stop passes; the stream ends before the first
  // one captured after it, as when the source itself is told to end.
  static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* gate = static_cast<EndOfStreamGate*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST
                            ? gst_buffer_list_get(GST_PAD_PROBE_INFO_BUFFER_LIST(info), 0)
                            : GST_PAD_PROBE_INFO_BUFFER(info);
    if (!gate->ended_ && buffer != nullptr && GST_CLOCK_TIME_IS_VALID(gate->stopAt_) &&
        GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_PTS(buffer) < gate->stopAt_) {
      if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER)
        gate->CutAtStop(pad, info);
      return GST_PAD_PROBE_OK;
    }
    if (!gate->ended_.exchange(true))
      gst_pad_push_event(pad, gst_event_new_eos());
    return GST_PAD_PROBE_DROP;
  }

  // The fragment that holds the moment of Stop keeps only what was captured before it.
  void CutAtStop(GstPad* pad, GstPadProbeInfo* info) const {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_DURATION_IS_VALID(buffer) ||
        GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer) <= stopAt_)
      return;
    GstAudioInfo audio;
    if (!CurrentAudioInfo(pad, &audio))
      return;
    const GstClockTime keep = stopAt_ - GST_BUFFER_PTS(buffer);
    const guint64 frames = gst_util_uint64_scale_int(keep, GST_AUDIO_INFO_RATE(&audio), GST_SECOND);
    const gsize bytes =
        std::min<gsize>(frames * GST_AUDIO_INFO_BPF(&audio), gst_buffer_get_size(buffer));
    buffer = gst_buffer_make_writable(buffer);
    gst_buffer_resize(buffer, 0, static_cast<gssize>(bytes));
    GST_BUFFER_DURATION(buffer) = keep;
    if (GST_BUFFER_OFFSET_IS_VALID(buffer))
      GST_BUFFER_OFFSET_END(buffer) = GST_BUFFER_OFFSET(buffer) + frames;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
  }

  GstRef<GstPad> pad_;
  const GstClockTime stopAt_;
  gulong probe_ = 0;
  std::atomic<bool> ended_{false};
};

HRESULT GstFilterGraph::Finish() {
  JoinStart();
  const GstState current = CurrentState();
  HRESULT hr = S_OK;
  bool ended = false;
  {
    std::lock_guard lock(streamMutex_);
    ended = eosReached_;
  }
  // A source that fails ends the stream itself; then the files are complete already.
  if (current >= GST_STATE_PAUSED && !links_.empty() && !ended) {
    bool failed = false;
    int errors = 0;
    {
      std::lock_guard lock(streamMutex_);
      failed = errorSeen_;
      errors = errorCount_;
      waitingForEos_ = true;
    }
    EndStream(current, failed);
    std::unique_lock lock(streamMutex_);
    const auto done = [&] { return eosReached_ || errorCount_ != errors; };
    // A capture that streams ends its stream itself within a fragment or two; one that has
    // stopped delivering (its source went away under it) is ended from its output instead.
    if (!streamChanged_.wait_for(lock, std::chrono::milliseconds(kCaptureEndWaitMs), done)) {
      lock.unlock();
      for (auto& gate : gates_) gate->EndNow();
      lock.lock();
    }
    streamChanged_.wait_for(lock, std::chrono::milliseconds(kEndOfStreamWaitMs), done);
    if (!eosReached_) {
      qCWarning(lcGraph, "The stream did not end in time; its files may be incomplete");
      hr = S_FALSE;
    }
    waitingForEos_ = false;
  }
  if (current != GST_STATE_NULL)
    gst_element_set_state(pipeline_, GST_STATE_NULL);
  for (auto& gate : gates_) gate->Remove();
  gates_.clear();
  RemoveSplice();
  StopDropping();
  if (std::exchange(preRollChanged_, false))
    SetPreRoll(preRollMs_);
  return hr;
}

void GstFilterGraph::EndStream(GstState current, bool failed) {
  if (current == GST_STATE_PAUSED && !failed) {
    // Sinks post the end of stream only while playing. What a paused source captures in
    // the meantime stays out of the files.
    DropCapturedAudio();
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  }
  // The running time of this moment: what was captured until now goes into the files, and a
  // little more, since a capture clock may run behind the source (pipewire-pulse's by about
  // 35 ms): a recording keeps a few ms more rather than lose the end of the last word.
  GstClockTime now = GST_CLOCK_TIME_NONE;
  if (GstClock* clock = gst_element_get_clock(pipeline_); clock != nullptr) {
    now = gst_clock_get_time(clock) - gst_element_get_base_time(pipeline_) + kStopAllowance +
          preRollLength_;
    gst_object_unref(clock);
  }
  for (auto& out : CaptureOutputs()) {
    gates_.push_back(std::make_unique<EndOfStreamGate>(std::move(out), now));
    // A capture that failed or is paused delivers nothing more: its stream ends at once.
    if (failed || current == GST_STATE_PAUSED)
      gates_.back()->EndNow();
  }
}

std::vector<GstRef<GstPad>> GstFilterGraph::CaptureOutputs() {
  std::vector<GstRef<GstPad>> outputs;
  for (auto& entry : entries_) {
    if (entry.capture == nullptr)
      continue;
    GstRef<GstPad> out(gst_element_get_static_pad(entry.element, "src"));
    if (out)
      outputs.push_back(std::move(out));
  }
  return outputs;
}

void GstFilterGraph::DropCapturedAudio() {
  for (auto& out : CaptureOutputs()) {
    const gulong id = gst_pad_add_probe(
        out.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &DropData, nullptr, nullptr);
    dropProbes_.emplace_back(out, id);
  }
}

void GstFilterGraph::StopDropping() {
  for (auto& [pad, id] : dropProbes_) gst_pad_remove_probe(pad.get(), id);
  dropProbes_.clear();
}

// ---- Events ----

GstBusSyncReply GstFilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
  auto* graph = static_cast<GstFilterGraph*>(self);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
      graph->HandleError(message);
      break;
    case GST_MESSAGE_EOS:
      graph->HandleEndOfStream(message);
      break;
    case GST_MESSAGE_WARNING: {
      GError* error = nullptr;
      gst_message_parse_warning(message, &error, nullptr);
      qCWarning(lcGraph, "%s: %s", GST_OBJECT_NAME(GST_MESSAGE_SRC(message)),
                error != nullptr ? error->message : "");
      if (error != nullptr)
        g_error_free(error);
      break;
    }
    default:
      break;
  }
  gst_message_unref(message);
  return GST_BUS_DROP;
}

void GstFilterGraph::HandleError(GstMessage* message) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(message, &error, &debug);
  HRESULT hr = E_FAIL;
  std::string text = error != nullptr ? error->message : "Unknown streaming error";
  if (error != nullptr && error->domain == GST_RESOURCE_ERROR) {
    if (IsPulseSource(GST_MESSAGE_SRC(message))) {
      hr = VFW_E_NO_CAPTURE_HARDWARE;
    } else if (error->code == GST_RESOURCE_ERROR_OPEN_WRITE ||
               error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE ||
               error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) {
      hr = E_ACCESSDENIED;
    }
  }
  const std::string detail = ErrorDetail(debug);
  if (!detail.empty())
    text += " (" + detail + ")";
  qCWarning(lcGraph, "%s: %s", GST_OBJECT_NAME(GST_MESSAGE_SRC(message)), text.c_str());
  if (error != nullptr)
    g_error_free(error);
  g_free(debug);
  {
    std::lock_guard lock(streamMutex_);
    errorSeen_ = true;
    ++errorCount_;
    if (!Failed(lastError_))
      lastError_ = hr;
  }
  streamChanged_.notify_all();
  // A capture that failed because its device left the server is that device's removal,
  // which the device's own watch reports.
  if (hr == VFW_E_NO_CAPTURE_HARDWARE) {
    GstCaptureFilter* capture = GstCaptureFilter::OfElement(GST_MESSAGE_SRC(message));
    if (capture != nullptr && capture->DeviceGone()) {
      qCInfo(lcGraph, "The capture device has gone; its watch reports the removal");
      return;
    }
  }
  Notify(EC_ERRORABORT, hr, MakeErrorEventText(text));
}

void GstFilterGraph::HandleEndOfStream(GstMessage* message) {
  if (GST_MESSAGE_SRC(message) != GST_OBJECT(pipeline_))
    return;
  bool waited = false;
  {
    std::lock_guard lock(streamMutex_);
    eosReached_ = true;
    waited = waitingForEos_;
  }
  streamChanged_.notify_all();
  if (!waited)
    Notify(EC_COMPLETE, S_OK, 0);
}

void GstFilterGraph::Notify(long code, std::intptr_t param1, std::intptr_t param2) {
  events_.Push(code, param1, param2);
}

HRESULT GstFilterGraph::SetNotifyWindow(NotifyFn notify, std::intptr_t instance) {
  events_.SetNotify(std::move(notify), instance);
  return S_OK;
}

HRESULT GstFilterGraph::GetEvent(long* code, std::intptr_t* param1, std::intptr_t* param2,
                                 int timeoutMs) {
  return events_.Get(code, param1, param2, timeoutMs);
}

HRESULT GstFilterGraph::FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) {
  FreeStandardEventParams(code, param1, param2);
  return S_OK;
}

}  // namespace tonvale::platform
