#pragma once

// The identifiers of the windows' controls, by which the templates, the windows' code, the
// recording engine and the tests name them.

namespace tonvale::resources::ids {

// Buttons every dialog shares.
inline constexpr int kOk = 1;

// The main window (template 102).
inline constexpr int kPlay = 1001;
inline constexpr int kPause = 1002;
inline constexpr int kStop = 1003;
inline constexpr int kRecord = 1004;
inline constexpr int kOutputFile = 1008;
inline constexpr int kSoundCards = 1009;
inline constexpr int kInputLines = 1011;
inline constexpr int kStatus = 1035;
inline constexpr int kVolume = 1038;
inline constexpr int kBrowse = 1039;
inline constexpr int kSoundCardsLabel = 1040;
inline constexpr int kHomepage = 1046;
inline constexpr int kAbout = 1047;
inline constexpr int kHelp = 1048;
inline constexpr int kInputLinesLabel = 1051;
inline constexpr int kVolumeLabel = 1052;
inline constexpr int kMaxLabel = 1053;
inline constexpr int kRecordToLabel = 1054;
inline constexpr int kStartHotkeyLabel = 1056;
inline constexpr int kStopHotkeyLabel = 1057;
inline constexpr int kStartHotkey = 1058;
inline constexpr int kStopHotkey = 1059;

// The About box (template 100).
inline constexpr int kAboutHomepage = 1049;
inline constexpr int kAboutEmail = 1050;

// The input hint (template 144).
inline constexpr int kDontShowAgain = 1055;

}  // namespace tonvale::resources::ids
