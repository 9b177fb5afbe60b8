// Key grabs on a private display; the program's own use of them is tested in tests/e2e.

#include "platform/x11/hotkeys_x11.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QTest>
#include <cstdlib>

#include "private_server.h"

namespace tonvale::platform {
namespace {

constexpr int kStart = 0xA100, kStop = 0xA101;
constexpr unsigned kCtrl = 2, kCtrlAlt = 3, kVkR = 0x52;

// Presses keys through XTest, as a user would, until the handler has had n ids in all.
bool PressAndWait(std::initializer_list<const char*> keys, const std::vector<int>& ids, size_t n) {
  for (const char* k : keys) EXPECT_EQ(testing::RunProgram({"xdotool", "key", k}), 0) << k;
  return QTest::qWaitFor([&] { return ids.size() >= n; }, 5000);
}

TEST(X11Hotkeys, OnlyTheExactCombinationOfItsOneHolderReachesTheHandlerAndFollowsTheMap) {
  testing::PrivateXvfb xvfb;
  ASSERT_TRUE(xvfb.started());
  qputenv("DISPLAY", xvfb.display().c_str());
  X11HotkeyRegistrar a, b;  // two connections: two clients as far as the server can tell
  std::vector<int> ids;
  a.SetHandler([&](int id) { ids.push_back(id); });
  b.SetHandler([&](int id) { ids.push_back(id); });
  ASSERT_TRUE(a.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  ASSERT_TRUE(a.RegisterHotKey(kStop, kCtrl, kVkR));
  // X lets one client grab a combination twice; a second id must still be refused, and the
  // refusal leaves the first id's grab alone.
  EXPECT_FALSE(a.RegisterHotKey(kStop + 1, kCtrl, kVkR));
  // Other modifiers or the bare key are not a combination; the Stop press at the end tells
  // when they would have arrived. Caps Lock and Num Lock on do not matter.
  ASSERT_TRUE(PressAndWait({"ctrl+alt+r", "ctrl+shift+alt+r", "r", "Caps_Lock", "ctrl+alt+r",
                            "Caps_Lock", "Num_Lock", "ctrl+alt+r", "Num_Lock", "ctrl+r"},
                           ids, 4));
  EXPECT_EQ(ids, (std::vector<int>{kStart, kStart, kStart, kStop}));
  // Released, the combination is free for another client at once.
  a.UnregisterHotKey(kStart);
  a.UnregisterHotKey(kStart);  // no longer registered: ignored
  ASSERT_TRUE(b.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  a.SetHandler({});  // from here on, only b's
  ASSERT_TRUE(PressAndWait({"ctrl+alt+r"}, ids, 5));
  EXPECT_EQ(ids.back(), kStart);

  // Another client gives the last keycode the key r, then takes it away again; it learns
  // whether b holds Ctrl+Alt+that keycode by trying to grab it itself.
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
  const xcb_keycode_t spare = xcb_get_setup(conn)->max_keycode;
  const uint16_t mods = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
  const auto held = [&] {
    const auto grab =
        xcb_grab_key_checked(conn, 1, root, mods, spare, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t* refused = xcb_request_check(conn, grab);
    std::free(xcb_request_check(conn, xcb_ungrab_key_checked(conn, spare, root, mods)));
    const bool taken = refused != nullptr;
    std::free(refused);
    return taken;
  };
  for (const xcb_keysym_t key : {xcb_keysym_t{XK_r}, xcb_keysym_t{XCB_NO_SYMBOL}}) {
    std::free(
        xcb_request_check(conn, xcb_change_keyboard_mapping_checked(conn, 1, spare, 1, &key)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return held() == (key == XK_r); }, 5000)) << key;
  }
  xcb_disconnect(conn);
}

TEST(X11HotkeysWithoutDisplay, EveryRegistrationFails) {
  for (const char* display : {static_cast<const char*>(nullptr), "", ":999"}) {
    display ? qputenv("DISPLAY", display) : qunsetenv("DISPLAY");
    SCOPED_TRACE(display ? display : "unset");
    EXPECT_FALSE(X11HotkeyRegistrar().RegisterHotKey(kStart, kCtrlAlt, kVkR));
  }
}

}  // namespace
}  // namespace tonvale::platform
