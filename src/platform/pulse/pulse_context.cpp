#include "platform/pulse/pulse_context.h"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <chrono>

Q_LOGGING_CATEGORY(lcDevices, "tonvale.devices")

namespace tonvale::platform {

// Holds the loop lock unless the caller already runs on the loop thread (where libpulse
// holds it around every callback).
class PulseContext::LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop)
      : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop) {
    if (loop_ != nullptr)
      pa_threaded_mainloop_lock(loop_);
  }
  ~LoopLock() {
    if (loop_ != nullptr)
      pa_threaded_mainloop_unlock(loop_);
  }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

// One blocking call in flight. `pending`, `ok` and `error` are guarded by waitMutex_; the
// payload of a derived request is written only on the loop thread before it finishes.
struct PulseContext::Request {
  PulseContext* owner = nullptr;
  int pending = 1;
  bool ok = true;
  int error = PA_OK;
};

// Everything below is guarded by the loop lock.
struct PulseContext::WatchState {
  PulseFacility facility = PulseFacility::Card;
  std::string name;
  std::uint32_t index = kNoIndex;
  bool present = true;
  bool active = true;
  std::function<void(bool)> changed;
};

struct PulseContext::Lookup {
  PulseContext* owner = nullptr;
  std::shared_ptr<WatchState> watch;
  bool byName = false;
  bool found = false;
  std::uint32_t foundIndex = kNoIndex;
};

namespace {

std::string Text(const char* s) {
  return s != nullptr ? std::string(s) : std::string();
}

bool IsDead(pa_context_state_t state) {
  return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

HRESULT ResultOf(int error) {
  return error == PA_ERR_NOENTITY ? VFW_E_NO_CAPTURE_HARDWARE : E_FAIL;
}

Speaker SpeakerOf(pa_channel_position_t position) {
  switch (position) {
    case PA_CHANNEL_POSITION_MONO:
      return Speaker::Mono;
    case PA_CHANNEL_POSITION_FRONT_LEFT:
      return Speaker::FrontLeft;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
      return Speaker::FrontRight;
    case PA_CHANNEL_POSITION_FRONT_CENTER:
      return Speaker::FrontCenter;
    case PA_CHANNEL_POSITION_LFE:
      return Speaker::Lfe;
    case PA_CHANNEL_POSITION_REAR_LEFT:
      return Speaker::RearLeft;
    case PA_CHANNEL_POSITION_REAR_RIGHT:
      return Speaker::RearRight;
    case PA_CHANNEL_POSITION_REAR_CENTER:
      return Speaker::RearCenter;
    case PA_CHANNEL_POSITION_SIDE_LEFT:
      return Speaker::SideLeft;
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
      return Speaker::SideRight;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
      return Speaker::FrontLeftOfCenter;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
      return Speaker::FrontRightOfCenter;
    case PA_CHANNEL_POSITION_TOP_CENTER:
      return Speaker::TopCenter;
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
      return Speaker::TopFrontLeft;
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
      return Speaker::TopFrontRight;
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER:
      return Speaker::TopFrontCenter;
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
      return Speaker::TopRearLeft;
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
      return Speaker::TopRearRight;
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER:
      return Speaker::TopRearCenter;
    default:
      return Speaker::Other;
  }
}

void FillSource(const pa_source_info* i, PulseSource* s) {
  s->index = i->index;
  s->name = Text(i->name);
  s->description = i->description != nullptr ? Text(i->description) : s->name;
  s->card = i->card;
  s->monitorOfSink = i->monitor_of_sink;
  s->volume = i->volume;
  s->ports.clear();
  for (std::uint32_t p = 0; p < i->n_ports; ++p) {
    const pa_source_port_info* port = i->ports[p];
    if (port == nullptr)
      continue;
    s->ports.push_back({Text(port->name),
                        port->description != nullptr ? Text(port->description) : Text(port->name)});
  }
  s->activePort = i->active_port != nullptr ? Text(i->active_port->name) : std::string();
  s->format = {};
  if (pa_sample_spec_valid(&i->sample_spec) != 0) {
    s->format.channels = i->sample_spec.channels;
    s->format.rate = static_cast<int>(i->sample_spec.rate);
    if (i->channel_map.channels == i->sample_spec.channels) {
      for (unsigned c = 0; c < i->channel_map.channels; ++c)
        s->format.speakers.push_back(SpeakerOf(i->channel_map.map[c]));
    }
  }
}

}  // namespace

HRESULT PulseContext::Connect(std::shared_ptr<PulseContext>* context, int timeoutMs) {
  if (context == nullptr)
    return E_POINTER;
  context->reset();
  std::shared_ptr<PulseContext> self(new PulseContext());
  self->loop_ = pa_threaded_mainloop_new();
  if (self->loop_ == nullptr)
    return E_FAIL;
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tonvale");
  self->context_ =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(self->loop_), "Tonvale", props);
  pa_proplist_free(props);
  if (self->context_ == nullptr)
    return E_FAIL;
  pa_context_set_state_callback(self->context_, &PulseContext::OnState, self.get());
  pa_context_set_subscribe_callback(self->context_, &PulseContext::OnSubscription, self.get());
  if (pa_context_connect(self->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    qCDebug(lcDevices) << "pulse connect failed:" << pa_strerror(pa_context_errno(self->context_));
    return E_FAIL;
  }
  if (pa_threaded_mainloop_start(self->loop_) < 0)
    return E_FAIL;

  std::unique_lock lock(self->waitMutex_);
  self->waitCond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return self->state_ == PA_CONTEXT_READY || IsDead(self->state_);
  });
  const pa_context_state_t state = self->state_;
  lock.unlock();
  if (state != PA_CONTEXT_READY) {
    qCDebug(lcDevices) << "no pulse server reachable:" << (IsDead(state) ? "refused" : "timed out");
    return IsDead(state) ? E_FAIL : E_ABORT;
  }
  *context = std::move(self);
  return S_OK;
}

PulseContext::~PulseContext() {
  if (loop_ == nullptr)
    return;
  const bool inThread = pa_threaded_mainloop_in_thread(loop_) != 0;
  if (!inThread)
    pa_threaded_mainloop_lock(loop_);
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    // Cancels every operation in flight: their callbacks will not run.
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  lookups_.clear();
  subscribers_.clear();
  if (inThread) {
    // A loop cannot be stopped from its own thread; it is left to the process.
    qCWarning(lcDevices) << "pulse context released on its own thread; loop left running";
    return;
  }
  pa_threaded_mainloop_unlock(loop_);
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
}

bool PulseContext::connected() const {
  std::lock_guard lock(waitMutex_);
  return state_ == PA_CONTEXT_READY;
}

void PulseContext::OnState(pa_context* c, void* userdata) {
  auto* self = static_cast<PulseContext*>(userdata);
  const pa_context_state_t state = pa_context_get_state(c);
  if (state == PA_CONTEXT_READY) {
    auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_CARD | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE);
    if (pa_operation* op = pa_context_subscribe(c, mask, nullptr, nullptr))
      pa_operation_unref(op);
  }
  {
    std::lock_guard lock(self->waitMutex_);
    self->state_ = state;
    self->waitCond_.notify_all();
  }
  if (IsDead(state)) {
    qCInfo(lcDevices) << "pulse connection ended:" << pa_strerror(pa_context_errno(c));
    self->Dispatch(PulseFacility::Card, PulseEvent::Disconnected, kNoIndex);
  }
}

void PulseContext::Finish(Request* request, bool ok) {
  const int error = ok ? PA_OK : pa_context_errno(context_);
  std::lock_guard lock(waitMutex_);
  if (!ok) {
    request->ok = false;
    request->error = error;
  }
  --request->pending;
  waitCond_.notify_all();
}

HRESULT PulseContext::Run(Request* request, const StartFn& start, int timeoutMs) {
  if (pa_threaded_mainloop_in_thread(loop_))
    return E_UNEXPECTED;  // would wait on itself
  request->owner = this;
  std::vector<pa_operation*> ops;
  {
    LoopLock lock(loop_);
    if (!connected())
      return E_FAIL;
    ops = start(context_);
    const bool issued = !ops.empty() && std::ranges::find(ops, nullptr) == ops.end();
    if (!issued) {
      qCDebug(lcDevices) << "pulse request refused:" << pa_strerror(pa_context_errno(context_));
      for (pa_operation* op : ops) {
        if (op == nullptr)
          continue;
        pa_operation_cancel(op);
        pa_operation_unref(op);
      }
      return E_FAIL;
    }
    std::lock_guard count(waitMutex_);
    request->pending = static_cast<int>(ops.size());
  }

  std::unique_lock wait(waitMutex_);
  waitCond_.wait_for(wait, std::chrono::milliseconds(timeoutMs),
                     [&] { return request->pending <= 0 || IsDead(state_); });
  wait.unlock();

  {
    LoopLock lock(loop_);
    for (pa_operation* op : ops) {
      if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_operation_cancel(op);
      pa_operation_unref(op);
    }
  }
  // No callback of this request can run any more.
  std::lock_guard done(waitMutex_);
  if (request->pending > 0) {
    qCDebug(lcDevices) << "pulse request did not complete:"
                       << (IsDead(state_) ? "server gone" : "timed out");
    return IsDead(state_) ? E_FAIL : E_ABORT;
  }
  return request->ok ? S_OK : ResultOf(request->error);
}

HRESULT PulseContext::QuerySnapshot(PulseSnapshot* snapshot, int timeoutMs) {
  if (snapshot == nullptr)
    return E_POINTER;
  struct Req : Request {
    PulseSnapshot data;
  } req;
  auto cardCb = [](pa_context*, const pa_card_info* i, int eol, void* ud) {
    auto* r = static_cast<Req*>(ud);
    if (eol != 0)
      return r->owner->Finish(r, eol > 0);
    const char* desc = pa_proplist_gets(i->proplist, PA_PROP_DEVICE_DESCRIPTION);
    r->data.cards.push_back(
        {i->index, Text(i->name), desc != nullptr ? Text(desc) : Text(i->name)});
  };
  auto sinkCb = [](pa_context*, const pa_sink_info* i, int eol, void* ud) {
    auto* r = static_cast<Req*>(ud);
    if (eol != 0)
      return r->owner->Finish(r, eol > 0);
    r->data.sinks.push_back({i->index, Text(i->name),
                             i->description != nullptr ? Text(i->description) : Text(i->name),
                             i->card, i->monitor_source});
  };
  auto sourceCb = [](pa_context*, const pa_source_info* i, int eol, void* ud) {
    auto* r = static_cast<Req*>(ud);
    if (eol != 0)
      return r->owner->Finish(r, eol > 0);
    PulseSource s;
    FillSource(i, &s);
    r->data.sources.push_back(std::move(s));
  };
  auto serverCb = [](pa_context*, const pa_server_info* i, void* ud) {
    auto* r = static_cast<Req*>(ud);
    if (i != nullptr)
      r->data.defaultSink = Text(i->default_sink_name);
    r->owner->Finish(r, i != nullptr);
  };
  HRESULT hr = Run(
      &req,
      [&](pa_context* c) {
        return std::vector<pa_operation*>{pa_context_get_card_info_list(c, cardCb, &req),
                                          pa_context_get_sink_info_list(c, sinkCb, &req),
                                          pa_context_get_source_info_list(c, sourceCb, &req),
                                          pa_context_get_server_info(c, serverCb, &req)};
      },
      timeoutMs);
  if (Failed(hr))
    return hr;
  auto byIndex = [](const auto& a, const auto& b) { return a.index < b.index; };
  std::ranges::sort(req.data.cards, byIndex);
  std::ranges::sort(req.data.sinks, byIndex);
  std::ranges::sort(req.data.sources, byIndex);
  *snapshot = std::move(req.data);
  return S_OK;
}

HRESULT PulseContext::QuerySource(const std::string& name, PulseSource* source, int timeoutMs) {
  if (source == nullptr)
    return E_POINTER;
  struct Req : Request {
    bool found = false;
    PulseSource data;
  } req;
  auto cb = [](pa_context*, const pa_source_info* i, int eol, void* ud) {
    auto* r = static_cast<Req*>(ud);
    if (eol != 0)
      return r->owner->Finish(r, eol > 0);
    r->found = true;
    FillSource(i, &r->data);
  };
  HRESULT hr = Run(
      &req,
      [&](pa_context* c) {
        return std::vector<pa_operation*>{
            pa_context_get_source_info_by_name(c, name.c_str(), cb, &req)};
      },
      timeoutMs);
  if (Failed(hr))
    return hr;
  if (!req.found)
    return VFW_E_NO_CAPTURE_HARDWARE;
  *source = std::move(req.data);
  return S_OK;
}

HRESULT PulseContext::SetSourcePort(const std::string& source, const std::string& port,
                                    int timeoutMs) {
  Request req;
  auto cb = [](pa_context*, int success, void* ud) {
    auto* r = static_cast<Request*>(ud);
    r->owner->Finish(r, success != 0);
  };
  return Run(
      &req,
      [&](pa_context* c) {
        return std::vector<pa_operation*>{
            pa_context_set_source_port_by_name(c, source.c_str(), port.c_str(), cb, &req)};
      },
      timeoutMs);
}

HRESULT PulseContext::SetSourceVolume(const std::string& source, const pa_cvolume& volume,
                                      int timeoutMs) {
  if (!pa_cvolume_valid(&volume))
    return E_INVALIDARG;
  Request req;
  auto cb = [](pa_context*, int success, void* ud) {
    auto* r = static_cast<Request*>(ud);
    r->owner->Finish(r, success != 0);
  };
  return Run(
      &req,
      [&](pa_context* c) {
        return std::vector<pa_operation*>{
            pa_context_set_source_volume_by_name(c, source.c_str(), &volume, cb, &req)};
      },
      timeoutMs);
}

void PulseContext::WithConnection(const std::function<void(pa_context*)>& use) {
  LoopLock lock(loop_);
  use(context_);
}

int PulseContext::Subscribe(EventFn callback) {
  LoopLock lock(loop_);
  const int id = nextSubscriber_++;
  subscribers_.emplace(id, std::move(callback));
  return id;
}

void PulseContext::Unsubscribe(int id) {
  LoopLock lock(loop_);
  subscribers_.erase(id);
}

void PulseContext::OnSubscription(pa_context*, pa_subscription_event_type_t type,
                                  std::uint32_t index, void* userdata) {
  PulseFacility facility;
  switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_CARD:
      facility = PulseFacility::Card;
      break;
    case PA_SUBSCRIPTION_EVENT_SINK:
      facility = PulseFacility::Sink;
      break;
    case PA_SUBSCRIPTION_EVENT_SOURCE:
      facility = PulseFacility::Source;
      break;
    default:
      return;
  }
  PulseEvent event;
  switch (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) {
    case PA_SUBSCRIPTION_EVENT_NEW:
      event = PulseEvent::New;
      break;
    case PA_SUBSCRIPTION_EVENT_REMOVE:
      event = PulseEvent::Remove;
      break;
    default:
      event = PulseEvent::Change;
      break;
  }
  static_cast<PulseContext*>(userdata)->Dispatch(facility, event, index);
}

void PulseContext::Dispatch(PulseFacility facility, PulseEvent event, std::uint32_t index) {
  // A callback may unsubscribe itself or others: look each one up again and call a copy.
  std::vector<int> ids;
  ids.reserve(subscribers_.size());
  for (const auto& entry : subscribers_) ids.push_back(entry.first);
  for (int id : ids) {
    auto it = subscribers_.find(id);
    if (it == subscribers_.end())
      continue;
    EventFn callback = it->second;
    callback(facility, event, index);
  }
}

std::unique_ptr<PulseContext::Watch> PulseContext::WatchPresence(
    PulseFacility facility, const std::string& name, std::uint32_t index,
    std::function<void(bool)> changed) {
  auto state = std::make_shared<WatchState>();
  state->facility = facility;
  state->name = name;
  state->index = index;
  state->changed = std::move(changed);
  LoopLock lock(loop_);
  const int id = Subscribe([this, state](PulseFacility f, PulseEvent e, std::uint32_t idx) {
    if (!state->active)
      return;
    if (e == PulseEvent::Disconnected && state->present) {
      state->present = false;
      qCInfo(lcDevices) << "device unreachable:" << state->name.c_str();
      state->changed(false);
    }
    if (f != state->facility)
      return;
    if (e == PulseEvent::Remove && state->present && idx == state->index) {
      state->present = false;
      qCInfo(lcDevices) << "device gone:" << state->name.c_str();
      state->changed(false);
    } else if (e == PulseEvent::New && !state->present) {
      CheckWatch(state, idx, false);
    }
  });
  // Confirms the device is still there; it may have gone since it was last seen.
  CheckWatch(state, kNoIndex, true);
  return std::unique_ptr<Watch>(new Watch(shared_from_this(), state, id));
}

void PulseContext::CheckWatch(const std::shared_ptr<WatchState>& watch, std::uint32_t index,
                              bool byName) {
  auto lookup = std::make_unique<Lookup>();
  lookup->owner = this;
  lookup->watch = watch;
  lookup->byName = byName;
  Lookup* raw = lookup.get();
  auto cardCb = &PulseContext::OnLookupInfo<pa_card_info>;
  auto sourceCb = &PulseContext::OnLookupInfo<pa_source_info>;
  auto sinkCb = &PulseContext::OnLookupInfo<pa_sink_info>;
  const char* name = watch->name.c_str();
  pa_operation* op = nullptr;
  switch (watch->facility) {
    case PulseFacility::Card:
      op = byName ? pa_context_get_card_info_by_name(context_, name, cardCb, raw)
                  : pa_context_get_card_info_by_index(context_, index, cardCb, raw);
      break;
    case PulseFacility::Source:
      op = byName ? pa_context_get_source_info_by_name(context_, name, sourceCb, raw)
                  : pa_context_get_source_info_by_index(context_, index, sourceCb, raw);
      break;
    case PulseFacility::Sink:
      op = byName ? pa_context_get_sink_info_by_name(context_, name, sinkCb, raw)
                  : pa_context_get_sink_info_by_index(context_, index, sinkCb, raw);
      break;
  }
  if (op == nullptr)
    return;
  pa_operation_unref(op);
  lookups_.push_back(std::move(lookup));
}

template <typename Info>
void PulseContext::OnLookupInfo(pa_context*, const Info* info, int eol, void* lookup) {
  auto* l = static_cast<Lookup*>(lookup);
  if (eol != 0) {
    l->owner->ResolveLookup(l);
    return;
  }
  if (l->watch->name == Text(info->name)) {
    l->found = true;
    l->foundIndex = info->index;
  }
}

void PulseContext::ResolveLookup(Lookup* lookup) {
  WatchState& w = *lookup->watch;
  if (w.active) {
    if (lookup->found && !w.present) {
      w.present = true;
      w.index = lookup->foundIndex;
      qCInfo(lcDevices) << "device back:" << w.name.c_str();
      w.changed(true);
    } else if (lookup->found) {
      w.index = lookup->foundIndex;
    } else if (lookup->byName && w.present) {
      w.present = false;
      qCInfo(lcDevices) << "device gone:" << w.name.c_str();
      w.changed(false);
    }
  }
  std::erase_if(lookups_, [lookup](const auto& l) { return l.get() == lookup; });
}

PulseContext::Watch::Watch(std::shared_ptr<PulseContext> context, std::shared_ptr<WatchState> state,
                           int id)
    : context_(std::move(context)), state_(std::move(state)), id_(id) {}

PulseContext::Watch::~Watch() {
  LoopLock lock(context_->loop_);
  state_->active = false;
  context_->Unsubscribe(id_);
}

}  // namespace tonvale::platform
