#pragma once

// One connection to the PulseAudio server (or PipeWire's pulse server), shared by the device
// enumerator, the monikers, the input lines and the hot-plug watches.
//
// The connection runs its own libpulse thread. Every public call may be made from any thread
// except that thread; the blocking calls never wait longer than their time-out, so a server
// that has gone away costs the caller at most that long. Subscription callbacks run on the
// libpulse thread: they must not block and must not touch Qt widgets.

#include <QLoggingCategory>

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture_format.h"
#include "platform/result.h"

Q_DECLARE_LOGGING_CATEGORY(lcDevices)

namespace tonvale::platform {

inline constexpr std::uint32_t kNoIndex = PA_INVALID_INDEX;

struct PulseCard {
  std::uint32_t index = kNoIndex;
  std::string name;
  std::string description;  // device.description, or the name when the card has none
};

struct PulsePort {
  std::string name;
  std::string description;
};

struct PulseSource {
  std::uint32_t index = kNoIndex;
  std::string name;
  std::string description;
  std::uint32_t card = kNoIndex;
  std::uint32_t monitorOfSink = kNoIndex;  // kNoIndex for a real input
  std::vector<PulsePort> ports;            // in the server's order
  std::string activePort;
  pa_cvolume volume{};
  CaptureFormat format;  // what the source delivers: channels, rate and their places
};

struct PulseSink {
  std::uint32_t index = kNoIndex;
  std::string name;
  std::string description;
  std::uint32_t card = kNoIndex;
  std::uint32_t monitorSource = kNoIndex;
};

// Cards, sinks and sources as the server reported them, each sorted by index.
struct PulseSnapshot {
  std::vector<PulseCard> cards;
  std::vector<PulseSink> sinks;
  std::vector<PulseSource> sources;
  std::string defaultSink;  // the name of the server's default output; may name no sink
};

enum class PulseFacility { Card, Sink, Source };
// Disconnected: the server went away; facility and index carry nothing.
enum class PulseEvent { New, Change, Remove, Disconnected };

class PulseContext : public std::enable_shared_from_this<PulseContext> {
 public:
  inline static constexpr int kConnectTimeoutMs = 3000;
  inline static constexpr int kQueryTimeoutMs = 2000;

  // Connects to the default server (PULSE_SERVER and client.conf decide which; a server is
  // never spawned). E_FAIL when no server is reachable, E_ABORT when it did not answer in time.
  static HRESULT Connect(std::shared_ptr<PulseContext>* context, int timeoutMs = kConnectTimeoutMs);
  ~PulseContext();
  PulseContext(const PulseContext&) = delete;
  PulseContext& operator=(const PulseContext&) = delete;

  // False once the connection has failed or the server has gone away; it never recovers.
  bool connected() const;

  HRESULT QuerySnapshot(PulseSnapshot* snapshot, int timeoutMs = kQueryTimeoutMs);
  // A source by name; VFW_E_NO_CAPTURE_HARDWARE when the server does not know it.
  HRESULT QuerySource(const std::string& name, PulseSource* source,
                      int timeoutMs = kQueryTimeoutMs);
  HRESULT SetSourcePort(const std::string& source, const std::string& port,
                        int timeoutMs = kQueryTimeoutMs);
  HRESULT SetSourceVolume(const std::string& source, const pa_cvolume& volume,
                          int timeoutMs = kQueryTimeoutMs);

  // Runs `use` on the connection under the loop lock, for libpulse calls that answer through
  // callbacks on the libpulse thread (streams, asynchronous queries); it must not wait.
  void WithConnection(const std::function<void(pa_context*)>& use);

  // Card, sink and source events. The callback runs on the libpulse thread; once
  // Unsubscribe returns it is not running and is not called again.
  using EventFn = std::function<void(PulseFacility, PulseEvent, std::uint32_t index)>;
  int Subscribe(EventFn callback);
  void Unsubscribe(int id);

  // Watches one card or source by name: `changed(false)` when it disappears (or the server
  // goes away) and `changed(true)` when one of that name appears again. Starts out assuming the
  // device is present at `index` and checks that at once. Callbacks run on the libpulse thread.
  // Destroying the returned watch unsubscribes (same guarantee as Unsubscribe).
  class Watch;
  std::unique_ptr<Watch> WatchPresence(PulseFacility facility, const std::string& name,
                                       std::uint32_t index, std::function<void(bool)> changed);

 private:
  struct Request;
  struct WatchState;
  PulseContext() = default;

  // Runs `start` (which issues one libpulse operation on `request`) under the loop lock and
  // waits for the request to finish, the connection to fail or the time-out.
  struct Lookup;
  using StartFn = std::function<std::vector<pa_operation*>(pa_context*)>;
  HRESULT Run(Request* request, const StartFn& start, int timeoutMs);
  void Finish(Request* request, bool ok);
  void Dispatch(PulseFacility facility, PulseEvent event, std::uint32_t index);
  void CheckWatch(const std::shared_ptr<WatchState>& watch, std::uint32_t index, bool byName);
  void ResolveLookup(Lookup* lookup);
  // One device of a lookup's listing (card, source or sink); the end of the list resolves it.
  template <typename Info>
  static void OnLookupInfo(pa_context* c, const Info* info, int eol, void* lookup);

  static void OnState(pa_context* c, void* self);
  static void OnSubscription(pa_context* c, pa_subscription_event_type_t type, std::uint32_t idx,
                             void* self);

  class LoopLock;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;

  mutable std::mutex waitMutex_;
  std::condition_variable waitCond_;
  pa_context_state_t state_ = PA_CONTEXT_UNCONNECTED;

  // Guarded by the loop lock.
  std::map<int, EventFn> subscribers_;
  int nextSubscriber_ = 1;
  // Presence lookups in flight; freed here if the connection is torn down first.
  std::vector<std::unique_ptr<Lookup>> lookups_;
};

class PulseContext::Watch {
 public:
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

 private:
  friend class PulseContext;
  Watch(std::shared_ptr<PulseContext> context, std::shared_ptr<WatchState> state, int id);
  std::shared_ptr<PulseContext> context_;
  std::shared_ptr<WatchState> state_;
  int id_;
};

}  // namespace tonvale::platform
