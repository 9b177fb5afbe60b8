#include "controls/level_meter.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace tonvale::controls {

namespace {

// The zone of a level: 0 below -12 dB, 1 to -3 dB, 2 above.
int Zone(double db) {
  return db >= -3.0 ? 2 : db >= -12.0 ? 1 : 0;
}

QString Db(double db) {
  return QStringLiteral("%1 dB").arg(std::lround(db));
}

}  // namespace

double LevelDb(double linear) {
  if (!(linear > 0.0))
    return kMeterFloorDb;
  return std::clamp(20.0 * std::log10(linear), kMeterFloorDb, 0.0);
}

void LevelMeterModel::Update(const std::vector<MeterLevel>& levels, bool muted,
                             std::int64_t nowMs) {
  muted_ = muted;
  if (!levels.empty() && levels.size() != channels_.size())
    channels_.resize(levels.size());
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    Channel& c = channels_[i];
    const MeterLevel level = i < levels.size() ? levels[i] : MeterLevel{};
    c.peakDb = LevelDb(level.peak);
    c.rmsDb = std::min(LevelDb(level.rms), c.peakDb);
    if (c.peakDb >= c.holdDb || nowMs - c.heldSinceMs >= kHoldMs) {
      c.holdDb = c.peakDb;
      c.heldSinceMs = nowMs;
    }
    c.clipped = c.clipped || level.peak >= kClipLevel;
  }
}

void LevelMeterModel::ResetClip() {
  for (Channel& c : channels_) c.clipped = false;
}

bool LevelMeterModel::clipped() const {
  return std::ranges::any_of(channels_, &Channel::clipped);
}

QString LevelMeterModel::AccessibleName() const {
  QString text = QStringLiteral("Input level ");
  double loudest = kMeterFloorDb;
  for (const Channel& c : channels_) loudest = std::max(loudest, c.peakDb);
  if (muted_)
    text += QStringLiteral("muted");
  else if (loudest <= kMeterFloorDb)
    text += QStringLiteral("silent");
  else
    text += Db(3.0 * std::round(loudest / 3.0));
  return clipped() ? text + QStringLiteral(", clipped") : text;
}

QString LevelMeterModel::AccessibleDescription() const {
  QStringList parts;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    parts << QStringLiteral("channel %1: peak %2, RMS %3")
                 .arg(i + 1)
                 .arg(Db(channels_[i].peakDb), Db(channels_[i].rmsDb));
  }
  return parts.join(QStringLiteral("; "));
}

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted: nothing beneath
  Announce();
}

void LevelMeter::SetLevels(const std::vector<MeterLevel>& levels, bool muted, std::int64_t nowMs) {
  model_.Update(levels, muted, nowMs);
  if (std::vector<int> extents = Extents(); extents != painted_) {
    painted_ = std::move(extents);
    Announce();
    update();
  }
}

void LevelMeter::ResetClip() {
  model_.ResetClip();
  Announce();
  painted_ = Extents();
  update();
}

std::vector<int> LevelMeter::Extents() const {
  const double pixelsPerDb = (width() - 2 - kClipWidth - kClipGap) / -kMeterFloorDb;
  std::vector<int> extents{model_.muted() ? 1 : 0, width(), height()};
  for (const LevelMeterModel::Channel& c : model_.channels()) {
    for (double db : {c.peakDb, c.rmsDb, c.holdDb})
      extents.push_back(static_cast<int>(std::lround((db - kMeterFloorDb) * pixelsPerDb)));
    extents.push_back(c.clipped ? 1 : 0);
  }
  return extents;
}

void LevelMeter::Announce() {
  // Set only on a change: each change is an event for the assistive technology.
  if (const QString name = model_.AccessibleName(); name != accessibleName())
    setAccessibleName(name);
  if (const QString description = model_.AccessibleDescription();
      description != accessibleDescription())
    setAccessibleDescription(description);
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  // Sunken: the shadow above and left, the highlight below and right.
  p.fillRect(rect(), kHighlight);
  p.fillRect(0, 0, width() - 1, 1, kShadow);
  p.fillRect(0, 0, 1, height() - 1, kShadow);
  p.fillRect(inside, kBackground);

  const QRect bars = inside.adjusted(0, 0, -(kClipWidth + kClipGap), 0);
  const auto xOf = [&](double db) {
    return bars.left() +
           static_cast<int>(std::lround((db - kMeterFloorDb) / -kMeterFloorDb * bars.width()));
  };
  for (double db = kMeterFloorDb + 12.0; db < 0.0; db += 12.0)
    p.fillRect(xOf(db), inside.top(), 1, inside.height(), kTick);

  if (model_.muted()) {
    p.setPen(kMutedText);
    p.drawText(inside, Qt::AlignCenter, QStringLiteral("Muted"));
    return;
  }
  const auto& channels = model_.channels();
  const int n = std::max<int>(1, static_cast<int>(channels.size()));
  // Rows of equal height with a one-pixel gap; the remainder goes to the last row.
  const int rowHeight = std::max(1, (inside.height() - (n - 1)) / n);
  for (int i = 0; i < static_cast<int>(channels.size()); ++i) {
    const LevelMeterModel::Channel& c = channels[static_cast<std::size_t>(i)];
    const int top = inside.top() + i * (rowHeight + 1);
    const int h = i == n - 1 ? inside.bottom() + 1 - top : rowHeight;
    // Each zone's stretch of the bar: the RMS part, then the peak part.
    const double edges[] = {kMeterFloorDb, -12.0, -3.0, 0.0};
    for (int z = 0; z < 3; ++z) {
      const auto paint = [&](double upTo, const QColor& colour) {
        const int from = xOf(edges[z]);
        const int to = xOf(std::min(upTo, edges[z + 1]));
        if (to > from)
          p.fillRect(from, top, to - from, h, colour);
      };
      paint(c.peakDb, kPeak[z]);
      paint(c.rmsDb, kRms[z]);
    }
    if (c.holdDb > kMeterFloorDb)
      p.fillRect(std::min(xOf(c.holdDb), bars.right()), top, 1, h, kPeak[Zone(c.holdDb)]);
    p.fillRect(inside.right() + 1 - kClipWidth, top, kClipWidth, h, c.clipped ? kClipOn : kClipOff);
  }
}

}  // namespace tonvale::controls
