#include "platform/x11/hotkeys_x11.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "private_server.h"

namespace tonvale::platform {
namespace {

using testing::PrivateXvfb;
using testing::RunProgram;

constexpr int kStart = 0xA100;
constexpr int kStop = 0xA101;
constexpr unsigned kCtrlAlt = 3;
constexpr unsigned kVkR = 0x52;
constexpr unsigned kVkS = 0x53;

// Presses keys through XTest, as a user would while another client has the focus.
void Press(const std::string& keys) {
  ASSERT_EQ(RunProgram({"xdotool", "key", keys}), 0) << keys;
}

// A registrar with its own record of the ids it was called with.
struct Recorded {
  X11HotkeyRegistrar registrar;
  std::vector<int> ids;
  Recorded() {
    registrar.SetHandler([this](int id) { ids.push_back(id); });
  }
  bool WaitForCount(size_t n) {
    return QTest::qWaitFor([&] { return ids.size() >= n; }, 5000);
  }
};

class X11Hotkeys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { xvfb_ = std::make_unique<PrivateXvfb>(); }
  static void TearDownTestSuite() { xvfb_.reset(); }
  void SetUp() override { ASSERT_TRUE(xvfb_->started()); }

  static std::unique_ptr<PrivateXvfb> xvfb_;
};
std::unique_ptr<PrivateXvfb> X11Hotkeys::xvfb_;

TEST_F(X11Hotkeys, PressedCombinationReachesTheHandlerWithItsId) {
  Recorded a;
  ASSERT_TRUE(a.registrar.IsConnected());
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStop, kCtrlAlt, kVkS));
  EXPECT_TRUE(a.ids.empty());  // delivery is a queued call, never synchronous

  Press("ctrl+alt+r");
  ASSERT_TRUE(a.WaitForCount(1));
  // Other modifiers, or the bare key, are not the registered combination; the stop press
  // behind them tells when they would have arrived.
  Press("ctrl+r");
  Press("ctrl+shift+alt+r");
  Press("r");
  Press("ctrl+alt+s");
  ASSERT_TRUE(a.WaitForCount(2));
  EXPECT_EQ(a.ids, (std::vector<int>{kStart, kStop}));
}

TEST_F(X11Hotkeys, LockKeysDoNotMatter) {
  Recorded a;
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  for (const char* lock : {"Caps_Lock", "Num_Lock"}) {
    SCOPED_TRACE(lock);
    a.ids.clear();
    Press(lock);  // on
    Press("ctrl+alt+r");
    EXPECT_TRUE(a.WaitForCount(1));
    Press(lock);  // off again
    EXPECT_EQ(a.ids, std::vector<int>{kStart});
  }
}

TEST_F(X11Hotkeys, CombinationHeldByAnotherClientFailsUntilReleased) {
  Recorded a;
  Recorded b;  // a second connection: another client as far as the server can tell
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  EXPECT_FALSE(b.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  EXPECT_TRUE(b.registrar.RegisterHotKey(kStop, kCtrlAlt, kVkS));
  // X lets one client grab a combination twice; a second id must still be refused.
  EXPECT_FALSE(b.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkS));

  a.registrar.UnregisterHotKey(kStart);
  a.registrar.UnregisterHotKey(kStop);  // never registered: ignored
  ASSERT_TRUE(b.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  Press("ctrl+alt+r");
  ASSERT_TRUE(b.WaitForCount(1));
  EXPECT_EQ(b.ids, std::vector<int>{kStart});
  EXPECT_TRUE(a.ids.empty());
}

// Another client: tells whether Ctrl+Alt+keycode is held elsewhere, and rewrites keys.
struct Client {
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
  ~Client() { xcb_disconnect(conn); }

  bool HeldElsewhere(xcb_keycode_t code) {
    const uint16_t mods = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    xcb_generic_error_t* error = xcb_request_check(
        conn,
        xcb_grab_key_checked(conn, 1, root, mods, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (!error)
      std::free(xcb_request_check(conn, xcb_ungrab_key_checked(conn, code, root, mods)));
    const bool held = error != nullptr;
    std::free(error);
    return held;
  }
  // The keysyms of keycodes [first, first + count), `per` columns each.
  std::vector<xcb_keysym_t> Keysyms(xcb_keycode_t first, uint8_t count, uint8_t* per) {
    auto* reply =
        xcb_get_keyboard_mapping_reply(conn, xcb_get_keyboard_mapping(conn, first, count), nullptr);
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    std::vector<xcb_keysym_t> out(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply));
    *per = reply->keysyms_per_keycode;
    std::free(reply);
    return out;
  }
  void SetKey(xcb_keycode_t code, uint8_t per, const std::vector<xcb_keysym_t>& syms) {
    std::free(xcb_request_check(
        conn, xcb_change_keyboard_mapping_checked(conn, 1, code, per, syms.data())));
  }
};

TEST_F(X11Hotkeys, FollowsTheKeyToItsNewKeycodeWhenTheMapChanges) {
  Client client;
  const xcb_keycode_t first = xcb_get_setup(client.conn)->min_keycode;
  const auto count = static_cast<uint8_t>(xcb_get_setup(client.conn)->max_keycode - first + 1);
  uint8_t per = 0;
  const std::vector<xcb_keysym_t> map = client.Keysyms(first, count, &per);
  xcb_keycode_t oldR = 0, newR = 0;  // r's keycode, and one without any keysym
  for (size_t i = 0; i < count; ++i) {
    const auto code = static_cast<xcb_keycode_t>(first + i);
    if (map[i * per] == XK_r && !oldR)
      oldR = code;
    if (!newR && std::all_of(&map[i * per], &map[i * per] + per, [](auto k) { return !k; }))
      newR = code;
  }
  ASSERT_TRUE(oldR && newR);
  const std::vector<xcb_keysym_t> rSyms(&map[(oldR - first) * per], &map[(oldR - first + 1) * per]);
  std::vector<xcb_keysym_t> qSyms(per, 0);
  qSyms[0] = XK_q;

  Recorded a;
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  client.SetKey(newR, per, rSyms);
  client.SetKey(oldR, per, qSyms);
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.HeldElsewhere(newR); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !client.HeldElsewhere(oldR); }, 5000));
  Press("ctrl+alt+r");
  EXPECT_TRUE(a.WaitForCount(1));

  client.SetKey(oldR, per, rSyms);
  client.SetKey(newR, per, std::vector<xcb_keysym_t>(per, 0));
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.HeldElsewhere(oldR); }, 5000));
}

TEST(X11HotkeysWithoutDisplay, EveryRegistrationFails) {
  const char* old = std::getenv("DISPLAY");
  const std::string saved = old ? old : "";
  for (const char* display : {static_cast<const char*>(nullptr), "", ":999"}) {
    SCOPED_TRACE(display ? display : "unset");
    if (display) {
      setenv("DISPLAY", display, 1);
    } else {
      unsetenv("DISPLAY");
    }
    X11HotkeyRegistrar registrar;
    EXPECT_FALSE(registrar.IsConnected());
    EXPECT_FALSE(registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
    registrar.UnregisterHotKey(kStart);
  }
  if (old) {
    setenv("DISPLAY", saved.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

}  // namespace
}  // namespace tonvale::platform
