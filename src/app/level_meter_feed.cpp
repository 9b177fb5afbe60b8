#include "app/level_meter_feed.h"

#include <QEvent>
#include <QLoggingCategory>
#include <QWidget>

#include "controls/level_meter.h"

namespace tonvale::app {

namespace {
Q_LOGGING_CATEGORY(lcMeter, "tonvale.meter")
// Readings between two questions for the selected line when no change was signalled.
constexpr int kReadingsPerLineCheck = 1000 / LevelMeterFeed::kPeriodMs;
}  // namespace

LevelMeterFeed::LevelMeterFeed(QWidget* window, controls::LevelMeter* meter,
                               platform::LevelMonitor& monitor, LineFn selectedLine)
    : QObject(window),
      window_(window),
      meter_(meter),
      monitor_(monitor),
      selectedLine_(std::move(selectedLine)) {
  clock_.start();
  timer_.setInterval(kPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &LevelMeterFeed::Tick);
  window_->installEventFilter(this);
  UpdateRunning();
}

LevelMeterFeed::~LevelMeterFeed() {
  window_->removeEventFilter(this);
  if (timer_.isActive())
    LogRun();
  monitor_.Stop();
}

void LevelMeterFeed::LogRun() {
  qCDebug(lcMeter).nospace() << "metered " << clock_.elapsed() - startedMs_ << " ms: " << readings_
                             << " readings, " << meter_->paints() - startPaints_ << " paints";
}

bool LevelMeterFeed::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_) {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::WindowStateChange:
        UpdateRunning();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

void LevelMeterFeed::UpdateRunning() {
  const bool wanted = window_->isVisible() && !window_->isMinimized();
  if (wanted == timer_.isActive())
    return;
  if (wanted) {
    startedMs_ = clock_.elapsed();
    readings_ = 0;
    startPaints_ = meter_->paints();
    timer_.start();
    Tick();
    return;
  }
  LogRun();
  timer_.stop();
  monitor_.Stop();
  line_.reset();
  lineChanged_ = true;
  meter_->SetLevels({}, false, clock_.elapsed());
}

void LevelMeterFeed::Tick() {
  // Finding the line walks the device's pins: not at every reading.
  if (lineChanged_ || ++readingsSinceAsked_ >= kReadingsPerLineCheck) {
    lineChanged_ = false;
    readingsSinceAsked_ = 0;
    std::shared_ptr<platform::Pin> line = selectedLine_();
    if (line != line_) {
      line_ = std::move(line);
      if (line_)
        monitor_.Watch(line_);
      else
        monitor_.Stop();
    }
  }
  platform::LineLevels levels;
  std::vector<controls::MeterLevel> shown;
  if (!monitor_.Read(&levels))
    levels = {};
  ++readings_;
  for (const platform::ChannelLevel& c : levels.channels) shown.push_back({c.peak, c.rms});
  meter_->SetLevels(shown, levels.muted, clock_.elapsed());
}

}  // namespace tonvale::app
