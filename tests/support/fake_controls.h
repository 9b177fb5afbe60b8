#pragma once

// The main window's controls as plain data, for driving the recording engine without a
// window. Once `engine` is set, the one-second timer is a real QTimer and posted Stop
// commands and graph notifications are queued on the Qt event loop, as the window does;
// until then they are only counted. What is still queued when the controls go is dropped.

#include <QCoreApplication>
#include <QTimer>
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
  int postedStops = 0;
  int quits = 0;
  int hints = 0;
  bool hintAccepted = true;
  int hintDontShowAgain = 1;
  int notifications = 0;
  std::unique_ptr<QTimer> timer;
  QObject queue;  // the receiver of the queued calls

  QWidget* owner() override { return reinterpret_cast<QWidget*>(this); }
  void SetStatusText(const QString& t) override { status = t; }
  void EnableControl(int id, bool e) override { enabled[id] = e; }
  QString OutputFieldText() const override { return field; }
  void SetOutputFieldText(const QString& t) override { field = t; }
  int ComboAddString(int id, const QString& t) override {
    combos[id].push_back(t);
    return static_cast<int>(combos[id].size()) - 1;
  }
  int ComboCount(int id) const override {
    auto it = combos.find(id);
    return it == combos.end() ? 0 : static_cast<int>(it->second.size());
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
  void PostStopCommand() override {
    ++postedStops;
    if (engine != nullptr)
      QTimer::singleShot(0, &queue, [this] {
        if (engine != nullptr)
          engine->OnStop();
      });
  }
  void PostQuit() override { ++quits; }
  bool RunInputHint(int* dontShowAgain) override {
    ++hints;
    *dontShowAgain = hintDontShowAgain;
    return hintAccepted;
  }
  platform::MediaEvent::NotifyFn GraphNotifier() override {
    return [this](std::intptr_t instance) {
      ++notifications;
      if (engine != nullptr) {
        QMetaObject::invokeMethod(
            &queue,
            [this, instance] {
              if (engine != nullptr)
                engine->OnGraphEvent(instance);
            },
            Qt::QueuedConnection);
      }
    };
  }
  // The name of a sound card or input line the engine listed, or -1.
  int Find(int id, const QString& suffix) const {
    const auto it = combos.find(id);
    for (std::size_t i = 0; it != combos.end() && i < it->second.size(); ++i) {
      if (it->second[i].endsWith(suffix))
        return static_cast<int>(i);
    }
    return -1;
  }
};

}  // namespace tonvale::testing
