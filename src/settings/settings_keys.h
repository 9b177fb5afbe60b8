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
// 1: the note that hotkeys through Xwayland fire only where the desktop passes keys to X11
// programs is not shown again.
inline const QString kXwaylandHotkeysNoteOff = QStringLiteral("b_xwayland_hotkeys_note_off");
// 1: the last 5 seconds before Record are kept and begin the recording.
inline const QString kKeepBeforeRecord = QStringLiteral("b_keep_before_record");
// 1: a Record never replaces a recording; it goes to the next free numbered name.
inline const QString kKeepEveryRecording = QStringLiteral("b_keep_every_recording");
// The output file when nothing is stored: sonarelrecorder.mp3 in the user's home folder.
QString DefaultOutputFile();
}  // namespace option

namespace hotkey {
inline const QString kSection = QStringLiteral("HotKey");
// Value names for an entry number (0 Start Record, 1 Stop Record).
inline QString ModifiersKey(int entry) {
  return QStringLiteral("mHotKey[%1].fsModifiers").arg(entry);
}
inline QString VirtualKeyKey(int entry) {
  return QStringLiteral("mHotKey[%1].nVirtualKey").arg(entry);
}
inline QString SpeedDataKey(int entry) {
  return QStringLiteral("mHotKey[%1].nSpeedData").arg(entry);
}
// Defaults: Start Record Ctrl+Alt+R, Stop Record Ctrl+Alt+S.
inline constexpr int kDefaultModifiers[2] = {3, 3};
inline constexpr int kDefaultVirtualKey[2] = {82, 83};
inline constexpr int kDefaultSpeedData = 0;
}  // namespace hotkey

// Where the sink finds the output path of the next recording.
namespace handoff {
inline constexpr auto kOrganisation = platform::kHandOffOrganisation;
inline constexpr auto kApplication = platform::kHandOffApplication;
inline const QString kKey = QString::fromLatin1(platform::kHandOffKey);
}  // namespace handoff

}  // namespace tonvale::settings
