// The plugin's entry point; GStreamer finds it by the library's file name.

#include <gst/gst.h>

#include "sink/wav_dest.h"
#include "sink/xing_writer.h"

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  // The Xing writer is a part of WAV Dest; registered too, so it can be tried on its own.
  return tonvale::sink::RegisterWavDest(plugin) &&
         gst_element_register(plugin, "tonvalexingwriter", GST_RANK_NONE, TONVALE_TYPE_XING_WRITER);
}

}  // namespace

#define PACKAGE "tonvale"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tonvalesink,
                  "Tonvale's WAV Dest: MP3 file writer with a WAV pass-through", PluginInit,
                  TONVALE_SINK_VERSION, "LGPL", "Tonvale", "Tonvale project")
