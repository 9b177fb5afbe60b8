#pragma once

// The main window's controls without a window, for driving the real engine and graph: the
// one-second timer is a real QTimer, posted Stop commands and graph events are queued on
// the Qt event loop, and message boxes are recorded instead of shown.

#include <QCoreApplication>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "platform/services.h"
#include "recorder/recorder_controls.h"
#include "recorder/recorder_engine.h"

namespace tonvale::testing {

struct HeadlessControls : recorder::RecorderControls {
  recorder::RecorderEngine* engine = nullptr;
  std::map<int, std::unique_ptr<QTimer>> timers;
  QString status;
  int cardSel = -1, lineSel = -1, cards = 0, lines = 0;
  std::vector<QString> cardNames, lineNames;
  QString field;

  QWidget* owner() override { return nullptr; }
  void SetStatusText(const QString& text) override { status = text; }
  void EnableControl(int, bool) override {}
  QString OutputFieldText() const override { return field; }
  void SetOutputFieldText(const QString& t) override { field = t; }
  int ComboAddString(int id, const QString& text) override {
    (id == recorder::id::kSoundCards ? cardNames : lineNames).push_back(text);
    return id == recorder::id::kSoundCards ? cards++ : lines++;
  }
  int ComboCount(int id) const override { return id == recorder::id::kSoundCards ? cards : lines; }
  int ComboGetCurSel(int id) const override {
    return id == recorder::id::kSoundCards ? cardSel : lineSel;
  }
  void ComboSetCurSel(int id, int i) override {
    int& sel = id == recorder::id::kSoundCards ? cardSel : lineSel;
    sel = i >= 0 && i < ComboCount(id) ? i : -1;
  }
  void ComboResetContent(int id) override {
    (id == recorder::id::kSoundCards ? cards : lines) = 0;
    (id == recorder::id::kSoundCards ? cardNames : lineNames).clear();
    ComboSetCurSel(id, -1);
  }
  int SliderPos() const override { return 200; }
  void SetSliderPos(int) override {}
  void SetTimer(int id, int periodMs) override {
    auto& timer = timers[id];
    if (!timer) {
      timer = std::make_unique<QTimer>();
      timer->setTimerType(Qt::PreciseTimer);
      QObject::connect(timer.get(), &QTimer::timeout, [this, id] { engine->OnTimer(id); });
    }
    timer->start(periodMs);
  }
  void KillTimer(int id) override {
    if (auto it = timers.find(id); it != timers.end())
      it->second->stop();
  }
  void PostStopCommand() override {
    QTimer::singleShot(0, [this] { engine->OnStop(); });
  }
  void PostQuit() override {}
  bool RunInputHint(int*) override { return false; }
  platform::MediaEvent::NotifyFn GraphNotifier() override {
    return [this](std::intptr_t instance) {
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [this, instance] { engine->OnGraphEvent(instance); },
          Qt::QueuedConnection);
    };
  }
};

struct RecordedBoxes : platform::MessageBoxes {
  std::vector<QString> texts;
  void Show(QWidget*, const QString& text, const QString&, Icon) override { texts.push_back(text); }
  void Beep() override {}
};

struct NoDesktop : platform::Desktop {
  bool OpenFile(const QString&) override { return false; }
  bool OpenUrl(const QString&) override { return false; }
};

}  // namespace tonvale::testing
