#pragma once

// The event queue of a filter graph: events queued from any thread (the streaming threads,
// libpulse's thread, filters), announced through the notify callback, read by the UI thread
// without waiting (MediaEvent's contract).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/media.h"

namespace tonvale::platform {

class GraphEventQueue {
 public:
  GraphEventQueue() = default;
  // Frees what the events still queued carry.
  ~GraphEventQueue();
  GraphEventQueue(const GraphEventQueue&) = delete;
  GraphEventQueue& operator=(const GraphEventQueue&) = delete;

  // Queues an event and calls the notify callback; any thread.
  void Push(long code, std::intptr_t param1, std::intptr_t param2);
  // MediaEvent::SetNotifyWindow: events queued before anyone listened are announced at once.
  void SetNotify(MediaEvent::NotifyFn notify, std::intptr_t instance);
  // MediaEvent::GetEvent: E_ABORT when none came within timeoutMs (negative: no limit).
  HRESULT Get(long* code, std::intptr_t* param1, std::intptr_t* param2, int timeoutMs);

 private:
  struct Event {
    long code;
    std::intptr_t param1;
    std::intptr_t param2;
  };

  std::mutex eventMutex_;
  std::condition_variable eventQueued_;
  std::deque<Event> events_;
  // Held while the callback runs, so unregistering waits for a call in progress.
  std::mutex notifyMutex_;
  MediaEvent::NotifyFn notify_;
  std::intptr_t instance_ = 0;
};

}  // namespace tonvale::platform
