#include "resources/resources.h"

#include <array>

// The resources live in a static library: register them explicitly, since nothing else
// would pull their object file into the program.
static void InitTonvaleResources() {
  Q_INIT_RESOURCE(tonvale_resources);
}

namespace tonvale::resources {

namespace {

constexpr std::array kIconSizes{16, 24, 32, 48, 64, 128, 256};

void EnsureRegistered() {
  static const bool registered = [] {
    InitTonvaleResources();
    return true;
  }();
  (void)registered;
}

}  // namespace

QPixmap Bitmap(int id) {
  EnsureRegistered();
  if (id != kBitmapDefaultFace && id != kBitmapTransportFace)
    return {};
  return QPixmap(QStringLiteral(":/tonvale/images/bitmap%1.bmp").arg(id));
}

QString IconFile(int id, int size) {
  EnsureRegistered();
  if (id != kIconRecorder)
    return {};
  for (int s : kIconSizes) {
    if (s == size)
      return QStringLiteral(":/tonvale/images/icon%1_%2.png").arg(id).arg(size);
  }
  return {};
}

QIcon Icon(int id) {
  if (id != kIconRecorder)
    return {};
  QIcon icon;
  for (int s : kIconSizes) icon.addFile(IconFile(id, s), QSize(s, s));
  return icon;
}

QString String(int id) {
  switch (id) {
    case kStringAboutItem:
      return QStringLiteral("&About Tonvale");
    default:
      return {};
  }
}

}  // namespace tonvale::resources
