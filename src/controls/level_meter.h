#pragma once

// The input level meter: per channel a bar of the RMS level with the peak level beyond it on a
// dB scale from -60 to 0 dBFS, a peak hold of a second and a clip mark that stays until it is
// reset. Painted inside a one-pixel sunken edge in the two tones of the painted buttons.

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <utility>
#include <vector>

namespace tonvale::controls {

// One channel's levels, linear full scale (1.0 is 0 dBFS).
struct MeterLevel {
  float peak = 0.0F;
  float rms = 0.0F;
};

inline constexpr double kMeterFloorDb = -60.0;
// The level in dBFS, clamped to the scale (silence is its floor).
double LevelDb(double linear);

// What the meter shows, fed one reading at a time.
class LevelMeterModel {
 public:
  inline static constexpr int kHoldMs = 1000;
  // A peak at or above this (-0.01 dBFS) has clipped.
  inline static constexpr float kClipLevel = 0.999F;

  struct Channel {
    double peakDb = kMeterFloorDb;
    double rmsDb = kMeterFloorDb;
    double holdDb = kMeterFloorDb;
    std::int64_t heldSinceMs = 0;
    bool clipped = false;
  };

  // One reading at nowMs (a monotonic clock). The hold keeps the highest peak for kHoldMs,
  // then takes the peak of the moment. No channels: no sound, the bars are empty.
  void Update(const std::vector<MeterLevel>& levels, bool muted, std::int64_t nowMs);
  // Clears the clip marks (a new recording starts).
  void ResetClip();

  const std::vector<Channel>& channels() const { return channels_; }
  bool muted() const { return muted_; }
  bool clipped() const;
  // "Input level -12 dB" (the loudest channel's peak, in steps of 3 dB), "... silent",
  // "... muted", with ", clipped" after a clip.
  QString AccessibleName() const;
  // Every channel's peak and RMS in whole dB.
  QString AccessibleDescription() const;

 private:
  std::vector<Channel> channels_;
  bool muted_ = false;
};

class LevelMeter : public QWidget {
  Q_OBJECT

 public:
  // The look: a background with scale ticks every 12 dB, the bars in three zones (below
  // -12 dB, to -3 dB, above), each RMS part darker than the peak part, the hold a line of
  // the zone's peak colour, the clip box at the right end of each row.
  inline static const QColor kBackground{24, 24, 24};
  inline static const QColor kTick{64, 64, 64};
  inline static const QColor kRms[3] = {{0, 150, 0}, {170, 150, 0}, {170, 0, 0}};
  inline static const QColor kPeak[3] = {{90, 230, 90}, {250, 225, 60}, {255, 70, 70}};
  inline static const QColor kClipOff{70, 20, 20};
  inline static const QColor kClipOn{255, 0, 0};
  inline static const QColor kHighlight{255, 255, 255};
  inline static const QColor kShadow{96, 96, 96};
  inline static const QColor kMutedText{200, 200, 200};
  // The clip box's width and the gap before it, in pixels.
  inline static constexpr int kClipWidth = 4;
  inline static constexpr int kClipGap = 1;

  explicit LevelMeter(QWidget* parent = nullptr);

  // Shows a reading: only the stretches of the rows it moves are painted again, at once; a
  // reading that moves nothing costs no painting. The accessible name and description follow the
  // model (LevelMeterModel::AccessibleName, AccessibleDescription); their change events are sent
  // only while assistive technology listens.
  void SetLevels(const std::vector<MeterLevel>& levels, bool muted, std::int64_t nowMs);
  void ResetClip();
  const LevelMeterModel& model() const { return model_; }
  // Paint events so far.
  std::int64_t paints() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where one row's bars, hold and clip box end, in pixels.
  struct RowMarks {
    int peak = 0;
    int rms = 0;
    int hold = -1;  // the hold line's column; -1 without one
    int holdZone = 0;
    bool clipped = false;
    bool operator==(const RowMarks&) const = default;
  };
  // What is on screen: a reading that changes none of it is not painted.
  struct Marks {
    QSize size;
    bool muted = false;
    std::vector<RowMarks> rows;
  };

  void Announce();
  void MarkChanges();
  Marks MarksOf() const;
  // The pixel column where a level ends.
  int XOf(double db) const;
  // The hold line's column for a level.
  int HoldX(double db) const;
  // Row i of n: its top and height.
  std::pair<int, int> Row(int i, int n) const;

  LevelMeterModel model_;
  Marks painted_;
  QString announcedName_;
  QString announcedDescription_;
  std::int64_t paints_ = 0;
};

}  // namespace tonvale::controls
