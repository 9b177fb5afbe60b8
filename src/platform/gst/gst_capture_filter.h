#pragma once

// The capture filter on a PulseAudio source, as the GStreamer graph knows it.
//
// Its pins: the input pins handed to the constructor (the device's input lines, in order),
// then one output pin named "Capture". When the graph runs, it records from the PulseAudio
// source that `source()` names at that moment ("" is the server's default source), in the
// source's own channel layout, and delivers 16-bit audio in the format a recording keeps of
// it (capture_format.h): the sound server never mixes or resamples.

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture_format.h"
#include "platform/media.h"

namespace tonvale::platform {

class GstCaptureFilter : public Filter, public std::enable_shared_from_this<GstCaptureFilter> {
 public:
  using SourceFn = std::function<CaptureSource()>;
  GstCaptureFilter(std::vector<std::shared_ptr<Pin>> inputPins, SourceFn source);
  ~GstCaptureFilter() override;

  HRESULT EnumPins(std::unique_ptr<PinEnumerator>* pins) override;
  void JoinFilterGraph(MediaEventSink* graph) override;

  // The graph the filter is in, or null. Queue device events through it; thread-safe.
  void NotifyGraph(long code, std::intptr_t param1, std::intptr_t param2);
  // The PulseAudio source to record from now, and its format.
  CaptureSource source() const;
  // Whether the capture device has left the server, asked when capture fails: a device that
  // has gone is reported by its own watch (EC_DEVICE_LOST), not as a capture error. Called on
  // a streaming thread.
  virtual bool DeviceGone() { return false; }
  // The capture filter whose PulseAudio element this is, or null.
  static GstCaptureFilter* OfElement(GstObject* element);

 private:
  friend class GstFilterGraph;
  friend class GstPreRoll;
  class OutputPin;
  // The bin the graph puts in its pipeline: the PulseAudio source and converters behind a
  // ghost "src" pad. Null when the elements could not be made.
  GstElement* element() const { return bin_; }
  GstElement* pulseSource() const { return pulse_; }
  // Points the PulseAudio source at source() and sets the formats before and after the
  // converters; the graph calls it before the pipeline starts.
  void ApplySource();
  void ApplyFormat(const CaptureFormat& format);
  MediaEventSink* graph() const;
  bool IsOutputPin(const Pin* pin) const { return pin != nullptr && pin == output_.get(); }

  GstElement* bin_ = nullptr;
  GstElement* pulse_ = nullptr;
  GstElement* sourceCaps_ = nullptr;  // what the server delivers
  GstElement* convert_ = nullptr;     // mixes more than two channels down
  GstElement* recordedCaps_ = nullptr;
  std::vector<std::shared_ptr<Pin>> inputs_;
  std::shared_ptr<Pin> output_;
  SourceFn source_;
  mutable std::mutex graphMutex_;
  MediaEventSink* graph_ = nullptr;
};

}  // namespace tonvale::platform
