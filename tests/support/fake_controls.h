#pragma once

// The main window's controls as plain data. Once `engine` is set, the timer is a QTimer and
// posted Stop commands and graph notifications are queued on the Qt event loop, as the window
// does (dropped if the controls go first); until then they are only counted.

#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "recorder/recorder_controls.h"
#include "recorder/recorder_engine.h"

namespace tonvale::testing {

struct FakeControls : recorder::RecorderControls {
  recorder::RecorderEngine* engine = nullptr;
  QString status = QStringLiteral("Status : Ready");
  std::map<int, bool> enabled{{1001, true}, {1002, true}, {1003, true}, {1004, true}};
  QString field;
  std::map<int, std::vector<QString>> combos;
  std::map<int, int> selection{{1009, -1}, {1011, -1}};
  int slider = 200;
  bool timerRunning = false;
  int postedStops = 0, quits = 0, hints = 0;
  bool hintAccepted = true;
  int hintDontShowAgain = 1;
  std::unique_ptr<QTimer> timer;
  QObject queue;  // the receiver of the queued calls

  QWidget* owner() override { return reinterpret_cast<QWidget*>(this); }
  void SetStatusText(const QString& t) override { status = t; }
  void EnableControl(int id, bool e) override { enabled[id] = e; }
  QString OutputFieldText() const override { return field; }
  void SetOutputFieldText(const QString& t) override { field = t; }
  int ComboAddString(int id, const QString& t) override {
    combos[id].push_back(t);
    return ComboCount(id) - 1;
  }
  int ComboCount(int id) const override {
    return combos.contains(id) ? static_cast<int>(combos.at(id).size()) : 0;
  }
  int ComboGetCurSel(int id) const override { return selection.at(id); }
  void ComboSetCurSel(int id, int index) override {
    selection[id] = index >= 0 && index < ComboCount(id) ? index : -1;
  }
  void ComboResetContent(int id) override {
    combos[id].clear();
    selection[id] = -1;
  }
  int SliderPos() const override { return slider; }
  void SetSliderPos(int p) override { slider = p; }
  void SetTimer(int id, int periodMs) override {
    timerRunning = true;
    if (engine == nullptr)
      return;
    timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, [this, id] { engine->OnTimer(id); });
    timer->start(periodMs);
  }
  void KillTimer(int) override {
    timerRunning = false;
    timer.reset();
  }
  // Calls the engine from the event loop (the call may come from any thread).
  void Queue(std::function<void(recorder::RecorderEngine&)> call) {
    if (engine != nullptr)
      QMetaObject::invokeMethod(
          &queue, [this, call] { call(*engine); }, Qt::QueuedConnection);
  }
  void PostStopCommand() override {
    ++postedStops;
    Queue([](recorder::RecorderEngine& e) { e.OnStop(); });
  }
  void PostQuit() override { ++quits; }
  bool RunInputHint(int* dontShowAgain) override {
    ++hints;
    *dontShowAgain = hintDontShowAgain;
    return hintAccepted;
  }
  platform::MediaEvent::NotifyFn GraphNotifier() override {
    return
        [this](std::intptr_t i) { Queue([i](recorder::RecorderEngine& e) { e.OnGraphEvent(i); }); };
  }
};

}  // namespace tonvale::testing
