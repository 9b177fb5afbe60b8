#include "platform/gst/media_factory_gst.h"

#include <filesystem>
#include <system_error>

#include "platform/gst/gst_capture_filter.h"
#include "platform/gst/gst_element_filter.h"
#include "platform/gst/gst_file_writer.h"
#include "platform/gst/gst_filter_graph.h"
#include "platform/gst/gst_support.h"

#ifndef TONVALE_PLUGIN_RELDIR
#define TONVALE_PLUGIN_RELDIR "../lib/tonvale"
#endif

namespace tonvale::platform {
namespace {

constexpr const char* kClassIdKey = "tonvale-class-id";

class GstCaptureGraphBuilder : public CaptureGraphBuilder {
 public:
  HRESULT SetFiltergraph(const std::shared_ptr<GraphBuilder>& graph) override {
    if (!graph)
      return E_POINTER;
    graph_ = graph;
    return S_OK;
  }

 private:
  std::shared_ptr<GraphBuilder> graph_;
};

class DefaultSourceMoniker : public Moniker {
 public:
  HRESULT ReadFriendlyName(std::string* name) override {
    if (name == nullptr)
      return E_POINTER;
    *name = "Default source";
    return S_OK;
  }
  HRESULT ReadDeviceId(std::string* id) override {
    if (id == nullptr)
      return E_POINTER;
    *id = "@DEFAULT_SOURCE@";
    return S_OK;
  }
  HRESULT BindToObject(std::shared_ptr<Filter>* filter) override {
    if (filter == nullptr)
      return E_POINTER;
    *filter = std::make_shared<GstCaptureFilter>(std::vector<std::shared_ptr<Pin>>{},
                                                 [] { return CaptureSource{}; });
    return S_OK;
  }
};

class SingleMonikerEnumerator : public MonikerEnumerator {
 public:
  HRESULT Next(std::shared_ptr<Moniker>* moniker) override {
    if (moniker == nullptr)
      return E_POINTER;
    if (delivered_) {
      moniker->reset();
      return S_FALSE;
    }
    delivered_ = true;
    *moniker = std::make_shared<DefaultSourceMoniker>();
    return S_OK;
  }

 private:
  bool delivered_ = false;
};

class DefaultDeviceEnumerator : public DeviceEnumerator {
 public:
  HRESULT CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* devices) override {
    if (devices == nullptr)
      return E_POINTER;
    *devices = std::make_unique<SingleMonikerEnumerator>();
    return S_OK;
  }
};

}  // namespace

GstMediaFactory::GstMediaFactory(std::string pluginDir, DeviceEnumeratorFn devices)
    : pluginDir_(pluginDir.empty() ? DefaultPluginDir() : std::move(pluginDir)),
      devices_(std::move(devices)) {
  if (!devices_) {
    devices_ = [](std::shared_ptr<DeviceEnumerator>* out) {
      if (out == nullptr)
        return E_POINTER;
      *out = std::make_shared<DefaultDeviceEnumerator>();
      return S_OK;
    };
  }
}

std::string GstMediaFactory::DefaultPluginDir() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error)
    return TONVALE_PLUGIN_RELDIR;
  return (exe.parent_path() / TONVALE_PLUGIN_RELDIR).lexically_normal().string();
}

void GstMediaFactory::LoadPlugins() {
  if (pluginsLoaded_)
    return;
  pluginsLoaded_ = true;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(pluginDir_, error)) {
    if (file.path().extension() != ".so")
      continue;
    GError* loadError = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(file.path().c_str(), &loadError);
    if (plugin == nullptr) {
      qCWarning(lcGraph, "Could not load plugin %s: %s", file.path().c_str(),
                loadError != nullptr ? loadError->message : "unknown error");
      if (loadError != nullptr)
        g_error_free(loadError);
      continue;
    }
    pluginNames_.emplace_back(gst_plugin_get_name(plugin));
    gst_object_unref(plugin);
  }
  if (error) {
    qCWarning(lcGraph, "Could not read the plugin directory %s: %s", pluginDir_.c_str(),
              error.message().c_str());
  }
}

HRESULT GstMediaFactory::CreateFilter(const std::string& classId, std::shared_ptr<Filter>* filter) {
  if (filter == nullptr)
    return E_POINTER;
  filter->reset();
  if (!EnsureGstInitialized())
    return E_FAIL;
  LoadPlugins();
  GstRegistry* registry = gst_registry_get();
  for (const auto& pluginName : pluginNames_) {
    GList* features = gst_registry_get_feature_list_by_plugin(registry, pluginName.c_str());
    GstElement* element = nullptr;
    bool found = false;
    for (GList* item = features; item != nullptr && !found; item = item->next) {
      if (!GST_IS_ELEMENT_FACTORY(item->data))
        continue;
      auto* factory = GST_ELEMENT_FACTORY(item->data);
      const gchar* id = gst_element_factory_get_metadata(factory, kClassIdKey);
      if (id == nullptr || g_ascii_strcasecmp(id, classId.c_str()) != 0)
        continue;
      found = true;
      element = gst_element_factory_create(factory, nullptr);
    }
    gst_plugin_feature_list_free(features);
    if (!found)
      continue;
    if (element == nullptr) {
      qCWarning(lcGraph, "The element of class %s could not be made", classId.c_str());
      return E_FAIL;
    }
    *filter = std::make_shared<GstElementFilter>(element);
    return S_OK;
  }
  qCWarning(lcGraph, "No plugin in %s offers class %s", pluginDir_.c_str(), classId.c_str());
  return REGDB_E_CLASSNOTREG;
}

HRESULT GstMediaFactory::CreateFilterGraph(std::shared_ptr<GraphBuilder>* graph) {
  if (graph == nullptr)
    return E_POINTER;
  auto created = GstFilterGraph::Create();
  if (!created) {
    graph->reset();
    return E_FAIL;
  }
  *graph = std::move(created);
  return S_OK;
}

HRESULT GstMediaFactory::CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* builder) {
  if (builder == nullptr)
    return E_POINTER;
  *builder = std::make_shared<GstCaptureGraphBuilder>();
  return S_OK;
}

HRESULT GstMediaFactory::CreateFileWriter(std::shared_ptr<FileSinkFilter>* writer) {
  if (writer == nullptr)
    return E_POINTER;
  auto created = std::make_shared<GstFileWriter>();
  if (!created->valid()) {
    writer->reset();
    return E_FAIL;
  }
  *writer = std::move(created);
  return S_OK;
}

HRESULT GstMediaFactory::CreateDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* devices) {
  if (devices == nullptr)
    return E_POINTER;
  return devices_(devices);
}

}  // namespace tonvale::platform
