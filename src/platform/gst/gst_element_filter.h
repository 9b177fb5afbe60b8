#pragma once

// A filter made of one GStreamer element (the sink plugin's element, the File Writer's
// filesink). Its pins are the element's always pads: sink pads as inputs, then source pads
// as outputs, named as the pads are.

#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/gst/gst_support.h"
#include "platform/media.h"

namespace tonvale::platform {

class GstElementFilter : public Filter {
 public:
  // Takes over the caller's (possibly floating) reference to element.
  explicit GstElementFilter(GstElement* element);

  HRESULT EnumPins(std::unique_ptr<PinEnumerator>* pins) override;
  void JoinFilterGraph(MediaEventSink* graph) override;

  GstElement* element() const { return element_.get(); }
  // The graph the filter is in, or null.
  MediaEventSink* graph() const { return graph_.load(); }

 private:
  GstRef<GstElement> element_;
  std::vector<std::shared_ptr<Pin>> pins_;
  std::atomic<MediaEventSink*> graph_{nullptr};
};

}  // namespace tonvale::platform
