#include "sink/xing_writer.h"

#include <optional>
#include <vector>

#include "sink/xing_header.h"

GST_DEBUG_CATEGORY_STATIC(tonvale_xing_writer_debug);
#define GST_CAT_DEFAULT tonvale_xing_writer_debug

struct _TonvaleXingWriter {
  GstElement parent;

  GstPad* sinkPad;
  GstPad* srcPad;

  // Touched by the streaming thread, and by state changes while it does not run.
  tonvale::sink::Mp3StreamCounter* counter;
  gboolean started;     // the first data went out, after the segment that starts the file
  gboolean headerSent;  // the placeholder went out ahead of the first frame

  // Guarded by the object lock; -1 = not known.
  gint encoderDelay;
  gint64 inputSamples;
};

// GLib's type boilerplate is C and casts the C way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
G_DEFINE_TYPE(TonvaleXingWriter, tonvale_xing_writer, GST_TYPE_ELEMENT)
#pragma GCC diagnostic pop

namespace {

enum { PROP_0, PROP_ENCODER_DELAY, PROP_INPUT_SAMPLES };

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/mpeg, mpegversion = (int) 1, layer = (int) 3"));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/mpeg, mpegversion = (int) 1, layer = (int) 3"));

GstBuffer* ToBuffer(const std::vector<std::uint8_t>& bytes) {
  return gst_buffer_new_memdup(bytes.data(), bytes.size());
}

// The header for what went through so far. Frames that could not be counted would make it
// state too short a length: then it states none, like the placeholder. The encoder's delay
// and padding go in only when the input count fits the frames.
GstBuffer* FinalHeader(TonvaleXingWriter* self) {
  const auto& counter = *self->counter;
  const std::uint64_t frames = counter.lostSync() ? 0 : counter.table().frames();
  GST_OBJECT_LOCK(self);
  const gint delay = self->encoderDelay;
  const gint64 samples = self->inputSamples;
  GST_OBJECT_UNLOCK(self);
  std::optional<tonvale::sink::EncoderPadding> padding;
  if (delay >= 0 && samples >= 0) {
    padding = tonvale::sink::GaplessPadding(frames, counter.firstFrame()->samplesPerFrame,
                                            static_cast<std::uint64_t>(samples), delay);
    if (!padding && frames > 0)
      GST_WARNING_OBJECT(self,
                         "%" G_GINT64_FORMAT " input samples do not fit %" G_GUINT64_FORMAT
                         " frames; the header states no encoder delay",
                         samples, frames);
  }
  return ToBuffer(tonvale::sink::BuildXingFrame(*counter.firstFrame(), frames, counter.table(),
                                                counter.bytes(), padding, counter.crc()));
}

// Reserves the room the final header takes.
GstBuffer* Placeholder(TonvaleXingWriter* self) {
  static const tonvale::sink::XingSeekTable kNothing;
  return ToBuffer(tonvale::sink::BuildXingFrame(*self->counter->firstFrame(), 0, kNothing, 0));
}

// The file writer takes a byte segment as the position to write at.
gboolean PushByteSegment(TonvaleXingWriter* self, guint32 seqnum) {
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_BYTES);
  GstEvent* event = gst_event_new_segment(&segment);
  if (seqnum != GST_SEQNUM_INVALID)
    gst_event_set_seqnum(event, seqnum);
  return gst_pad_push_event(self->srcPad, event);
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  auto* self = TONVALE_XING_WRITER(parent);
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    gst_buffer_unref(buffer);
    return GST_FLOW_ERROR;
  }
  self->counter->Consume(map.data, map.size);
  gst_buffer_unmap(buffer, &map);
  if (!self->started) {
    self->started = TRUE;
    PushByteSegment(self, GST_SEQNUM_INVALID);
    if (!self->counter->firstFrame()) {
      GST_WARNING_OBJECT(self, "the stream does not start with an MP3 frame; it gets no header");
    } else {
      self->headerSent = TRUE;
      const GstFlowReturn flow = gst_pad_push(self->srcPad, Placeholder(self));
      if (flow != GST_FLOW_OK) {
        gst_buffer_unref(buffer);
        return flow;
      }
    }
  }
  return gst_pad_push(self->srcPad, buffer);
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  auto* self = TONVALE_XING_WRITER(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEGMENT:
      // The output is a file: one byte segment from its start (sent with the first data).
      // Time segments of a paused and resumed source must not move the write position.
      gst_event_unref(event);
      return TRUE;
    case GST_EVENT_EOS: {
      if (self->headerSent) {
        if (self->counter->lostSync())
          GST_WARNING_OBJECT(self, "the stream lost frame sync; the header states no length");
        PushByteSegment(self, gst_event_get_seqnum(event));
        const GstFlowReturn flow = gst_pad_push(self->srcPad, FinalHeader(self));
        if (flow != GST_FLOW_OK)
          GST_WARNING_OBJECT(self, "could not write the final header: %s", gst_flow_get_name(flow));
        GST_DEBUG_OBJECT(
            self,
            "header: %" G_GUINT64_FORMAT " frames, %" G_GUINT64_FORMAT " bytes, %zu table points",
            self->counter->table().frames(), self->counter->bytes(), self->counter->table().size());
      }
      return gst_pad_event_default(pad, parent, event);
    }
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  auto* self = TONVALE_XING_WRITER(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    self->counter->Reset();
    self->headerSent = FALSE;
    self->started = FALSE;
  }
  return GST_ELEMENT_CLASS(tonvale_xing_writer_parent_class)->change_state(element, transition);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  auto* self = TONVALE_XING_WRITER(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_ENCODER_DELAY:
      self->encoderDelay = g_value_get_int(value);
      break;
    case PROP_INPUT_SAMPLES:
      self->inputSamples = g_value_get_int64(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = TONVALE_XING_WRITER(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_ENCODER_DELAY:
      g_value_set_int(value, self->encoderDelay);
      break;
    case PROP_INPUT_SAMPLES:
      g_value_set_int64(value, self->inputSamples);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
  delete TONVALE_XING_WRITER(object)->counter;
  G_OBJECT_CLASS(tonvale_xing_writer_parent_class)->finalize(object);
}

}  // namespace

static void tonvale_xing_writer_class_init(TonvaleXingWriterClass* klass) {
  GST_DEBUG_CATEGORY_INIT(tonvale_xing_writer_debug, "tonvalexingwriter", 0,
                          "Tonvale Xing header writer");
  GObjectClass* objectClass = G_OBJECT_CLASS(klass);
  objectClass->set_property = SetProperty;
  objectClass->get_property = GetProperty;
  objectClass->finalize = Finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      objectClass, PROP_ENCODER_DELAY,
      g_param_spec_int("encoder-delay", "Encoder delay",
                       "Samples per channel the encoder put ahead of its input (-1: not known)", -1,
                       4095, -1, flags));
  g_object_class_install_property(
      objectClass, PROP_INPUT_SAMPLES,
      g_param_spec_int64("input-samples", "Input samples",
                         "Samples per channel the encoder took in, final by the end of the "
                         "stream (-1: not known); with encoder-delay, the final header gets "
                         "a LAME tag for gapless decoding",
                         -1, G_MAXINT64, -1, flags));
  GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
  elementClass->change_state = ChangeState;
  gst_element_class_set_static_metadata(elementClass, "Xing header writer", "Formatter/Audio",
                                        "Puts a Xing header in front of an MP3 stream",
                                        "Tonvale developers");
  gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
  gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
}

static void tonvale_xing_writer_init(TonvaleXingWriter* self) {
  self->counter = new tonvale::sink::Mp3StreamCounter();
  self->encoderDelay = -1;
  self->inputSamples = -1;
  self->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
  gst_pad_set_chain_function(self->sinkPad, Chain);
  gst_pad_set_event_function(self->sinkPad, SinkEvent);
  GST_PAD_SET_PROXY_CAPS(self->sinkPad);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkPad);
  self->srcPad = gst_pad_new_from_static_template(&srcTemplate, "src");
  GST_PAD_SET_PROXY_CAPS(self->srcPad);
  gst_element_add_pad(GST_ELEMENT(self), self->srcPad);
}
