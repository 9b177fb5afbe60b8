#pragma once

// Every persisted value: its section, key and default, in one place.

#include <QString>

#include "platform/sink_contract.h"

namespace tonvale::settings {

inline constexpr auto kOrganisation = "Velmora";

namespace option {
inline const QString kSection = QStringLiteral("Option");
inline const QString kSoundCaptureIndex = QStringLiteral("nSoundCaptureIndex");
inline const QString kCapturePinIndex = QStringLiteral("nCapturePinIndex");
inline const QString kSearchFlag = QStringLiteral("nSearchFlag");
// The identity of the remembered device (empty: none yet); it wins over the position.
inline const QString kSoundCaptureName = QStringLiteral("strSoundCaptureName");
inline const QString kOutputFile = QStringLiteral("output_wav_file");
inline const QString kOnlyOnce = QStringLiteral("b_only_once");
inline constexpr int kIndexDefault = 0;
inline constexpr int kOnlyOnceDefault = 0;
// The output file when nothing is stored: sonarelrecorder.mp3 in the user's home folder.
QString DefaultOutputFile();
}  // namespace option

namespace hotkey {
inline const QString kSection = QStringLiteral("HotKey");
}  // namespace hotkey

// Where the sink finds the output path of the next recording.
namespace handoff {
inline constexpr auto kOrganisation = platform::kHandOffOrganisation;
inline constexpr auto kApplication = platform::kHandOffApplication;
inline const QString kKey = QString::fromLatin1(platform::kHandOffKey);
}  // namespace handoff

}  // namespace tonvale::settings
