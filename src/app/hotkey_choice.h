#pragma once

// How the program gets its system-wide hotkeys on this desktop, chosen once at start, and
// the note that tells the user when they will not work everywhere.

#include <memory>

#include "platform/services.h"

class QWidget;

namespace tonvale::app {

enum class HotkeyWay {
  X11,           // key grabs on an X11 session's display
  Portal,        // the GlobalShortcuts portal of a Wayland session
  XwaylandOnly,  // a Wayland session without the portal: X11 grabs through Xwayland
  None,          // a Wayland session without the portal and without an X display
};

struct HotkeyBackend {
  HotkeyWay way = HotkeyWay::None;
  std::unique_ptr<platform::HotkeyRegistrar> registrar;
};

// Wayland (XDG_SESSION_TYPE=wayland or WAYLAND_DISPLAY set): the portal when it offers
// GlobalShortcuts, else the X11 grabs when an X display answers, else a registrar that holds
// nothing. Any other session: the X11 grabs. The choice is logged in tonvale.hotkeys.
HotkeyBackend ChooseHotkeyBackend();

// Once the window is shown for the first time, tells the user in a box when the hotkeys
// fire only where the desktop passes keys to X11 programs (unless they asked not to be told
// again) or not at all; both point to the remote control. Nothing for the other ways. The
// box closes with the window.
void NoteHotkeyWayWhenShown(QWidget* window, HotkeyWay way, platform::ProfileStore& profile);

}  // namespace tonvale::app
