#include "platform/x11/hotkeys_x11.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "private_server.h"

namespace tonvale::platform {
namespace {

constexpr int kStart = 0xA100, kStop = 0xA101;
constexpr unsigned kCtrlAlt = 3, kVkR = 0x52, kVkS = 0x53;

// A registrar on a connection of its own, with the ids its handler was called with.
struct Recorded : X11HotkeyRegistrar {
  std::vector<int> ids;
  Recorded() {
    SetHandler([this](int id) { ids.push_back(id); });
  }
  bool WaitFor(size_t n) {
    return QTest::qWaitFor([&] { return ids.size() >= n; }, 5000);
  }
};

class X11Hotkeys : public ::testing::Test {
 protected:
  void SetUp() override {
    static testing::PrivateXvfb xvfb;  // one private display for all of them
    ASSERT_TRUE(xvfb.started());
    qputenv("DISPLAY", xvfb.display().c_str());
  }
  // Presses keys through XTest, as a user would while another client has the focus.
  static void Press(std::initializer_list<const char*> keys) {
    for (const char* k : keys) ASSERT_EQ(testing::RunProgram({"xdotool", "key", k}), 0) << k;
  }
};

TEST_F(X11Hotkeys, PressedCombinationReachesTheHandlerWithItsIdWhateverTheLockKeys) {
  Recorded a;
  ASSERT_TRUE(a.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  ASSERT_TRUE(a.RegisterHotKey(kStop, kCtrlAlt, kVkS));
  // Other modifiers or the bare key are not the combination; the Stop press at the end tells
  // when they would have arrived. Caps Lock and Num Lock on do not matter.
  Press({"ctrl+alt+r", "ctrl+r", "ctrl+shift+alt+r", "r", "Caps_Lock", "ctrl+alt+r", "Caps_Lock",
         "Num_Lock", "ctrl+alt+r", "Num_Lock", "ctrl+alt+s"});
  ASSERT_TRUE(a.WaitFor(4));
  EXPECT_EQ(a.ids, (std::vector<int>{kStart, kStart, kStart, kStop}));
}

TEST_F(X11Hotkeys, CombinationHeldByAnotherClientFailsUntilReleased) {
  Recorded a, b;  // two connections: two clients as far as the server can tell
  ASSERT_TRUE(a.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  EXPECT_FALSE(b.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  EXPECT_TRUE(b.RegisterHotKey(kStop, kCtrlAlt, kVkS));
  // X lets one client grab a combination twice; a second id must still be refused.
  EXPECT_FALSE(b.RegisterHotKey(kStart, kCtrlAlt, kVkS));
  a.UnregisterHotKey(kStart);
  a.UnregisterHotKey(kStop);  // never registered: ignored
  ASSERT_TRUE(b.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  Press({"ctrl+alt+r"});
  ASSERT_TRUE(b.WaitFor(1));
  EXPECT_EQ(b.ids, std::vector<int>{kStart});
  EXPECT_TRUE(a.ids.empty());
}

TEST_F(X11Hotkeys, FollowsTheKeyToItsNewKeycodeWhenTheMapChanges) {
  // Another client: swaps the keys r and q, and tells whether Ctrl+Alt+keycode is grabbed.
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  const xcb_setup_t* setup = xcb_get_setup(conn);
  const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
  const auto held = [&](xcb_keycode_t code) {
    const uint16_t mods = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    xcb_generic_error_t* e = xcb_request_check(
        conn,
        xcb_grab_key_checked(conn, 1, root, mods, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    std::free(xcb_request_check(conn, xcb_ungrab_key_checked(conn, code, root, mods)));
    const bool taken = e != nullptr;
    std::free(e);
    return taken;
  };
  const xcb_keycode_t first = setup->min_keycode;
  const auto count = static_cast<uint8_t>(setup->max_keycode - first + 1);
  auto* reply =
      xcb_get_keyboard_mapping_reply(conn, xcb_get_keyboard_mapping(conn, first, count), nullptr);
  const uint8_t per = reply->keysyms_per_keycode;
  xcb_keysym_t* map = xcb_get_keyboard_mapping_keysyms(reply);
  const auto keycode = [&](xcb_keysym_t sym) {
    return static_cast<xcb_keycode_t>(first + (std::find(map, map + count * per, sym) - map) / per);
  };
  const xcb_keycode_t r = keycode(XK_r), q = keycode(XK_q);
  ASSERT_TRUE(r < first + count && q < first + count);
  Recorded a;
  ASSERT_TRUE(a.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  for (const auto& [now, before] : {std::pair{q, r}, std::pair{r, q}}) {  // there and back
    std::swap_ranges(&map[(r - first) * per], &map[(r - first + 1) * per], &map[(q - first) * per]);
    std::free(
        xcb_request_check(conn, xcb_change_keyboard_mapping_checked(conn, count, first, per, map)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return held(now) && !held(before); }, 5000));
    Press({"ctrl+alt+r"});
    EXPECT_TRUE(a.WaitFor(now == q ? 1 : 2));
  }
  std::free(reply);
  xcb_disconnect(conn);
}

TEST(X11HotkeysWithoutDisplay, EveryRegistrationFails) {
  for (const char* display : {static_cast<const char*>(nullptr), "", ":999"}) {
    SCOPED_TRACE(display ? display : "unset");
    display ? qputenv("DISPLAY", display) : qunsetenv("DISPLAY");
    X11HotkeyRegistrar registrar;
    EXPECT_FALSE(registrar.IsConnected());
    EXPECT_FALSE(registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
    registrar.UnregisterHotKey(kStart);
  }
}

}  // namespace
}  // namespace tonvale::platform
