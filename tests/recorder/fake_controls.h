#pragma once

#include <map>
#include <vector>

#include "recorder/recorder_controls.h"

namespace tonvale::testing {

// The main window's controls as plain data.
struct FakeControls : recorder::RecorderControls {
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
  void SetTimer(int, int) override { timerRunning = true; }
  void KillTimer(int) override { timerRunning = false; }
  void PostStopCommand() override { ++postedStops; }
  void PostQuit() override { ++quits; }
  bool RunInputHint(int* dontShowAgain) override {
    ++hints;
    *dontShowAgain = hintDontShowAgain;
    return hintAccepted;
  }
  platform::MediaEvent::NotifyFn GraphNotifier() override {
    return [this](std::intptr_t) { ++notifications; };
  }
};

}  // namespace tonvale::testing
