#pragma once

// A filter made of one GStreamer element (the sink plugin's element, the File Writer's
// filesink). Its pins are the element's always pads: sink pads as inputs, then source pads
// as outputs, named as the pads are.

#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/gst_support.h"
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

// The File Writer: a filesink that writes its input stream to a file.
class GstFileWriter : public FileSinkFilter {
 public:
  GstFileWriter();

  // False when the filesink element could not be made.
  bool valid() const { return filter_->element() != nullptr; }

  // kOverwrite truncates an existing file; 0 (the default) does too, since appending to a
  // stale file would corrupt it. Other values are refused.
  HRESULT SetMode(int mode) override;
  // Refused (E_UNEXPECTED) once the writer has started; the path is taken as UTF-8.
  HRESULT SetFileName(const std::string& path) override;
  HRESULT QueryFilter(std::shared_ptr<Filter>* filter) override;

 private:
  std::shared_ptr<GstElementFilter> filter_;
};

}  // namespace tonvale::platform
