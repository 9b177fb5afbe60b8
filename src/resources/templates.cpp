#include "resources/templates.h"

#include "resources/control_ids.h"

namespace tonvale::resources {

namespace {

using namespace style;
using enum ControlClass;

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kPush = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr std::uint32_t kDefPush = kChild | BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr std::uint32_t kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr std::uint32_t kField = kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr std::uint32_t kList = kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr std::uint32_t kDialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

const DialogTemplate& AboutData() {
  static const DialogTemplate t{
      kAboutTemplate,
      "About Tonvale",
      212,
      102,
      "MS Sans Serif",
      8,
      kDialog | DS_SETFONT,
      0,
      {
          {kStaticId, Static, "", 12, 18, 20, 20, kChild | SS_ICON, 103},
          {kStaticId, Static, "Tonvale", 48, 10, 157, 8, kLabel | SS_NOPREFIX},
          {kStaticId, Static, "Copyright (C) 2026 Velmora", 48, 25, 157, 8, kLabel},
          {ids::kOk, Button, "OK", 78, 81, 50, 14, kDefPush | WS_GROUP},
          {ids::kAboutHomepage, Static, "https://velmora.example/tonvale", 48, 42, 151, 8, kLabel},
          {ids::kAboutEmail, Static, "Email: support@velmora.example", 48, 58, 156, 8, kLabel},
      }};
  return t;
}

const DialogTemplate& MainData() {
  static const DialogTemplate t{
      kMainTemplate,
      "Tonvale",
      244,
      156,
      "MS Shell Dlg",
      8,
      kDialog | WS_VISIBLE | WS_MINIMIZEBOX | DS_SHELLFONT,
      WS_EX_APPWINDOW,
      {
          {ids::kOutputFile, Edit, "", 7, 101, 152, 14, kField},
          {ids::kRecord, Button, "Record", 7, 37, 68, 16, kPush},
          {ids::kPause, Button, "Pause", 15, 45, 6, 16, kPush},
          {ids::kStop, Button, "Stop", 7, 60, 68, 16, kPush},
          {ids::kPlay, Button, "Play", 203, 101, 32, 14, kPush},
          {ids::kInputLinesLabel, Static, "Select an Input Device", 7, 8, 107, 8, kLabel},
          {ids::kStatus, Static, "Status : Ready", 7, 146, 228, 10, kLabel | SS_SUNKEN},
          {ids::kRecordToLabel, Static, "Record To:", 7, 85, 53, 8, kLabel},
          {ids::kSoundCards, ComboBox, "", 130, 20, 106, 49, kList},
          {ids::kInputLines, ComboBox, "", 7, 20, 110, 97, kList},
          {ids::kVolume, Trackbar, "Slider1", 7, 49, 16, 15,
           kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP},
          {ids::kBrowse, Button, "Browse", 165, 101, 32, 14, kPush},
          {ids::kSoundCardsLabel, Static, "Select a Sound Card", 130, 8, 105, 10, kLabel},
          {ids::kHomepage, Button, "Homepage", 23, 45, 6, 14, kPush},
          {ids::kAbout, Button, "About", 138, 124, 48, 14, kPush},
          {ids::kHelp, Button, "Help", 56, 124, 48, 14, kPush},
          {ids::kVolumeLabel, Static, "Volume:", 7, 47, 31, 8, kLabel},
          {ids::kMaxLabel, Static, "Max", 15, 48, 16, 8, kLabel},
          {ids::kStartHotkeyLabel, Static, "Hotkey", 89, 41, 38, 8, kLabel},
          {ids::kStopHotkeyLabel, Static, "Hotkey", 89, 64, 32, 8, kLabel},
          {ids::kStartHotkey, Edit, "", 126, 37, 107, 14, kField},
          {ids::kStopHotkey, Edit, "", 126, 60, 107, 14, kField},
      }};
  return t;
}

const DialogTemplate& InputHintData() {
  static const DialogTemplate t{
      kInputHintTemplate,
      "How to select an input device",
      237,
      183,
      "MS Sans Serif",
      8,
      kDialog | DS_SETFONT,
      0,
      {
          {ids::kOk, Button, "OK", 94, 163, 50, 14, kDefPush},
          {kStaticId, Static,
           "1. If you want to record sound from other windows applications, please select an "
           "input device with \"Wave Out Mix\", which might appear as \"Stereo Mixer\", \"What U "
           "Hear\", \"Output\", \"Mixer\", \"Wave\".",
           7, 7, 223, 28, kLabel},
          {kStaticId, Static,
           "2. If you want to record sound from microphone, Please select an input device with "
           "\"Microphone\". And make sure the microphone is connected to the Microphone port of "
           "sound card.",
           7, 59, 223, 35, kLabel},
          {kStaticId, Static,
           "3. If you want to record sound from cassette type, video type, radio, walkman, etc., "
           "please select an input device with \"Line In\". And make sure the device is "
           "connected to the Line In port of sound card.",
           7, 95, 223, 36, kLabel},
          {ids::kDontShowAgain, Button, "Do not show the message in the future", 7, 147, 223, 10,
           kChild | BS_AUTOCHECKBOX | WS_TABSTOP},
          {kStaticId, Static, "For more details, please read help.", 7, 133, 223, 8, kLabel},
          {kStaticId, Static,
           "(When the program launches at the first time, it will select the item as possible as "
           "it can. If not, please select it manually.)",
           7, 35, 223, 21, kLabel},
      }};
  return t;
}

}  // namespace

const ControlTemplate* DialogTemplate::control(int controlId) const {
  for (const ControlTemplate& c : controls) {
    if (c.id == controlId)
      return &c;
  }
  return nullptr;
}

const DialogTemplate* Template(int id) {
  switch (id) {
    case kAboutTemplate:
      return &AboutData();
    case kMainTemplate:
      return &MainData();
    case kInputHintTemplate:
      return &InputHintData();
    default:
      return nullptr;
  }
}

}  // namespace tonvale::resources
