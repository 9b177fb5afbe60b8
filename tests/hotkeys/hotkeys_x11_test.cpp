// Key grabs on a private display; the program's own use of them is tested in tests/e2e.

#include "platform/x11/hotkeys_x11.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QTest>
#include <array>
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
  // X lets one client grab a combination twice; a second id is refused, the first id's grab kept.
  EXPECT_FALSE(a.RegisterHotKey(kStop + 1, kCtrl, kVkR));
  // Other modifiers or the bare key are not a combination (the Stop press at the end tells when
  // they would have arrived); Caps Lock and Num Lock do not matter.
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

  // Another client maps r to the last keycode and back: b's grab follows, as its own grab tells.
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

// Keys of German and French layouts are named by the code that grabs the very key pressed:
// "#" and "ö" by their place, "&" by the digit on its shifted level, not by a US symbol's key.
TEST(X11Hotkeys, KeysOfOtherLayoutsAreNamedAndGrabbedWhereTheyAre) {
  testing::PrivateXvfb xvfb;
  ASSERT_TRUE(xvfb.started());
  qputenv("DISPLAY", xvfb.display().c_str());
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  const std::pair<xcb_keycode_t, std::array<xcb_keysym_t, 2>> layout[] = {
      {51, {XK_numbersign, XK_apostrophe}},
      {47, {XK_odiaeresis, XK_Odiaeresis}},
      {10, {XK_ampersand, XK_1}},
      {12, {XK_3, XK_section}},
      {16, {XK_egrave, XK_7}}};
  for (const auto& [code, syms] : layout)
    std::free(xcb_request_check(
        conn, xcb_change_keyboard_mapping_checked(conn, 1, code, 2, syms.data())));
  xcb_disconnect(conn);
  X11HotkeyRegistrar r;
  std::vector<unsigned> codes;
  for (const auto& [key, syms] : layout) codes.push_back(r.VirtualKeyOfNativeKey(key));
  EXPECT_EQ(codes, (std::vector<unsigned>{0xDC, 0xBA, 0x31, 0x33, 0x37}));
  std::vector<int> ids;
  r.SetHandler([&](int id) { ids.push_back(id); });
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.RegisterHotKey(kStart + i, kCtrlAlt, codes[i]));
  ASSERT_TRUE(PressAndWait(
      {"ctrl+alt+numbersign", "ctrl+alt+odiaeresis", "ctrl+alt+ampersand", "ctrl+alt+7"}, ids, 3));
  EXPECT_EQ(ids, (std::vector<int>{kStart, kStart + 1, kStart + 2}));
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
