#pragma once

// The media factory on GStreamer: graphs on GstPipeline, the File Writer on filesink, and
// outside filters (the sink) from the GStreamer plugins installed beside the program.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/media.h"

namespace tonvale::platform {

// The class is not installed: no plugin of the plugin directory offers it.
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

class GstMediaFactory : public MediaFactory {
 public:
  using DeviceEnumeratorFn = std::function<HRESULT(std::shared_ptr<DeviceEnumerator>*)>;

  // pluginDir empty: the plugin directory beside the running program. devices empty: one
  // device, "Default source", recording from the PulseAudio server's default source.
  explicit GstMediaFactory(std::string pluginDir = {}, DeviceEnumeratorFn devices = {});

  HRESULT CreateFilterGraph(std::shared_ptr<GraphBuilder>* graph) override;
  HRESULT CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* builder) override;
  // Loads the plugins of the plugin directory (once) and makes a fresh element of the
  // factory whose "tonvale-class-id" metadata is classId.
  HRESULT CreateFilter(const std::string& classId, std::shared_ptr<Filter>* filter) override;
  HRESULT CreateFileWriter(std::shared_ptr<FileSinkFilter>* writer) override;
  HRESULT CreateDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* devices) override;

  const std::string& pluginDir() const { return pluginDir_; }
  // The directory beside the running program where its plugins live.
  static std::string DefaultPluginDir();

 private:
  void LoadPlugins();

  std::string pluginDir_;
  DeviceEnumeratorFn devices_;
  bool pluginsLoaded_ = false;
  std::vector<std::string> pluginNames_;
};

}  // namespace tonvale::platform
