#pragma once

// The media layer: a small, DirectShow-shaped set of interfaces for the capture graph.
//
// A counted interface reference is a std::shared_ptr; "releasing" it is reset(). Nothing
// here throws: every operation reports through an HRESULT (see result.h).
//
// Threading: every call is made on the UI thread unless a contract says otherwise. The
// real implementation runs GStreamer and libpulse threads internally; whatever they have
// to report reaches the caller only through the graph's event queue and its notify
// callback (MediaEvent::SetNotifyWindow), which may fire on any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/result.h"
#include "platform/sink_contract.h"

namespace tonvale::platform {

enum class PinDirection { Input = 0, Output = 1 };

// Graph event codes (the values of the platform this design follows).
inline constexpr long EC_COMPLETE = 0x01;
// A streaming error stopped the graph. Param1 is the failure HRESULT, param2 the address of
// a heap-allocated std::string with a human-readable description, owned by the event and
// freed by FreeEventParams.
inline constexpr long EC_ERRORABORT = 0x03;
// The capture device went away (param2 == 0) or came back (param2 != 0). Param1 is unused.
inline constexpr long EC_DEVICE_LOST = 0x1F;
// A start that RunAsync left pending has ended: param1 is its result (Run's), param2 unused.
inline constexpr long EC_RUN_COMPLETE = 0x8001;

// Frees what the standard event codes carry. Every MediaEvent implementation calls it from
// FreeEventParams so that real and fake graphs agree on ownership.
void FreeStandardEventParams(long code, std::intptr_t param1, std::intptr_t param2);
// The description carried by an EC_ERRORABORT event (empty for other codes).
std::string ErrorEventText(long code, std::intptr_t param2);
// Makes param2 for an EC_ERRORABORT event.
std::intptr_t MakeErrorEventText(const std::string& text);

// The recording-level control of an input line (a capture filter's input pin).
class AudioInputMixer {
 public:
  virtual ~AudioInputMixer() = default;
  // Makes this line the one that is recorded (true) or takes it out of the mix (false).
  virtual HRESULT put_Enable(bool enable) = 0;
  // Level 0.0 .. 1.0 of normal.
  virtual HRESULT put_MixLevel(double level) = 0;
  virtual HRESULT get_MixLevel(double* level) = 0;
};

// What an input line carries, for the one-time automatic choice of a line.
enum class LineRole {
  Input,                 // a microphone, a line input, ...
  Monitor,               // the sound played on an output
  DefaultOutputMonitor,  // the sound played on the output programs play to by default
};

class Pin {
 public:
  virtual ~Pin() = default;
  virtual HRESULT QueryDirection(PinDirection* direction) = 0;
  // The pin's name, UTF-8.
  virtual HRESULT QueryPinInfo(std::string* name) = 0;
  // What an input line carries; Input when the platform cannot tell.
  virtual HRESULT QueryLineRole(LineRole* role) {
    if (role == nullptr)
      return E_POINTER;
    *role = LineRole::Input;
    return S_OK;
  }
  // The pin's input-line mixer; E_NOINTERFACE when it has none.
  virtual HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>* mixer) = 0;
};

class PinEnumerator {
 public:
  virtual ~PinEnumerator() = default;
  // S_OK with a pin, S_FALSE when all pins have been delivered, negative on failure.
  virtual HRESULT Next(std::shared_ptr<Pin>* pin) = 0;
  virtual HRESULT Reset() = 0;
};

// What a graph offers the filters it holds: a way to queue an event. Thread-safe.
class MediaEventSink {
 public:
  virtual ~MediaEventSink() = default;
  virtual void Notify(long code, std::intptr_t param1, std::intptr_t param2) = 0;
};

class Filter {
 public:
  virtual ~Filter() = default;
  // Pins in a fixed order.
  virtual HRESULT EnumPins(std::unique_ptr<PinEnumerator>* pins) = 0;
  // Called by the graph when the filter is added (with the graph) and removed (nullptr).
  virtual void JoinFilterGraph(MediaEventSink* graph) { (void)graph; }
};

// The File Writer: the filter that writes its input stream to a file.
class FileSinkFilter {
 public:
  virtual ~FileSinkFilter() = default;
  inline static constexpr int kOverwrite = 1;
  virtual HRESULT SetMode(int mode) = 0;
  // Path in UTF-8.
  virtual HRESULT SetFileName(const std::string& path) = 0;
  virtual HRESULT QueryFilter(std::shared_ptr<Filter>* filter) = 0;
};

class MediaControl {
 public:
  virtual ~MediaControl() = default;
  virtual HRESULT Run() = 0;
  // Starts running without waiting for the stream to reach the files. S_FALSE: the start is
  // under way and its result comes as EC_RUN_COMPLETE; until then the only calls allowed are
  // Stop, StopWhenReady and Pause, which wait for it. Anything else: Run's own result.
  virtual HRESULT RunAsync() { return Run(); }
  // Keeps the last `ms` of the capture's source while the graph is stopped, and begins each
  // recording with it (0: nothing before the start is ever kept). Called again when the
  // source changes. E_NOTIMPL where the graph cannot.
  virtual HRESULT SetPreRoll(int ms) {
    (void)ms;
    return E_NOTIMPL;
  }
  virtual HRESULT Pause() = 0;
  // Stops at once; what is in flight may be lost.
  virtual HRESULT Stop() = 0;
  // Ends the stream so that every file in the graph is complete, waiting a bounded time,
  // then stops.
  virtual HRESULT StopWhenReady() = 0;
};

class MediaEvent {
 public:
  virtual ~MediaEvent() = default;
  using NotifyFn = std::function<void(std::intptr_t instance)>;
  // Registers the callback that is called (on any thread) whenever events become pending.
  // An empty function unregisters; after this returns the old callback is not running and
  // will not be called again.
  virtual HRESULT SetNotifyWindow(NotifyFn notify, std::intptr_t instance) = 0;
  // Reads the next event; never waits longer than timeoutMs. E_ABORT when none is pending.
  virtual HRESULT GetEvent(long* code, std::intptr_t* param1, std::intptr_t* param2,
                           int timeoutMs) = 0;
  virtual HRESULT FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) = 0;
};

class GraphBuilder {
 public:
  virtual ~GraphBuilder() = default;
  virtual HRESULT AddFilter(const std::shared_ptr<Filter>& filter, const std::string& name) = 0;
  virtual HRESULT RemoveFilter(const std::shared_ptr<Filter>& filter) = 0;
  // Connects an output pin through to the filters already in the graph.
  virtual HRESULT Render(const std::shared_ptr<Pin>& pin) = 0;
  virtual HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* control) = 0;
  virtual HRESULT QueryMediaEvent(std::shared_ptr<MediaEvent>* events) = 0;
};

class CaptureGraphBuilder {
 public:
  virtual ~CaptureGraphBuilder() = default;
  virtual HRESULT SetFiltergraph(const std::shared_ptr<GraphBuilder>& graph) = 0;
};

// A capture device as the enumerator yields it.
class Moniker {
 public:
  virtual ~Moniker() = default;
  // The device's friendly name, UTF-8.
  virtual HRESULT ReadFriendlyName(std::string* name) = 0;
  // The device's identity: the same for the same device across restarts and whatever other
  // devices come and go (unlike its list position or, with two alike, its friendly name).
  virtual HRESULT ReadDeviceId(std::string* id) = 0;
  // Creates the device's capture filter.
  virtual HRESULT BindToObject(std::shared_ptr<Filter>* filter) = 0;
};

class MonikerEnumerator {
 public:
  virtual ~MonikerEnumerator() = default;
  // S_OK with a moniker; anything else ends the enumeration.
  virtual HRESULT Next(std::shared_ptr<Moniker>* moniker) = 0;
};

class DeviceEnumerator {
 public:
  virtual ~DeviceEnumerator() = default;
  // The audio capture devices. S_FALSE with no enumerator when there are none.
  virtual HRESULT CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* devices) = 0;
};

// Object creation: what the program asks of the media framework.
class MediaFactory {
 public:
  virtual ~MediaFactory() = default;
  virtual HRESULT CreateFilterGraph(std::shared_ptr<GraphBuilder>* graph) = 0;
  virtual HRESULT CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* builder) = 0;
  // An outside filter by class identifier (the sink). Fails when it is not installed.
  virtual HRESULT CreateFilter(const std::string& classId, std::shared_ptr<Filter>* filter) = 0;
  virtual HRESULT CreateFileWriter(std::shared_ptr<FileSinkFilter>* writer) = 0;
  virtual HRESULT CreateDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* devices) = 0;
};

}  // namespace tonvale::platform
