#include "sink/wav_dest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/media.h"
#include "sink/output_path.h"
#include "sink/wav_header.h"
#include "sink/xing_writer.h"

GST_DEBUG_CATEGORY_STATIC(tonvale_wav_dest_debug);
#define GST_CAT_DEFAULT tonvale_wav_dest_debug

struct _TonvaleWavDest {
  GstBin parent;

  GstElement* mp3Writer;  // the filesink of the MP3 branch, owned by the bin
  GstPad* wavEncoderSrc;  // wavenc's source pad, for the header probe

  // Guarded by the object lock.
  gchar* location;  // the "location" property; null or empty means "use the hand-off"
  gchar* mp3Path;   // the MP3 file of the current run, for error texts

  // WAV stream bookkeeping; touched only by the WAV branch's streaming thread and by the
  // READY->PAUSED transition, before that thread starts.
  guint64 wavBytes;
  gboolean wavRewritingHeader;
};

// GLib's type boilerplate is C and casts the C way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
G_DEFINE_TYPE(TonvaleWavDest, tonvale_wav_dest, GST_TYPE_BIN)
#pragma GCC diagnostic pop

namespace {

enum { PROP_0, PROP_LOCATION };

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-raw"));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-wav"));

// lamemp3enc "target": 0 = quality, i.e. VBR; quality 2 is LAME's -V2 (about 190 kbit/s).
constexpr int kLameTargetQuality = 0;
constexpr float kLameVbrQuality = 2.0f;
// The MP3 writer keeps at most 2 KiB in memory: half a second at LAME's lowest VBR rate
// (32 kbit/s), so a killed program leaves everything but the last moment on disk. Fully
// buffered with a small size rather than unbuffered: 1.22's filesink unrefs a buffer twice
// when an unbuffered write fails.
constexpr int kFileSinkFullyBuffered = 0;
constexpr guint kMp3WriteBufferBytes = 2048;

GstElement* MakeChild(TonvaleWavDest* self, const char* factory, const char* name) {
  GstElement* element = gst_element_factory_make(factory, name);
  if (element == nullptr) {
    GST_ERROR_OBJECT(self, "element %s is not installed", factory);
    return nullptr;
  }
  gst_bin_add(GST_BIN(self), element);
  return element;
}

std::string CurrentMp3Path(TonvaleWavDest* self) {
  GST_OBJECT_LOCK(self);
  std::string path = self->mp3Path != nullptr ? self->mp3Path : "";
  GST_OBJECT_UNLOCK(self);
  return path;
}

// Fixes the MP3 path of this run and makes sure the file can be written, so that the error
// the program shows names the path and the reason.
bool PrepareMp3File(TonvaleWavDest* self) {
  GST_OBJECT_LOCK(self);
  std::string path = self->location != nullptr ? self->location : "";
  GST_OBJECT_UNLOCK(self);
  if (path.empty())
    path = tonvale::sink::ReadHandOffPath();

  GST_OBJECT_LOCK(self);
  g_free(self->mp3Path);
  self->mp3Path = g_strdup(path.c_str());
  GST_OBJECT_UNLOCK(self);

  if (path.empty()) {
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                      ("Could not open \"\" for writing: no output file name is set"),
                      ("neither the location property nor the hand-off value holds a path"));
    return false;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    int error = errno;
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                      ("Could not open \"%s\" for writing: %s", path.c_str(), g_strerror(error)),
                      ("open() failed with errno %d", error));
    return false;
  }
  close(fd);
  GST_INFO_OBJECT(self, "writing MP3 to %s", path.c_str());
  g_object_set(self->mp3Writer, "location", path.c_str(), nullptr);
  return true;
}

// Rewrites the MP3 writer's errors so the text names the file and the system's reason;
// filesink's own texts say neither for a full disk.
GstMessage* ClarifyWriterError(TonvaleWavDest* self, GstMessage* message) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(message, &error, &debug);
  if (error->domain != GST_RESOURCE_ERROR) {
    g_error_free(error);
    g_free(debug);
    return message;
  }
  std::string reason;
  switch (error->code) {
    case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
      reason = g_strerror(ENOSPC);
      break;
    default:
      // filesink puts strerror() into the debug text.
      reason = debug != nullptr && *debug != '\0' && std::strchr(debug, '\n') == nullptr
                   ? debug
                   : error->message;
      break;
  }
  std::string path = CurrentMp3Path(self);
  GError* clear =
      error->code == GST_RESOURCE_ERROR_OPEN_WRITE
          ? g_error_new(GST_RESOURCE_ERROR, error->code, "Could not open \"%s\" for writing: %s",
                        path.c_str(), reason.c_str())
          : g_error_new(GST_RESOURCE_ERROR, error->code, "Could not write to \"%s\": %s",
                        path.c_str(), reason.c_str());
  gchar* details = g_strdup_printf("%s (%s)", error->message, debug != nullptr ? debug : "");
  GstMessage* replacement = gst_message_new_error(GST_OBJECT(self), clear, details);
  g_free(details);
  g_error_free(clear);
  g_error_free(error);
  g_free(debug);
  gst_message_unref(message);
  return replacement;
}

GstPadProbeReturn WatchWavStream(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<TonvaleWavDest*>(data);
  if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      // wavenc seeks back to byte 0 at the end to write the final header.
      self->wavRewritingHeader =
          segment->format == GST_FORMAT_BYTES && segment->start == 0 && self->wavBytes > 0;
    }
    return GST_PAD_PROBE_OK;
  }
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) == 0)
    return GST_PAD_PROBE_OK;
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!self->wavRewritingHeader) {
    self->wavBytes += gst_buffer_get_size(buffer);
    return GST_PAD_PROBE_OK;
  }
  self->wavRewritingHeader = FALSE;
  if (self->wavBytes <= G_MAXUINT32)
    return GST_PAD_PROBE_OK;
  buffer = gst_buffer_make_writable(buffer);
  GstMapInfo map;
  if (gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) {
    if (tonvale::sink::ClampOversizedWavHeader(map.data, map.size, self->wavBytes))
      GST_WARNING_OBJECT(self, "WAV stream is %" G_GUINT64_FORMAT " bytes; header sizes clamped",
                         self->wavBytes);
    gst_buffer_unmap(buffer, &map);
  }
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  return GST_PAD_PROBE_OK;
}

bool BuildInside(TonvaleWavDest* self) {
  GstElement* convert = MakeChild(self, "audioconvert", "convert");
  GstElement* tee = MakeChild(self, "tee", "split");
  GstElement* mp3Queue = MakeChild(self, "queue", "mp3-queue");
  GstElement* mp3Convert = MakeChild(self, "audioconvert", "mp3-convert");
  GstElement* mp3Resample = MakeChild(self, "audioresample", "mp3-resample");
  GstElement* lame = MakeChild(self, "lamemp3enc", "mp3-encoder");
  GstElement* xing =
      GST_ELEMENT(g_object_new(TONVALE_TYPE_XING_WRITER, "name", "mp3-header", nullptr));
  gst_bin_add(GST_BIN(self), xing);
  GstElement* writer = MakeChild(self, "filesink", "mp3-writer");
  GstElement* wavQueue = MakeChild(self, "queue", "wav-queue");
  GstElement* wavConvert = MakeChild(self, "audioconvert", "wav-convert");
  GstElement* wavenc = MakeChild(self, "wavenc", "wav-encoder");
  GstElement* wavCaps = MakeChild(self, "capsfilter", "wav-caps");
  for (GstElement* e : {convert, tee, mp3Queue, mp3Convert, mp3Resample, lame, xing, writer,
                        wavQueue, wavConvert, wavenc, wavCaps}) {
    if (e == nullptr)
      return false;
  }
  g_object_set(lame, "target", kLameTargetQuality, "quality", kLameVbrQuality, nullptr);
  g_object_set(writer, "buffer-mode", kFileSinkFullyBuffered, "buffer-size", kMp3WriteBufferBytes,
               "sync", FALSE, nullptr);
  // Plain RIFF: wavenc would also offer RF64 to a downstream that asks for it.
  GstCaps* wavOnly = gst_caps_new_empty_simple("audio/x-wav");
  g_object_set(wavCaps, "caps", wavOnly, nullptr);
  gst_caps_unref(wavOnly);

  if (!gst_element_link_many(convert, tee, mp3Queue, mp3Convert, mp3Resample, lame, xing, writer,
                             nullptr) ||
      !gst_element_link_many(tee, wavQueue, wavConvert, wavenc, wavCaps, nullptr)) {
    GST_ERROR_OBJECT(self, "could not link the inner elements");
    return false;
  }
  self->mp3Writer = writer;

  self->wavEncoderSrc = gst_element_get_static_pad(wavenc, "src");
  gst_pad_add_probe(
      self->wavEncoderSrc,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      WatchWavStream, self, nullptr);

  GstPad* convertSink = gst_element_get_static_pad(convert, "sink");
  GstPad* wavSrc = gst_element_get_static_pad(wavCaps, "src");
  GstPad* sinkGhost = gst_ghost_pad_new_from_template("sink", convertSink,
                                                      gst_static_pad_template_get(&sinkTemplate));
  GstPad* srcGhost =
      gst_ghost_pad_new_from_template("src", wavSrc, gst_static_pad_template_get(&srcTemplate));
  gst_object_unref(convertSink);
  gst_object_unref(wavSrc);
  gst_element_add_pad(GST_ELEMENT(self), sinkGhost);
  gst_element_add_pad(GST_ELEMENT(self), srcGhost);
  return true;
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  auto* self = TONVALE_WAV_DEST(element);
  switch (transition) {
    case GST_STATE_CHANGE_NULL_TO_READY:
      if (self->mp3Writer == nullptr) {
        GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN,
                          ("The MP3 recording needs GStreamer's lamemp3enc and wavenc"), (nullptr));
        return GST_STATE_CHANGE_FAILURE;
      }
      // filesink opens its file on this transition and keeps it until it goes back to NULL.
      if (!PrepareMp3File(self))
        return GST_STATE_CHANGE_FAILURE;
      break;
    case GST_STATE_CHANGE_READY_TO_PAUSED:
      self->wavBytes = 0;
      self->wavRewritingHeader = FALSE;
      break;
    default:
      break;
  }
  return GST_ELEMENT_CLASS(tonvale_wav_dest_parent_class)->change_state(element, transition);
}

void HandleMessage(GstBin* bin, GstMessage* message) {
  auto* self = TONVALE_WAV_DEST(bin);
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && self->mp3Writer != nullptr &&
      GST_MESSAGE_SRC(message) == GST_OBJECT(self->mp3Writer)) {
    message = ClarifyWriterError(self, message);
  }
  GST_BIN_CLASS(tonvale_wav_dest_parent_class)->handle_message(bin, message);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  auto* self = TONVALE_WAV_DEST(object);
  switch (id) {
    case PROP_LOCATION:
      GST_OBJECT_LOCK(self);
      g_free(self->location);
      self->location = g_value_dup_string(value);
      GST_OBJECT_UNLOCK(self);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = TONVALE_WAV_DEST(object);
  switch (id) {
    case PROP_LOCATION:
      GST_OBJECT_LOCK(self);
      g_value_set_string(value, self->location);
      GST_OBJECT_UNLOCK(self);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

void Finalize(GObject* object) {
  auto* self = TONVALE_WAV_DEST(object);
  if (self->wavEncoderSrc != nullptr)
    gst_object_unref(self->wavEncoderSrc);
  g_free(self->location);
  g_free(self->mp3Path);
  G_OBJECT_CLASS(tonvale_wav_dest_parent_class)->finalize(object);
}

}  // namespace

static void tonvale_wav_dest_class_init(TonvaleWavDestClass* klass) {
  GObjectClass* objectClass = G_OBJECT_CLASS(klass);
  objectClass->set_property = SetProperty;
  objectClass->get_property = GetProperty;
  objectClass->finalize = Finalize;
  g_object_class_install_property(
      objectClass, PROP_LOCATION,
      g_param_spec_string("location", "MP3 file location",
                          "Path of the MP3 file to write, read when the element leaves NULL; "
                          "when empty, the path the program hands over in its settings is used",
                          nullptr,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

  GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
  elementClass->change_state = ChangeState;
  gst_element_class_set_static_metadata(
      elementClass, "WAV Dest", "Sink/Encoder/Audio",
      "Encodes raw audio to an MP3 file and passes it on as a WAV stream", "Tonvale developers");
  gst_element_class_add_static_metadata(elementClass, "tonvale-class-id",
                                        tonvale::platform::kSinkClassId);
  gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
  gst_element_class_add_static_pad_template(elementClass, &srcTemplate);

  GST_BIN_CLASS(klass)->handle_message = HandleMessage;
}

static void tonvale_wav_dest_init(TonvaleWavDest* self) {
  if (!BuildInside(self))
    self->mp3Writer = nullptr;
}

namespace tonvale::sink {

gboolean RegisterWavDest(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(tonvale_wav_dest_debug, "tonvalewavdest", 0, "Tonvale WAV Dest");
  return gst_element_register(plugin, kWavDestFactoryName, GST_RANK_NONE, TONVALE_TYPE_WAV_DEST);
}

}  // namespace tonvale::sink
