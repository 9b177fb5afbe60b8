#include "controls/level_meter.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QRegion>
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

namespace {

// The meter's accessible texts, read from its model when asked.
class MeterAccessible : public QAccessibleWidget {
 public:
  explicit MeterAccessible(LevelMeter* meter) : QAccessibleWidget(meter) {}
  QString text(QAccessible::Text t) const override {
    const LevelMeterModel& m = static_cast<const LevelMeter*>(widget())->model();
    switch (t) {
      case QAccessible::Name:
        return m.AccessibleName();
      case QAccessible::Description:
        return m.AccessibleDescription();
      default:
        return QAccessibleWidget::text(t);
    }
  }
};

QAccessibleInterface* MeterAccessibleFactory(const QString& key, QObject* object) {
  if (key == QLatin1String(LevelMeter::staticMetaObject.className()))
    if (auto* meter = qobject_cast<LevelMeter*>(object))
      return new MeterAccessible(meter);
  return nullptr;
}

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
  [[maybe_unused]] static const bool factoryInstalled =
      (QAccessible::installFactory(MeterAccessibleFactory), true);
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted: nothing beneath
}

void LevelMeter::SetLevels(const std::vector<MeterLevel>& levels, bool muted, std::int64_t nowMs) {
  model_.Update(levels, muted, nowMs);
  MarkChanges();
}

void LevelMeter::ResetClip() {
  model_.ResetClip();
  MarkChanges();
}

int LevelMeter::XOf(double db) const {
  const int left = 1;
  const int width = this->width() - 2 - kClipWidth - kClipGap;
  return left + static_cast<int>(std::lround((db - kMeterFloorDb) / -kMeterFloorDb * width));
}

int LevelMeter::HoldX(double db) const {
  // On the bars' last column at most, clear of the clip box.
  return std::min(XOf(db), XOf(0.0) - 1);
}

std::pair<int, int> LevelMeter::Row(int i, int n) const {
  // Rows of equal height with a one-pixel gap; the remainder goes to the last row.
  const int insideHeight = height() - 2;
  const int rowHeight = std::max(1, (insideHeight - (n - 1)) / n);
  const int top = 1 + i * (rowHeight + 1);
  return {top, i == n - 1 ? insideHeight + 1 - top : rowHeight};
}

LevelMeter::Marks LevelMeter::MarksOf() const {
  Marks marks{size(), model_.muted(), {}};
  for (const LevelMeterModel::Channel& c : model_.channels()) {
    RowMarks row{XOf(c.peakDb), XOf(c.rmsDb), -1, 0, c.clipped};
    if (c.holdDb > kMeterFloorDb) {
      row.hold = HoldX(c.holdDb);
      row.holdZone = Zone(c.holdDb);
    }
    marks.rows.push_back(row);
  }
  return marks;
}

void LevelMeter::MarkChanges() {
  Announce();
  Marks now = MarksOf();
  if (now.size != painted_.size || now.muted != painted_.muted ||
      now.rows.size() != painted_.rows.size()) {
    update();
  } else if (!now.muted) {
    QRegion changed;
    const int n = static_cast<int>(now.rows.size());
    for (int i = 0; i < n; ++i) {
      const RowMarks& was = painted_.rows[static_cast<std::size_t>(i)];
      const RowMarks& is = now.rows[static_cast<std::size_t>(i)];
      if (was == is)
        continue;
      const auto [top, h] = Row(i, n);
      // The columns [from, to) that differ: between the old and the new end of a bar, and the
      // old and the new hold line.
      int from = width(), to = 0;
      const auto span = [&](int a, int b) {
        from = std::min({from, a, b});
        to = std::max({to, a, b});
      };
      if (was.peak != is.peak)
        span(was.peak, is.peak);
      if (was.rms != is.rms)
        span(was.rms, is.rms);
      if (was.hold != is.hold || was.holdZone != is.holdZone) {
        for (int hold : {was.hold, is.hold}) {
          if (hold >= 0)
            span(hold, hold + 1);
        }
      }
      if (from < to)
        changed += QRect(from, top, to - from, h);
      if (was.clipped != is.clipped)
        changed += QRect(width() - 1 - kClipWidth, top, kClipWidth, h);
    }
    // At once, while the reading is new: a posted update would cost another pass of the event
    // loop for each reading.
    if (!changed.isEmpty())
      repaint(changed);
  }
  painted_ = std::move(now);
}

void LevelMeter::Announce() {
  // The texts are read from the model when asked (MeterAccessible); a change is announced
  // only to a listener, each change being an event for it.
  if (!QAccessible::isActive())
    return;
  if (QString name = model_.AccessibleName(); name != announcedName_) {
    announcedName_ = std::move(name);
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
  }
  if (QString description = model_.AccessibleDescription(); description != announcedDescription_) {
    announcedDescription_ = std::move(description);
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
  }
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
  ++paints_;
  QPainter p(this);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  // Sunken: the shadow above and left, the highlight below and right.
  p.fillRect(rect(), kHighlight);
  p.fillRect(0, 0, width() - 1, 1, kShadow);
  p.fillRect(0, 0, 1, height() - 1, kShadow);
  p.fillRect(inside, kBackground);

  for (double db = kMeterFloorDb + 12.0; db < 0.0; db += 12.0)
    p.fillRect(XOf(db), inside.top(), 1, inside.height(), kTick);

  if (model_.muted()) {
    p.setPen(kMutedText);
    p.drawText(inside, Qt::AlignCenter, QStringLiteral("Muted"));
    return;
  }
  const auto& channels = model_.channels();
  const int n = static_cast<int>(channels.size());
  for (int i = 0; i < n; ++i) {
    const LevelMeterModel::Channel& c = channels[static_cast<std::size_t>(i)];
    const auto [top, h] = Row(i, n);
    // Each zone's stretch of the bar: the RMS part, then the peak part.
    const double edges[] = {kMeterFloorDb, -12.0, -3.0, 0.0};
    for (int z = 0; z < 3; ++z) {
      const auto paint = [&](double upTo, const QColor& colour) {
        const int from = XOf(edges[z]);
        const int to = XOf(std::min(upTo, edges[z + 1]));
        if (to > from)
          p.fillRect(from, top, to - from, h, colour);
      };
      paint(c.peakDb, kPeak[z]);
      paint(c.rmsDb, kRms[z]);
    }
    if (c.holdDb > kMeterFloorDb)
      p.fillRect(HoldX(c.holdDb), top, 1, h, kPeak[Zone(c.holdDb)]);
    p.fillRect(inside.right() + 1 - kClipWidth, top, kClipWidth, h, c.clipped ? kClipOn : kClipOff);
  }
}

}  // namespace tonvale::controls
