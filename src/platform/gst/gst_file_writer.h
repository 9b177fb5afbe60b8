#pragma once

#include <memory>
#include <string>

#include "platform/gst/gst_element_filter.h"
#include "platform/media.h"

namespace tonvale::platform {

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
