#pragma once

// The program's numbered resources: bitmaps, the icon and strings, compiled into the binary.
// Bitmap and Icon need a QGuiApplication.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace tonvale::resources {

inline constexpr int kBitmapDefaultFace = 145;    // 116 x 21, every rounded button
inline constexpr int kBitmapTransportFace = 146;  // 116 x 30, Record, Stop, Pause
inline constexpr int kIconRecorder = 103;
inline constexpr int kStringAboutItem = 101;  // "&About Tonvale"

// A null pixmap for an unknown id.
QPixmap Bitmap(int id);
// A null icon for an unknown id. The icon holds every size from 16 to 256 pixels.
QIcon Icon(int id);
// The resource path of one size of an icon (e.g. ":/tonvale/images/icon103_48.png"), empty
// for an unknown id or size.
QString IconFile(int id, int size);
// An empty string for an unknown id.
QString String(int id);

}  // namespace tonvale::resources
