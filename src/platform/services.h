#pragma once

// The non-media platform services. Each sits behind an abstract class so that the system's
// code runs against fakes in tests; the real adapters are wired in src/app.
// All calls are made on the UI thread.

#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace tonvale::platform {

// Modal message boxes (one OK button) and the system beep.
class MessageBoxes {
 public:
  enum class Icon { None, Stop, Exclamation, Information };
  virtual ~MessageBoxes() = default;
  // Shows a modal box and returns when the user has closed it. owner may be null.
  virtual void Show(QWidget* owner, const QString& text, const QString& caption, Icon icon) = 0;
  virtual void Beep() = 0;
};

// The per-user settings store, with the profile semantics the system relies on:
// GetProfileInt returns the default for a missing value or one that is not a 32-bit integer.
// Writes report nothing; a failed write is ignored by every caller.
class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  virtual int GetProfileInt(const QString& section, const QString& key, int defaultValue) = 0;
  virtual void WriteProfileInt(const QString& section, const QString& key, int value) = 0;
  virtual QString GetProfileString(const QString& section, const QString& key,
                                   const QString& defaultValue) = 0;
  virtual void WriteProfileString(const QString& section, const QString& key,
                                  const QString& value) = 0;
};

// The value by which the program tells the sink where to write the output file.
class SinkHandOff {
 public:
  virtual ~SinkHandOff() = default;
  // False when the value could not be stored.
  virtual bool WriteOutputPath(const QString& path) = 0;
};

// The modifier bits of a hotkey combination, as the settings store them.
inline constexpr unsigned kModAlt = 1;
inline constexpr unsigned kModCtrl = 2;
inline constexpr unsigned kModShift = 4;
inline constexpr unsigned kModWin = 8;

// System-wide hotkeys. Modifiers are the bits above; keys are virtual-key codes.
class HotkeyRegistrar {
 public:
  virtual ~HotkeyRegistrar() = default;
  // Called on the UI thread (as a queued call) when a registered combination is pressed.
  virtual void SetHandler(std::function<void(int id)> handler) = 0;
  // True when the combination is now reserved for this program.
  virtual bool RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) = 0;
  virtual void UnregisterHotKey(int id) = 0;
  // The virtual-key code of the key with this native key code (the X keycode of a key event)
  // in the keyboard layout in use, the code the registration of that key takes; 0 when the
  // registrar cannot tell.
  virtual unsigned VirtualKeyOfNativeKey(std::uint32_t /*nativeKey*/) const { return 0; }
  // A backend where the desktop decides later (a portal) returns true from RegisterHotKey
  // while it waits, and reports a refusal here, on the UI thread, for the id concerned.
  virtual void SetFailureHandler(std::function<void(int id)> /*handler*/) {}
  // The desktop put another trigger on an id than the one registered (its own choice, or the
  // user's in its settings): the combination it names (0, 0 when it names none this program
  // can hold) and its text as the desktop wrote it.
  using TriggerHandler =
      std::function<void(int id, unsigned modifiers, unsigned virtualKey, const QString& text)>;
  virtual void SetTriggerHandler(TriggerHandler /*handler*/) {}
};

// The desktop's handlers: opening a file or a web address with the user's program.
class Desktop {
 public:
  virtual ~Desktop() = default;
  // Never passes the path through a shell. False when nothing could be started.
  virtual bool OpenFile(const QString& path) = 0;
  virtual bool OpenUrl(const QString& url) = 0;
};

// The save-file dialog of Browse.
class SaveFileDialog {
 public:
  virtual ~SaveFileDialog() = default;
  // Returns false when the user cancelled; otherwise the chosen path.
  virtual bool GetSaveFileName(QWidget* owner, const QString& title, const QString& initialDir,
                               const QString& initialName, const QString& filter,
                               QString* chosen) = 0;
};

// The desktop's notification bubbles.
class Notifications {
 public:
  virtual ~Notifications() = default;
  // Shows a notification in place of the one this object showed before. Never waits for the
  // desktop; where no notification service runs, nothing is shown and nothing is reported.
  virtual void Show(const QString& summary, const QString& body) = 0;
};

}  // namespace tonvale::platform
