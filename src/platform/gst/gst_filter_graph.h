#pragma once

// The filter graph on a GstPipeline: GraphBuilder, MediaControl and MediaEvent on one object.
//
// Filters joined to the graph are GstCaptureFilter and GstElementFilter objects. The capture
// filter's bin lives in the pipeline from AddFilter to RemoveFilter; any other filter's
// element enters the pipeline only while Render has it connected, so a filter left over from
// a failed build never holds the pipeline up. All calls except Notify and the bus handler
// are made on the UI thread.
//
// Events: EC_ERRORABORT for every streaming error, param1 VFW_E_NO_CAPTURE_HARDWARE when the
// PulseAudio source failed (refused, or the server went away) while its device is still there
// (a device that has gone is reported by its watch instead), E_ACCESSDENIED when a file could
// not be opened for writing, E_FAIL otherwise, param2 the text (it names the file or device);
// EC_COMPLETE when the stream ends by itself; whatever filters queue through Notify.

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/gst/graph_event_queue.h"
#include "platform/gst/gst_pre_roll.h"
#include "platform/gst/gst_support.h"
#include "platform/media.h"

namespace tonvale::platform {

class GstCaptureFilter;

class GstFilterGraph : public GraphBuilder,
                       public MediaControl,
                       public MediaEvent,
                       public MediaEventSink,
                       public std::enable_shared_from_this<GstFilterGraph> {
 public:
  // Null when GStreamer or the pipeline is unavailable.
  static std::shared_ptr<GstFilterGraph> Create();
  ~GstFilterGraph() override;
  GstFilterGraph(const GstFilterGraph&) = delete;
  GstFilterGraph& operator=(const GstFilterGraph&) = delete;

  // How long StopWhenReady, Stop and the destructor wait for the stream to end: for a
  // streaming capture to end it, then for the end to reach every file.
  static constexpr int kCaptureEndWaitMs = 400;
  static constexpr int kEndOfStreamWaitMs = 5000;
  // How much audio after the moment of Stop the files keep.
  static constexpr GstClockTime kStopAllowance = 20 * GST_MSECOND;
  // How long Run and Pause wait for the pipeline to reach the state.
  static constexpr int kStateWaitMs = 3000;

  HRESULT AddFilter(const std::shared_ptr<Filter>& filter, const std::string& name) override;
  // A running graph is ended first (as by StopWhenReady), so the files stay complete.
  HRESULT RemoveFilter(const std::shared_ptr<Filter>& filter) override;
  // Connects an output pin of a filter in the graph to the free filters in the graph: filters
  // that pass the stream on are tried before those that end it, the most recently added
  // first, inserting audio converters where raw audio does not link directly. The graph must
  // be stopped.
  HRESULT Render(const std::shared_ptr<Pin>& pin) override;
  HRESULT QueryMediaControl(std::shared_ptr<MediaControl>* control) override;
  HRESULT QueryMediaEvent(std::shared_ptr<MediaEvent>* events) override;

  HRESULT Run() override;
  // The state change runs on a thread of its own, from the moment of the call: the capture
  // opens its stream while the caller goes on.
  HRESULT RunAsync() override;
  // A separate capture of the source keeps the audio; a run started from stopped begins with
  // the part of it before the start, joined to the live stream where their sound meets.
  HRESULT SetPreRoll(int ms) override;
  // Stops capture; a later Run continues the same stream.
  HRESULT Pause() override;
  // Ends the stream like StopWhenReady: stopping a recording by any way leaves its files
  // complete.
  HRESULT Stop() override;
  HRESULT StopWhenReady() override;

  HRESULT SetNotifyWindow(NotifyFn notify, std::intptr_t instance) override;
  HRESULT GetEvent(long* code, std::intptr_t* param1, std::intptr_t* param2,
                   int timeoutMs) override;
  HRESULT FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) override;

  // Queues an event from a filter; any thread.
  void Notify(long code, std::intptr_t param1, std::intptr_t param2) override;

 private:
  struct Entry {
    std::shared_ptr<Filter> filter;
    std::string name;
    GstElement* element = nullptr;  // kept alive by the filter
    GstCaptureFilter* capture = nullptr;
    bool inPipeline = false;
  };
  // One connection made by Render: src -> helpers... -> sink.
  struct Link {
    GstRef<GstPad> src;
    GstRef<GstPad> sink;
    std::vector<GstElement*> helpers;  // owned by the pipeline
  };
  GstFilterGraph() = default;
  bool Init();

  Entry* FindEntry(const Filter* filter);
  Entry* FindEntryOfElement(const GstElement* element);
  // The pad a pin of a filter in the graph stands for (a new reference), or null.
  GstPad* PadOfPin(const Pin* pin, Entry** owner);
  bool RenderPad(GstPad* src, const Entry* owner, std::vector<Link>* made, int depth);
  bool TryLink(GstPad* src, Entry* target, GstPad* sink, std::vector<Link>* made);
  void Undo(Link& link);
  void Attach(Entry* entry);
  void DetachUnlinked();

  HRESULT ChangeState(GstState target);
  HRESULT ChangeStateNow(GstState target);
  // Waits for a start that RunAsync left running.
  void JoinStart();
  // Ends the stream (bounded wait) and takes the pipeline to NULL.
  HRESULT Finish();
  class EndOfStreamGate;
  void EndStream(GstState current, bool failed);
  // The output pads of the capture filters in the graph.
  std::vector<GstRef<GstPad>> CaptureOutputs();
  void DropCapturedAudio();
  void StopDropping();
  GstState CurrentState() const;

  static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
  void HandleError(GstMessage* message);
  void HandleEndOfStream(GstMessage* message);

  GstElement* pipeline_ = nullptr;
  std::vector<Entry> entries_;
  std::vector<Link> links_;
  std::vector<std::pair<GstRef<GstPad>, gulong>> dropProbes_;
  std::vector<std::unique_ptr<EndOfStreamGate>> gates_;

  // Stream state shared with the bus handler.
  std::mutex streamMutex_;
  std::condition_variable streamChanged_;
  bool waitingForEos_ = false;
  bool eosReached_ = false;
  bool errorSeen_ = false;
  int errorCount_ = 0;
  HRESULT lastError_ = S_OK;

  GraphEventQueue events_;
  std::thread starter_;

  // What is kept before a start, and the start it goes into.
  static GstPadProbeReturn OnLiveAudio(GstPad* pad, GstPadProbeInfo* info, gpointer self);
  void SpliceBeforeStart(GstPad* pad, GstBuffer* live);
  void RemoveSplice();
  int preRollMs_ = 0;
  bool preRollChanged_ = false;
  std::unique_ptr<GstPreRoll> preRoll_;
  GstClockTime startedAt_ = GST_CLOCK_TIME_NONE;  // system clock, at RunAsync
  std::vector<std::pair<GstRef<GstPad>, gulong>> spliceProbes_;
  // Touched by the streaming thread until the stream ends.
  bool spliced_ = false;
  std::atomic<GstClockTime> preRollLength_{0};
};

}  // namespace tonvale::platform
