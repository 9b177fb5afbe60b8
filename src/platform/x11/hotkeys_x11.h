#pragma once

// System-wide hotkeys on X11: each combination becomes a passive key grab on the root window,
// made through this object's own xcb connection.

#include <cstdint>
#include <memory>

#include "platform/services.h"

namespace tonvale::platform {

// Reserves combinations with XGrabKey semantics, also for the Caps Lock and Num Lock
// variants so that the lock state does not matter. A grab another client already holds
// (BadAccess) makes the registration fail, as does a combination another id of this object
// holds. Stored keys are Windows virtual-key codes; they are looked up as keysyms in the
// server's current keyboard map, which is followed when it changes: a key's code follows
// from its symbols in the layout in use (VirtualKeyOfNativeKey), so the key pressed in a
// hotkey field is the key grabbed, whatever the layout.
//
// Presses are read on the UI thread from the connection's socket (a QSocketNotifier, so a
// QCoreApplication must exist) and reach the handler as queued calls.
// Without a display ($DISPLAY unset or unreachable) every registration returns false.
class X11HotkeyRegistrar : public HotkeyRegistrar {
 public:
  // Connects to $DISPLAY.
  X11HotkeyRegistrar();
  ~X11HotkeyRegistrar() override;
  X11HotkeyRegistrar(const X11HotkeyRegistrar&) = delete;
  X11HotkeyRegistrar& operator=(const X11HotkeyRegistrar&) = delete;

  // True when the connection to the display is up.
  bool IsConnected() const;

  void SetHandler(std::function<void(int id)> handler) override;
  // Registering an id that is already registered replaces its combination.
  bool RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) override;
  // An id that is not registered is ignored.
  void UnregisterHotKey(int id) override;
  unsigned VirtualKeyOfNativeKey(std::uint32_t nativeKey) const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace tonvale::platform
