#pragma once

// System-wide hotkeys through the desktop's GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts on the session bus), the way a Wayland desktop
// gives a program global keys.

#include <QString>
#include <memory>
#include <vector>

#include "platform/services.h"

namespace tonvale::platform {

// Every registration change binds all registered ids again, in a new portal session, once
// control is back in the event loop; the desktop answers later. RegisterHotKey therefore
// fails at once only for a combination the portal cannot express or another id holds; a
// refusal of the desktop (a Response other than 0, a shortcut it leaves without a trigger,
// no answer within the time-out) reaches the failure handler for the first id concerned.
// A trigger the desktop reports other than the one asked for (when binding, or later through
// ShortcutsChanged) reaches the trigger handler. Presses (Activated for this session) reach
// the handler. Needs a QCoreApplication.
class PortalHotkeyRegistrar : public HotkeyRegistrar {
 public:
  // An id of the program and the shortcut that stands for it at the portal.
  struct Shortcut {
    int id = 0;
    QString name;         // the portal's shortcut id ("start-record")
    QString description;  // shown by the desktop ("Start Record")
  };

  // The interface version the portal on the session bus offers, or 0 when it offers none
  // (no bus, no portal, or a portal without a GlobalShortcuts backend).
  static unsigned AvailableVersion(int timeoutMs = 3000);

  explicit PortalHotkeyRegistrar(std::vector<Shortcut> shortcuts, int answerTimeoutMs = 5000);
  ~PortalHotkeyRegistrar() override;
  PortalHotkeyRegistrar(const PortalHotkeyRegistrar&) = delete;
  PortalHotkeyRegistrar& operator=(const PortalHotkeyRegistrar&) = delete;

  void SetHandler(std::function<void(int id)> handler) override;
  bool RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) override;
  void UnregisterHotKey(int id) override;
  void SetFailureHandler(std::function<void(int id)> handler) override;
  void SetTriggerHandler(TriggerHandler handler) override;

  // A combination in the XDG shortcuts syntax ("CTRL+ALT+R"); empty when the key has no name
  // there. A combination without a key has no trigger.
  static QString TriggerFor(unsigned modifiers, unsigned virtualKey);
  // The combination a desktop's trigger text names ("CTRL+ALT+r", "Ctrl+Alt+R",
  // "<Control><Alt>r", "Press Ctrl+Alt+R"); false when it names none.
  static bool ParseTrigger(const QString& text, unsigned* modifiers, unsigned* virtualKey);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace tonvale::platform
