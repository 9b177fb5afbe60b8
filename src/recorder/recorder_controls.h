#pragma once

#include <QString>

#include "platform/media.h"
#include "resources/control_ids.h"

class QWidget;

namespace tonvale::recorder {

// Control identifiers of the main window.
namespace id = resources::ids;

inline constexpr int kTimerId = 1113;
inline constexpr int kTimerPeriodMs = 1000;

// What the recording engine needs of the main window: its controls, its timer, its message
// queue and its modal helpers. The main dialog implements it on its widgets; tests on a fake.
// Called on the UI thread only.
class RecorderControls {
 public:
  virtual ~RecorderControls() = default;

  virtual QWidget* owner() = 0;
  virtual void SetStatusText(const QString& text) = 0;
  virtual void EnableControl(int controlId, bool enable) = 0;
  virtual QString OutputFieldText() const = 0;
  virtual void SetOutputFieldText(const QString& text) = 0;

  // Drop-down lists 1009 and 1011. SetCurSel with a position outside the list clears the
  // selection; GetCurSel gives -1 when nothing is selected.
  virtual int ComboAddString(int controlId, const QString& text) = 0;
  virtual int ComboCount(int controlId) const = 0;
  virtual int ComboGetCurSel(int controlId) const = 0;
  virtual void ComboSetCurSel(int controlId, int index) = 0;
  virtual void ComboResetContent(int controlId) = 0;

  // Volume slider 1038.
  virtual int SliderPos() const = 0;
  virtual void SetSliderPos(int pos) = 0;

  virtual void SetTimer(int timerId, int periodMs) = 0;
  virtual void KillTimer(int timerId) = 0;
  // Queues the Stop command: it runs once the current handler has returned.
  virtual void PostStopCommand() = 0;
  // Ends the dialog's modal loop as soon as control returns to it.
  virtual void PostQuit() = 0;
  // Runs the input hint dialog; true when it was closed with OK, with the state of its
  // "do not show again" box in *dontShowAgain.
  virtual bool RunInputHint(int* dontShowAgain) = 0;
  // The function the capture graph calls (from any thread) when events are pending; it must
  // queue the graph event to the window.
  virtual platform::MediaEvent::NotifyFn GraphNotifier() = 0;
};

}  // namespace tonvale::recorder
