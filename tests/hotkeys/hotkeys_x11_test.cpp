#include "platform/hotkeys_x11.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QApplication>
#include <QTest>
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

  a.registrar.UnregisterHotKey(kStart);
  a.registrar.UnregisterHotKey(kStop);  // never registered: ignored
  ASSERT_TRUE(b.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  Press("ctrl+alt+r");
  ASSERT_TRUE(b.WaitForCount(1));
  EXPECT_EQ(b.ids, std::vector<int>{kStart});
  EXPECT_TRUE(a.ids.empty());
}

TEST_F(X11Hotkeys, TwoIdsOfOneClientCannotShareACombination) {
  Recorded a;
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  EXPECT_FALSE(a.registrar.RegisterHotKey(kStop, kCtrlAlt, kVkR));
  // The failure left the first registration alone.
  Press("ctrl+alt+r");
  ASSERT_TRUE(a.WaitForCount(1));
  EXPECT_EQ(a.ids, std::vector<int>{kStart});
}

TEST_F(X11Hotkeys, FailedRegistrationLeavesNoPartialGrab) {
  // Another client holds only the Caps Lock variant of Ctrl+Alt+R.
  int screen = 0;
  xcb_connection_t* other = xcb_connect(nullptr, &screen);
  ASSERT_FALSE(xcb_connection_has_error(other));
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
  xcb_key_symbols_t* syms = xcb_key_symbols_alloc(other);
  xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, XK_r);
  ASSERT_NE(codes, nullptr);
  const xcb_keycode_t r = codes[0];
  std::free(codes);
  xcb_key_symbols_free(syms);
  const uint16_t lockVariant = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK;
  xcb_generic_error_t* error =
      xcb_request_check(other, xcb_grab_key_checked(other, 1, root, lockVariant, r,
                                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  ASSERT_EQ(error, nullptr);

  Recorded a;
  Recorded b;
  EXPECT_FALSE(b.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  EXPECT_FALSE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  xcb_disconnect(other);  // releases its grab
  // Had b kept the variants it grabbed before the refusal, a would still fail here.
  EXPECT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
}

TEST_F(X11Hotkeys, KeysWithoutAKeysymOrKeycodeAreRefused) {
  Recorded a;
  EXPECT_FALSE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, 0x07));  // undefined code
  EXPECT_FALSE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, 0xFF));
  // Modifiers only: reserved, grabs nothing, so any key stays free for others.
  EXPECT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, 0));
  Recorded b;
  EXPECT_TRUE(b.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
}

// A client of its own for inspecting and changing the server's keyboard state.
class Client {
 public:
  Client() {
    int screen = 0;
    conn_ = xcb_connect(nullptr, &screen);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
  }
  ~Client() { xcb_disconnect(conn_); }
  bool ok() const { return !xcb_connection_has_error(conn_); }

  // True when another client holds Ctrl+Alt+keycode (a grab of our own is refused).
  bool HeldElsewhere(xcb_keycode_t code) {
    const uint16_t mods = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    xcb_generic_error_t* error =
        xcb_request_check(conn_, xcb_grab_key_checked(conn_, 1, root_, mods, code,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (!error) {
      xcb_ungrab_key(conn_, code, root_, mods);
      xcb_flush(conn_);
      return false;
    }
    std::free(error);
    return true;
  }

  // The keysyms of every keycode, keysymsPerKeycode columns each.
  std::vector<xcb_keysym_t> Map(xcb_keycode_t* first, uint8_t* perKeycode, int* count) {
    const xcb_setup_t* setup = xcb_get_setup(conn_);
    *first = setup->min_keycode;
    *count = setup->max_keycode - setup->min_keycode + 1;
    auto* reply = xcb_get_keyboard_mapping_reply(
        conn_, xcb_get_keyboard_mapping(conn_, *first, static_cast<uint8_t>(*count)), nullptr);
    *perKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    std::vector<xcb_keysym_t> map(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply));
    std::free(reply);
    return map;
  }

  void SetKey(xcb_keycode_t code, uint8_t perKeycode, const std::vector<xcb_keysym_t>& syms) {
    std::free(xcb_request_check(
        conn_, xcb_change_keyboard_mapping_checked(conn_, 1, code, perKeycode, syms.data())));
  }

 private:
  xcb_connection_t* conn_;
  xcb_window_t root_;
};

TEST_F(X11Hotkeys, FollowsTheKeyToItsNewKeycodeWhenTheMapChanges) {
  Client client;
  ASSERT_TRUE(client.ok());
  xcb_keycode_t first = 0;
  uint8_t per = 0;
  int count = 0;
  const std::vector<xcb_keysym_t> map = client.Map(&first, &per, &count);
  int rCode = -1;
  int spare = -1;
  for (int i = 0; i < count; ++i) {
    const auto column0 = map[static_cast<size_t>(i) * per];
    bool empty = true;
    for (int c = 0; c < per; ++c) empty = empty && map[static_cast<size_t>(i) * per + c] == 0;
    if (column0 == XK_r && rCode < 0)
      rCode = first + i;
    if (empty && spare < 0)
      spare = first + i;
  }
  ASSERT_GT(rCode, 0);
  ASSERT_GT(spare, 0);
  const auto oldR = static_cast<xcb_keycode_t>(rCode);
  const auto newR = static_cast<xcb_keycode_t>(spare);
  const std::vector<xcb_keysym_t> rSyms(map.begin() + (rCode - first) * per,
                                        map.begin() + (rCode - first + 1) * per);

  Recorded a;
  ASSERT_TRUE(a.registrar.RegisterHotKey(kStart, kCtrlAlt, kVkR));
  ASSERT_TRUE(client.HeldElsewhere(oldR));

  // r moves to the spare keycode; its old keycode becomes q.
  std::vector<xcb_keysym_t> qSyms(per, 0);
  qSyms[0] = XK_q;
  client.SetKey(newR, per, rSyms);
  client.SetKey(oldR, per, qSyms);
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.HeldElsewhere(newR); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !client.HeldElsewhere(oldR); }, 5000));
  Press("ctrl+alt+r");
  EXPECT_TRUE(a.WaitForCount(1));
  EXPECT_EQ(a.ids, std::vector<int>{kStart});

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
