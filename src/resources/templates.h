#pragma once

// The dialog templates of the program (100 About, 102 main window, 144 input hint) as data:
// sizes and positions in dialog units, texts and Win32 style bits. BuildDialog
// (dialog_builder.h) turns one into widgets.

#include <cstdint>
#include <vector>

namespace tonvale::resources {

// Template identifiers.
inline constexpr int kAboutTemplate = 100;
inline constexpr int kMainTemplate = 102;
inline constexpr int kInputHintTemplate = 144;

// Identifier of the statics that are never addressed (-1, stored as 65535 in templates).
inline constexpr int kStaticId = -1;

// Window style bits, with the values of the platform the templates come from, so that
// controls can read them the same way (a button takes style & 0xFF, a label style & 3).
namespace style {
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_MINIMIZEBOX = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;

inline constexpr std::uint32_t DS_MODALFRAME = 0x80;
inline constexpr std::uint32_t DS_SETFONT = 0x40;
inline constexpr std::uint32_t DS_FIXEDSYS = 0x08;
inline constexpr std::uint32_t DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3;
inline constexpr std::uint32_t BS_TYPEMASK = 0xF;

inline constexpr std::uint32_t SS_LEFT = 0x0;
inline constexpr std::uint32_t SS_CENTER = 0x1;
inline constexpr std::uint32_t SS_RIGHT = 0x2;
inline constexpr std::uint32_t SS_ICON = 0x3;
inline constexpr std::uint32_t SS_TYPEMASK = 0x1F;
inline constexpr std::uint32_t SS_NOPREFIX = 0x80;
inline constexpr std::uint32_t SS_SUNKEN = 0x1000;

inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x80;
inline constexpr std::uint32_t CBS_DROPDOWNLIST = 0x3;

inline constexpr std::uint32_t TBS_HORZ = 0x0;
inline constexpr std::uint32_t TBS_BOTH = 0x8;
inline constexpr std::uint32_t TBS_NOTICKS = 0x10;
}  // namespace style

enum class ControlClass { Button, Edit, Static, ComboBox, Trackbar };

struct ControlTemplate {
  int id;
  ControlClass kind;
  const char* text;  // UTF-8; empty for none
  int x, y, w, h;    // dialog units
  std::uint32_t style;
  int image = 0;  // icon resource shown by an SS_ICON static
};

struct DialogTemplate {
  int id;
  const char* title;
  int width, height;  // dialog units
  const char* fontFamily;
  int fontPoints;
  std::uint32_t style;
  std::uint32_t exStyle;
  std::vector<ControlTemplate> controls;  // template order = creation and tab order

  // Flags read from style.
  bool hasMinimizeBox() const { return (style & style::WS_MINIMIZEBOX) != 0; }
  bool hasSystemMenu() const { return (style & style::WS_SYSMENU) != 0; }
  // The first control with this id, or nullptr.
  const ControlTemplate* control(int controlId) const;
};

// The template with this id; nullptr for an unknown one.
const DialogTemplate* Template(int id);

}  // namespace tonvale::resources
