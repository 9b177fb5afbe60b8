#include "platform/gst/graph_event_queue.h"

#include <chrono>

namespace tonvale::platform {

GraphEventQueue::~GraphEventQueue() {
  std::lock_guard lock(eventMutex_);
  for (const auto& e : events_) FreeStandardEventParams(e.code, e.param1, e.param2);
}

void GraphEventQueue::Push(long code, std::intptr_t param1, std::intptr_t param2) {
  {
    std::lock_guard lock(eventMutex_);
    events_.push_back({code, param1, param2});
  }
  eventQueued_.notify_all();
  std::lock_guard lock(notifyMutex_);
  if (notify_)
    notify_(instance_);
}

void GraphEventQueue::SetNotify(MediaEvent::NotifyFn notify, std::intptr_t instance) {
  std::lock_guard lock(notifyMutex_);
  notify_ = std::move(notify);
  instance_ = instance;
  bool pending = false;
  {
    std::lock_guard events(eventMutex_);
    pending = !events_.empty();
  }
  if (notify_ && pending)
    notify_(instance_);
}

HRESULT GraphEventQueue::Get(long* code, std::intptr_t* param1, std::intptr_t* param2,
                             int timeoutMs) {
  if (code == nullptr || param1 == nullptr || param2 == nullptr)
    return E_POINTER;
  std::unique_lock lock(eventMutex_);
  if (events_.empty() && timeoutMs != 0) {
    const auto pending = [this] { return !events_.empty(); };
    if (timeoutMs < 0) {
      eventQueued_.wait(lock, pending);
    } else {
      eventQueued_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pending);
    }
  }
  if (events_.empty()) {
    *code = 0;
    *param1 = 0;
    *param2 = 0;
    return E_ABORT;
  }
  const Event event = events_.front();
  events_.pop_front();
  *code = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return S_OK;
}

}  // namespace tonvale::platform
