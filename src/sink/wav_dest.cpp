#include "sink/wav_dest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gst/audio/audio.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/sink_contract.h"
#include "sink/output_path.h"
#include "sink/wav_header.h"
#include "sink/xing_writer.h"

GST_DEBUG_CATEGORY_STATIC(tonvale_wav_dest_debug);
#define GST_CAT_DEFAULT tonvale_wav_dest_debug

struct _TonvaleWavDest {
  GstBin parent;

  GstElement* mp3Writer;   // the filesink of the MP3 branch, owned by the bin
  GstElement* mp3Header;   // the Xing writer, owned by the bin
  GstPad* mp3EncoderSink;  // lamemp3enc's pads, for the count of its input
  GstPad* mp3EncoderSrc;
  GstPad* wavEncoderSrc;  // wavenc's source pad, for the header probe

  // Guarded by the object lock.
  gchar* location;  // the "location" property; null or empty means "use the hand-off"
  gchar* mp3Path;   // the MP3 file of the current run, for error texts
  gchar* partPath;  // where the MP3 is written until its first audio; null once renamed

  // WAV stream bookkeeping; touched only by the WAV branch's streaming thread and by the
  // READY->PAUSED transition, before that thread starts.
  guint64 wavBytes;
  gboolean wavRewritingHeader;

  // What reached the MP3 encoder; touched only by the MP3 branch's streaming thread and by
  // the READY->PAUSED transition, except mp3InputCountable (atomic), which a flush clears.
  guint64 mp3InputBytes;
  GstAudioInfo mp3InputInfo;
  GstSegment mp3InputSegment;
  gint mp3InputCountable;
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
// LAME puts this many samples (per channel) ahead of its input; decoders add their own 529.
constexpr int kLameEncoderDelay = 576;
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

// A new file beside `path` with a name of its own: "<folder>/.<name>.<random>.part". Its
// descriptor, or -1 with errno set.
int CreatePartFile(const std::string& path, std::string* part) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (int attempt = 0; attempt < 16; ++attempt) {
    *part = folder + "/." + name + "." + std::to_string(g_random_int()) + ".part";
    // A recording is the user's alone, whatever the umask lets others read.
    const int fd = open(part->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  return -1;
}

// Fixes the MP3 path of this run and makes sure a file can be written for it, so that the
// error the program shows names the path and the reason. The MP3 goes to a new file beside
// it that replaces the output file with the first audio (TakeOutputName): until then an
// earlier recording at the path stays as it was.
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
  // Only a regular file is replaced; anything else at the path (a device, a link, a folder)
  // is written in place, or refused by the open below.
  struct stat st {};
  const bool replaceable = lstat(path.c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT;
  std::string part;
  int fd = replaceable ? CreatePartFile(path, &part) : -1;
  if (fd < 0) {
    // No new file can be made in that folder: write the file in place.
    part.clear();
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  }
  if (fd < 0) {
    int error = errno;
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                      ("Could not open \"%s\" for writing: %s", path.c_str(), g_strerror(error)),
                      ("open() failed with errno %d", error));
    return false;
  }
  close(fd);
  GST_OBJECT_LOCK(self);
  g_free(self->partPath);
  self->partPath = part.empty() ? nullptr : g_strdup(part.c_str());
  GST_OBJECT_UNLOCK(self);
  GST_INFO_OBJECT(self, "writing MP3 to %s", path.c_str());
  g_object_set(self->mp3Writer, "location", part.empty() ? path.c_str() : part.c_str(), nullptr);
  return true;
}

// The first bytes of the MP3 are on their way: the new file takes the output file's name.
GstPadProbeReturn TakeOutputName(GstPad* /*pad*/, GstPadProbeInfo* /*info*/, gpointer data) {
  auto* self = static_cast<TonvaleWavDest*>(data);
  GST_OBJECT_LOCK(self);
  gchar* part = self->partPath;
  self->partPath = nullptr;
  const std::string path = self->mp3Path != nullptr ? self->mp3Path : "";
  GST_OBJECT_UNLOCK(self);
  if (part == nullptr)
    return GST_PAD_PROBE_OK;
  if (rename(part, path.c_str()) != 0) {
    const int error = errno;
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                      ("Could not open \"%s\" for writing: %s", path.c_str(), g_strerror(error)),
                      ("rename() from %s failed with errno %d", part, error));
    unlink(part);
  }
  g_free(part);
  return GST_PAD_PROBE_OK;
}

// A run that ended before its first audio leaves the output file alone and no new file.
void RemoveUnusedPartFile(TonvaleWavDest* self) {
  GST_OBJECT_LOCK(self);
  gchar* part = self->partPath;
  self->partPath = nullptr;
  GST_OBJECT_UNLOCK(self);
  if (part != nullptr)
    unlink(part);
  g_free(part);
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

void CountMp3Input(TonvaleWavDest* self, GstBuffer* buffer) {
  const gsize size = gst_buffer_get_size(buffer);
  self->mp3InputBytes += size;
  // The encoder drops what lies outside the segment; the count would not say so.
  const GstClockTime start = GST_BUFFER_PTS(buffer);
  const gint rate = GST_AUDIO_INFO_RATE(&self->mp3InputInfo);
  const gint bpf = GST_AUDIO_INFO_BPF(&self->mp3InputInfo);
  if (!GST_CLOCK_TIME_IS_VALID(start))
    return;
  if (self->mp3InputSegment.format != GST_FORMAT_TIME || rate <= 0 || bpf <= 0) {
    g_atomic_int_set(&self->mp3InputCountable, FALSE);
    return;
  }
  const GstClockTime stop =
      start + (GST_BUFFER_DURATION_IS_VALID(buffer)
                   ? GST_BUFFER_DURATION(buffer)
                   : gst_util_uint64_scale_int(size / static_cast<guint>(bpf), GST_SECOND, rate));
  guint64 clippedStart = 0;
  guint64 clippedStop = 0;
  if (!gst_segment_clip(&self->mp3InputSegment, GST_FORMAT_TIME, start, stop, &clippedStart,
                        &clippedStop) ||
      clippedStart != start || clippedStop != stop) {
    GST_DEBUG_OBJECT(self, "MP3 encoder input outside its segment: no encoder padding stated");
    g_atomic_int_set(&self->mp3InputCountable, FALSE);
  }
}

// The number of samples the encoder took in, for the encoder padding in the MP3's header; -1
// when it cannot be stated. LAME must not have resampled.
void HandOverMp3InputCount(TonvaleWavDest* self) {
  const auto bpf = static_cast<guint64>(GST_AUDIO_INFO_BPF(&self->mp3InputInfo));
  gint outputRate = 0;
  if (GstCaps* caps = gst_pad_get_current_caps(self->mp3EncoderSrc)) {
    gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &outputRate);
    gst_caps_unref(caps);
  }
  gint64 samples = -1;
  if (g_atomic_int_get(&self->mp3InputCountable) && bpf > 0 && self->mp3InputBytes % bpf == 0 &&
      outputRate == GST_AUDIO_INFO_RATE(&self->mp3InputInfo)) {
    samples = static_cast<gint64>(self->mp3InputBytes / bpf);
  }
  GST_DEBUG_OBJECT(self, "MP3 encoder input: %" G_GINT64_FORMAT " samples", samples);
  g_object_set(self->mp3Header, "input-samples", samples, nullptr);
}

// Counts the samples per channel that reach the MP3 encoder.
GstPadProbeReturn WatchMp3Input(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer data) {
  auto* self = static_cast<TonvaleWavDest*>(data);
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
    CountMp3Input(self, GST_PAD_PROBE_INFO_BUFFER(info));
    return GST_PAD_PROBE_OK;
  }
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) != 0) {
    GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    for (guint i = 0; i < gst_buffer_list_length(list); ++i)
      CountMp3Input(self, gst_buffer_list_get(list, i));
    return GST_PAD_PROBE_OK;
  }
  if ((info->type & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH)) == 0)
    return GST_PAD_PROBE_OK;
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      GstAudioInfo audio;
      gst_audio_info_init(&audio);
      // New caps restart the encoder: its delay comes again, in the middle of the stream.
      if (!gst_audio_info_from_caps(&audio, caps) ||
          (self->mp3InputBytes > 0 && !gst_audio_info_is_equal(&audio, &self->mp3InputInfo))) {
        g_atomic_int_set(&self->mp3InputCountable, FALSE);
      }
      self->mp3InputInfo = audio;
      break;
    }
    case GST_EVENT_SEGMENT:
      gst_event_copy_segment(event, &self->mp3InputSegment);
      break;
    case GST_EVENT_FLUSH_STOP:
      g_atomic_int_set(&self->mp3InputCountable, FALSE);
      break;
    default:
      break;
  }
  return GST_PAD_PROBE_OK;
}

// The encoder's EOS leaves after its input's EOS, so the count is final, and after its last
// frames, so its output caps are known even for a stream shorter than a frame. The Xing writer
// finishes the header when the EOS reaches it, next.
GstPadProbeReturn WatchMp3Output(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer data) {
  if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
    HandOverMp3InputCount(static_cast<TonvaleWavDest*>(data));
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
  g_object_set(xing, "encoder-delay", kLameEncoderDelay, nullptr);
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
  self->mp3Header = xing;
  GstPad* writerSink = gst_element_get_static_pad(writer, "sink");
  gst_pad_add_probe(
      writerSink,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
      TakeOutputName, self, nullptr);
  gst_object_unref(writerSink);

  self->mp3EncoderSink = gst_element_get_static_pad(lame, "sink");
  self->mp3EncoderSrc = gst_element_get_static_pad(lame, "src");
  gst_pad_add_probe(self->mp3EncoderSink,
                    static_cast<GstPadProbeType>(
                        GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                        GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                    WatchMp3Input, self, nullptr);
  gst_pad_add_probe(self->mp3EncoderSrc, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, WatchMp3Output, self,
                    nullptr);

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
      self->mp3InputBytes = 0;
      gst_audio_info_init(&self->mp3InputInfo);
      gst_segment_init(&self->mp3InputSegment, GST_FORMAT_UNDEFINED);
      g_atomic_int_set(&self->mp3InputCountable, TRUE);
      g_object_set(self->mp3Header, "input-samples", G_GINT64_CONSTANT(-1), nullptr);
      break;
    default:
      break;
  }
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(tonvale_wav_dest_parent_class)->change_state(element, transition);
  // The MP3 writer has closed its file by now, or never opened it.
  if (transition == GST_STATE_CHANGE_READY_TO_NULL ||
      (transition == GST_STATE_CHANGE_NULL_TO_READY && result == GST_STATE_CHANGE_FAILURE))
    RemoveUnusedPartFile(self);
  return result;
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
  for (GstPad* pad : {self->wavEncoderSrc, self->mp3EncoderSink, self->mp3EncoderSrc}) {
    if (pad != nullptr)
      gst_object_unref(pad);
  }
  g_free(self->location);
  g_free(self->mp3Path);
  RemoveUnusedPartFile(self);
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
