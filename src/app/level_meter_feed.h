#pragma once

// Feeds the main window's level meter from the level monitor while the window is shown and not
// minimised: every 60 ms it reads the levels of the selected input line. The line is asked for
// again after LineChanged() and once a second (a device may come back in the same place).
// Hidden or minimised, nothing is metered. Each stop logs, under
// tonvale.meter, the readings and the meter's paints since the start (for the benchmark).

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/level_monitor.h"

namespace tonvale::controls {
class LevelMeter;
}

namespace tonvale::app {

class LevelMeterFeed : public QObject {
  Q_OBJECT

 public:
  inline static constexpr int kPeriodMs = 60;
  using LineFn = std::function<std::shared_ptr<platform::Pin>()>;

  LevelMeterFeed(QWidget* window, controls::LevelMeter* meter, platform::LevelMonitor& monitor,
                 LineFn selectedLine);
  ~LevelMeterFeed() override;

  bool running() const { return timer_.isActive(); }
  // Reads the levels now and shows them.
  void Tick();
  // The selection of a device or a line may have changed: the next reading follows it.
  void LineChanged() { lineChanged_ = true; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateRunning();
  void LogRun();

  QWidget* window_;
  controls::LevelMeter* meter_;
  platform::LevelMonitor& monitor_;
  LineFn selectedLine_;
  std::shared_ptr<platform::Pin> line_;
  bool lineChanged_ = true;
  int readingsSinceAsked_ = 0;
  QTimer timer_;
  QElapsedTimer clock_;
  std::int64_t startedMs_ = 0;
  std::int64_t readings_ = 0;
  std::int64_t startPaints_ = 0;
};

}  // namespace tonvale::app
