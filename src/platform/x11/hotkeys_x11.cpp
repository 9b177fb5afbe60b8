#include "platform/x11/hotkeys_x11.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace tonvale::platform {

namespace {
Q_LOGGING_CATEGORY(lcX11Hotkeys, "tonvale.x11")

constexpr uint16_t kCombinationMods =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

uint16_t XModifiers(unsigned modifiers) {
  uint16_t mask = 0;
  if (modifiers & kModAlt)
    mask |= XCB_MOD_MASK_1;
  if (modifiers & kModCtrl)
    mask |= XCB_MOD_MASK_CONTROL;
  if (modifiers & kModShift)
    mask |= XCB_MOD_MASK_SHIFT;
  if (modifiers & kModWin)
    mask |= XCB_MOD_MASK_4;
  return mask;
}

struct VkKeysyms {
  unsigned vk;
  xcb_keysym_t first;
  xcb_keysym_t second;  // 0 when the key has one keysym
};

// Virtual keys that are not part of a contiguous range. A generic key (Shift, Enter) stands
// for both keys that produce it.
constexpr VkKeysyms kKeysymTable[] = {
    {0x08, XK_BackSpace, 0},
    {0x09, XK_Tab, XK_ISO_Left_Tab},
    {0x0C, XK_Clear, XK_KP_Begin},
    {0x0D, XK_Return, XK_KP_Enter},
    {0x10, XK_Shift_L, XK_Shift_R},
    {0x11, XK_Control_L, XK_Control_R},
    {0x12, XK_Alt_L, XK_Alt_R},
    {0x13, XK_Pause, 0},
    {0x1B, XK_Escape, 0},
    {0x20, XK_space, 0},
    {0x21, XK_Prior, 0},
    {0x22, XK_Next, 0},
    {0x23, XK_End, 0},
    {0x24, XK_Home, 0},
    {0x25, XK_Left, 0},
    {0x26, XK_Up, 0},
    {0x27, XK_Right, 0},
    {0x28, XK_Down, 0},
    {0x2C, XK_Print, 0},
    {0x2D, XK_Insert, 0},
    {0x2E, XK_Delete, 0},
    {0x5B, XK_Super_L, 0},
    {0x5C, XK_Super_R, 0},
    {0x5D, XK_Menu, 0},
    {0x6A, XK_KP_Multiply, 0},
    {0x6B, XK_KP_Add, 0},
    {0x6C, XK_KP_Separator, 0},
    {0x6D, XK_KP_Subtract, 0},
    {0x6E, XK_KP_Decimal, 0},
    {0x6F, XK_KP_Divide, 0},
    {0xAD, XF86XK_AudioMute, 0},
    {0xAE, XF86XK_AudioLowerVolume, 0},
    {0xAF, XF86XK_AudioRaiseVolume, 0},
    {0xB0, XF86XK_AudioNext, 0},
    {0xB1, XF86XK_AudioPrev, 0},
    {0xB2, XF86XK_AudioStop, 0},
    {0xB3, XF86XK_AudioPlay, 0},
    {0xBA, XK_semicolon, 0},
    {0xBB, XK_equal, 0},
    {0xBC, XK_comma, 0},
    {0xBD, XK_minus, 0},
    {0xBE, XK_period, 0},
    {0xBF, XK_slash, 0},
    {0xC0, XK_grave, 0},
    {0xDB, XK_bracketleft, 0},
    {0xDC, XK_backslash, 0},
    {0xDD, XK_bracketright, 0},
    {0xDE, XK_apostrophe, 0},
};

std::vector<xcb_keysym_t> KeysymsFor(unsigned vk) {
  if (vk >= 0x30 && vk <= 0x39)
    return {XK_0 + (vk - 0x30)};
  if (vk >= 0x41 && vk <= 0x5A)
    return {XK_a + (vk - 0x41)};
  if (vk >= 0x60 && vk <= 0x69)
    return {XK_KP_0 + (vk - 0x60)};
  if (vk >= 0x70 && vk <= 0x87)
    return {XK_F1 + (vk - 0x70)};
  for (const VkKeysyms& entry : kKeysymTable) {
    if (entry.vk != vk)
      continue;
    if (entry.second)
      return {entry.first, entry.second};
    return {entry.first};
  }
  return {};
}

// Keys that are not letters or digits, by their place on a US keyboard (evdev keycodes):
// the OEM codes a US layout gives them.
constexpr std::pair<xcb_keycode_t, unsigned> kOemPositions[] = {
    {20, 0xBD}, {21, 0xBB}, {34, 0xDB}, {35, 0xDD}, {47, 0xBA}, {48, 0xDE},
    {49, 0xC0}, {51, 0xDC}, {59, 0xBC}, {60, 0xBE}, {61, 0xBF}, {94, 0xE2}};
// Codes Windows leaves to layouts, for symbol keys that find none of the above free.
constexpr unsigned kSpareOem[] = {0xDF, 0xE1, 0xE3, 0xE4, 0xE6, 0xE9, 0xEA, 0xEB,
                                  0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3};

// A keysym that types something (punctuation, letters of any script, dead keys), not a
// function or modifier key's.
bool IsSymbol(xcb_keysym_t sym) {
  return sym != XCB_NO_SYMBOL && !(sym >= 0xFE00 && sym < 0xFE50) &&
         (sym < 0xFF00 || sym >= 0x1000000);
}

bool IsOem(unsigned vk) {
  return (vk >= 0xBA && vk <= 0xC0) || (vk >= 0xDB && vk <= 0xF5);
}

// The virtual-key code of every keycode of a keyboard map, as a layout assigns them: a
// letter or digit on the unshifted or shifted level names the key (the French "&" key is
// 1); a key with a named symbol (F1, Home, Enter) takes that symbol's code; the symbol keys
// take the code of a US punctuation symbol they carry, else the code of their place on a US
// keyboard, else a spare one, so that no two keys share one (the German "#" and "ö" keys).
std::map<xcb_keycode_t, unsigned> LayoutVirtualKeys(xcb_key_symbols_t* syms, xcb_keycode_t first,
                                                    xcb_keycode_t last) {
  std::map<xcb_keycode_t, unsigned> codes;
  std::vector<xcb_keycode_t> symbolKeys;
  std::set<unsigned> taken;
  for (unsigned code = first; code <= last; ++code) {
    const auto key = static_cast<xcb_keycode_t>(code);
    const xcb_keysym_t levels[] = {xcb_key_symbols_get_keysym(syms, key, 0),
                                   xcb_key_symbols_get_keysym(syms, key, 1)};
    unsigned vk = 0;
    for (const xcb_keysym_t sym : levels) {
      if (vk == 0 && sym >= XK_a && sym <= XK_z)
        vk = 0x41 + (sym - XK_a);
      else if (vk == 0 && sym >= XK_A && sym <= XK_Z)
        vk = 0x41 + (sym - XK_A);
      else if (vk == 0 && sym >= XK_0 && sym <= XK_9)
        vk = 0x30 + (sym - XK_0);
      else if (vk == 0 && sym >= XK_KP_0 && sym <= XK_KP_9)
        vk = 0x60 + (sym - XK_KP_0);
    }
    if (vk == 0 && levels[0] >= XK_F1 && levels[0] <= XK_F24)
      vk = 0x70 + (levels[0] - XK_F1);
    for (const VkKeysyms& entry : kKeysymTable) {
      if (vk == 0 && levels[0] != XCB_NO_SYMBOL &&
          (entry.first == levels[0] || entry.second == levels[0]))
        vk = entry.vk;
    }
    if (IsOem(vk) && taken.count(vk))
      vk = 0;  // a second key with the same US symbol: placed below
    if (vk != 0) {
      codes[key] = vk;
      if (IsOem(vk))
        taken.insert(vk);
    } else if (IsSymbol(levels[0])) {
      symbolKeys.push_back(key);
    }
  }
  for (const xcb_keycode_t key : symbolKeys) {
    unsigned vk = 0;
    for (const auto& [place, oem] : kOemPositions) {
      if (place == key && !taken.count(oem))
        vk = oem;
    }
    for (const unsigned spare : kSpareOem) {
      if (vk == 0 && !taken.count(spare))
        vk = spare;
    }
    if (vk != 0) {
      codes[key] = vk;
      taken.insert(vk);
    }
  }
  return codes;
}

struct Registration {
  unsigned modifiers = 0;
  unsigned virtualKey = 0;
  uint16_t xmods = 0;
  std::vector<xcb_keycode_t> keycodes;  // empty for a combination without a key
};

}  // namespace

struct X11HotkeyRegistrar::Impl {
  xcb_connection_t* conn = nullptr;
  xcb_window_t root = XCB_NONE;
  xcb_key_symbols_t* syms = nullptr;
  uint16_t numLockMask = 0;
  std::unique_ptr<QSocketNotifier> notifier;
  std::function<void(int)> handler;
  std::map<int, Registration> registrations;
  std::map<xcb_keycode_t, unsigned> layoutKeys;  // keycode -> virtual-key code

  Impl() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
      qCInfo(lcX11Hotkeys) << "no X display; global hotkeys are unavailable";
      return;
    }
    int screen = 0;
    conn = xcb_connect(display, &screen);
    if (xcb_connection_has_error(conn)) {
      qCWarning(lcX11Hotkeys) << "cannot connect to X display" << display;
      xcb_disconnect(conn);
      conn = nullptr;
      return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
      qCWarning(lcX11Hotkeys) << "X display" << display << "has no screen" << screen;
      xcb_disconnect(conn);
      conn = nullptr;
      return;
    }
    root = it.data->root;
    syms = xcb_key_symbols_alloc(conn);
    numLockMask = FindNumLockMask();
    ReadLayout();
    if (QCoreApplication::instance()) {
      notifier =
          std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(conn), QSocketNotifier::Read);
      QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                       [this] { Drain(); });
    } else {
      qCWarning(lcX11Hotkeys) << "no application object: hotkey presses will not be read";
    }
  }

  ~Impl() {
    notifier.reset();
    if (!conn)
      return;
    for (const auto& [id, reg] : registrations) Ungrab(reg.xmods, reg.keycodes);
    xcb_flush(conn);
    xcb_key_symbols_free(syms);
    xcb_disconnect(conn);
  }

  bool Usable() const { return conn && !xcb_connection_has_error(conn); }

  // The ModN that Num Lock sets in the event state, found through the modifier map.
  uint16_t FindNumLockMask() {
    uint16_t mask = 0;
    xcb_keycode_t* numLock = xcb_key_symbols_get_keycode(syms, XK_Num_Lock);
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(conn, xcb_get_modifier_mapping(conn), nullptr);
    if (numLock && reply) {
      const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(reply);
      const int perModifier = reply->keycodes_per_modifier;
      for (int mod = 0; mod < 8 && !mask; ++mod) {
        for (int k = 0; k < perModifier && !mask; ++k) {
          const xcb_keycode_t code = map[mod * perModifier + k];
          for (const xcb_keycode_t* n = numLock; code != 0 && *n != XCB_NO_SYMBOL; ++n) {
            if (*n == code) {
              mask = static_cast<uint16_t>(1u << mod);
              break;
            }
          }
        }
      }
    }
    std::free(reply);
    std::free(numLock);
    return mask;
  }

  std::vector<uint16_t> LockVariants(uint16_t xmods) const {
    std::vector<uint16_t> variants = {xmods, static_cast<uint16_t>(xmods | XCB_MOD_MASK_LOCK)};
    if (numLockMask) {
      variants.push_back(static_cast<uint16_t>(xmods | numLockMask));
      variants.push_back(static_cast<uint16_t>(xmods | numLockMask | XCB_MOD_MASK_LOCK));
    }
    return variants;
  }

  void ReadLayout() {
    const xcb_setup_t* setup = xcb_get_setup(conn);
    layoutKeys = LayoutVirtualKeys(syms, setup->min_keycode, setup->max_keycode);
  }

  std::vector<xcb_keycode_t> KeycodesFor(unsigned vk) {
    std::vector<xcb_keycode_t> codes;
    for (const auto& [code, codeVk] : layoutKeys) {
      if (codeVk == vk)
        codes.push_back(code);
    }
    if (!codes.empty())
      return codes;
    // A code the layout gives no key (Num7 with the keypad's digits on its second level
    // only): the keys that carry its symbols.
    for (const xcb_keysym_t sym : KeysymsFor(vk)) {
      xcb_keycode_t* found = xcb_key_symbols_get_keycode(syms, sym);
      for (const xcb_keycode_t* c = found; c && *c != XCB_NO_SYMBOL; ++c) {
        if (std::find(codes.begin(), codes.end(), *c) == codes.end())
          codes.push_back(*c);
      }
      std::free(found);
    }
    return codes;
  }

  // Grabs every keycode with every lock variant; all or nothing.
  bool Grab(uint16_t xmods, const std::vector<xcb_keycode_t>& keycodes) {
    struct Pending {
      xcb_keycode_t keycode;
      uint16_t mods;
      xcb_void_cookie_t cookie;
    };
    std::vector<Pending> pending;
    for (const xcb_keycode_t code : keycodes) {
      for (const uint16_t mods : LockVariants(xmods)) {
        pending.push_back({code, mods,
                           xcb_grab_key_checked(conn, 1, root, mods, code, XCB_GRAB_MODE_ASYNC,
                                                XCB_GRAB_MODE_ASYNC)});
      }
    }
    bool ok = true;
    std::vector<const Pending*> granted;
    for (const Pending& p : pending) {
      if (xcb_generic_error_t* error = xcb_request_check(conn, p.cookie)) {
        if (ok) {
          qCInfo(lcX11Hotkeys) << "grab of keycode" << p.keycode << "mods" << p.mods
                               << "refused, X error" << error->error_code
                               << (error->error_code == XCB_ACCESS ? "(held by another client)"
                                                                   : "");
        }
        ok = false;
        std::free(error);
      } else {
        granted.push_back(&p);
      }
    }
    if (!ok) {
      for (const Pending* p : granted) xcb_ungrab_key(conn, p->keycode, root, p->mods);
      xcb_flush(conn);
    }
    return ok;
  }

  void Ungrab(uint16_t xmods, const std::vector<xcb_keycode_t>& keycodes) {
    for (const xcb_keycode_t code : keycodes) {
      for (const uint16_t mods : LockVariants(xmods)) xcb_ungrab_key(conn, code, root, mods);
    }
  }

  bool Conflicts(int id, const Registration& wanted) const {
    for (const auto& [otherId, other] : registrations) {
      if (otherId == id)
        continue;
      if (other.modifiers == wanted.modifiers && other.virtualKey == wanted.virtualKey)
        return true;
      if (other.xmods != wanted.xmods)
        continue;
      for (const xcb_keycode_t code : wanted.keycodes) {
        if (std::find(other.keycodes.begin(), other.keycodes.end(), code) != other.keycodes.end())
          return true;
      }
    }
    return false;
  }

  bool Register(int id, unsigned modifiers, unsigned virtualKey) {
    if (!Usable())
      return false;
    Unregister(id);
    Registration reg;
    reg.modifiers = modifiers;
    reg.virtualKey = virtualKey;
    reg.xmods = XModifiers(modifiers);
    if (virtualKey != 0) {
      reg.keycodes = KeycodesFor(virtualKey);
      if (reg.keycodes.empty()) {
        qCInfo(lcX11Hotkeys) << "virtual key" << virtualKey << "has no key in the keyboard map";
        return false;
      }
    }
    // X lets a client grab a combination twice; two ids of ours must not share one.
    if (Conflicts(id, reg))
      return false;
    // A combination without a key is reserved but grabs nothing: no key can produce it.
    if (!reg.keycodes.empty() && !Grab(reg.xmods, reg.keycodes)) {
      Drain();
      return false;
    }
    registrations.emplace(id, std::move(reg));
    Drain();
    return true;
  }

  void Unregister(int id) {
    auto it = registrations.find(id);
    if (it == registrations.end())
      return;
    if (Usable()) {
      // Waits until the server has released the grabs, so that another client may take the
      // combination as soon as this returns.
      std::vector<xcb_void_cookie_t> cookies;
      for (const xcb_keycode_t code : it->second.keycodes) {
        for (const uint16_t mods : LockVariants(it->second.xmods))
          cookies.push_back(xcb_ungrab_key_checked(conn, code, root, mods));
      }
      for (const xcb_void_cookie_t cookie : cookies) std::free(xcb_request_check(conn, cookie));
    }
    registrations.erase(it);
  }

  // The keyboard map changed: look every combination up again and grab the new keycodes.
  void Remap(xcb_mapping_notify_event_t* event) {
    if (event->request != XCB_MAPPING_KEYBOARD && event->request != XCB_MAPPING_MODIFIER)
      return;
    for (const auto& [id, reg] : registrations) Ungrab(reg.xmods, reg.keycodes);
    xcb_refresh_keyboard_mapping(syms, event);
    numLockMask = FindNumLockMask();
    ReadLayout();
    for (auto& [id, reg] : registrations) {
      if (reg.virtualKey == 0)
        continue;
      reg.keycodes = KeycodesFor(reg.virtualKey);
      if (!Grab(reg.xmods, reg.keycodes)) {
        qCWarning(lcX11Hotkeys) << "hotkey" << Qt::hex << id
                                << "lost its keys after a keyboard map change";
        reg.keycodes.clear();
      }
    }
    xcb_flush(conn);
  }

  void Pressed(const xcb_key_press_event_t* event) {
    const uint16_t state = event->state & kCombinationMods;
    for (const auto& [id, reg] : registrations) {
      if (reg.xmods != state)
        continue;
      if (std::find(reg.keycodes.begin(), reg.keycodes.end(), event->detail) == reg.keycodes.end())
        continue;
      const int hotkeyId = id;
      QMetaObject::invokeMethod(
          notifier.get(),
          [this, hotkeyId] {
            if (handler)
              handler(hotkeyId);
          },
          Qt::QueuedConnection);
      return;
    }
  }

  // Handles every event xcb has read or can read without waiting.
  void Drain() {
    if (!conn)
      return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(conn)) {
      switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS:
          if (notifier)
            Pressed(reinterpret_cast<xcb_key_press_event_t*>(event));
          break;
        case XCB_MAPPING_NOTIFY:
          Remap(reinterpret_cast<xcb_mapping_notify_event_t*>(event));
          break;
        case 0:
          qCDebug(lcX11Hotkeys) << "X error"
                                << reinterpret_cast<xcb_generic_error_t*>(event)->error_code;
          break;
        default:
          break;
      }
      std::free(event);
    }
    if (xcb_connection_has_error(conn) && notifier) {
      qCWarning(lcX11Hotkeys) << "lost the X connection; global hotkeys stop working";
      notifier->setEnabled(false);
    }
  }
};

X11HotkeyRegistrar::X11HotkeyRegistrar() : d_(std::make_unique<Impl>()) {}
X11HotkeyRegistrar::~X11HotkeyRegistrar() = default;

bool X11HotkeyRegistrar::IsConnected() const {
  return d_->Usable();
}

void X11HotkeyRegistrar::SetHandler(std::function<void(int id)> handler) {
  d_->handler = std::move(handler);
}

bool X11HotkeyRegistrar::RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) {
  return d_->Register(id, modifiers, virtualKey);
}

void X11HotkeyRegistrar::UnregisterHotKey(int id) {
  d_->Unregister(id);
}

unsigned X11HotkeyRegistrar::VirtualKeyOfNativeKey(std::uint32_t nativeKey) const {
  const auto found = d_->layoutKeys.find(static_cast<xcb_keycode_t>(nativeKey));
  return d_->Usable() && found != d_->layoutKeys.end() ? found->second : 0;
}

}  // namespace tonvale::platform
