// The real program's hotkeys in a Wayland session: through the real portal frontend
// (xdg-desktop-portal) and a test backend on a private session bus, through Xwayland's X11
// grabs without the portal, and under a headless Weston with neither.

#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

const std::string kBackend = "org.freedesktop.impl.portal.desktop.tonvaletest";

// A private session bus with the portal frontend, which finds the test backend through its
// .portal file when there is one. Everything stops by its pid when this goes.
class PortalBus {
 public:
  explicit PortalBus(bool withBackend) {
    const std::string bus = dir_ + "/bus";
    address_ = "unix:path=" + bus;
    std::filesystem::create_directory(dir_ + "/portals");
    std::ofstream(dir_ + "/bus.conf")
        << "<busconfig><type>session</type><listen>" << address_ << "</listen><policy "
        << "context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
        << "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    pids_.push_back(StartProgram(
        {"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork", "--nopidfile"}));
    WaitUntil(5s, [&] { return std::filesystem::exists(bus); });
    const std::string env = "DBUS_SESSION_BUS_ADDRESS=" + address_;
    if (withBackend) {
      std::ofstream(dir_ + "/portals/test.portal")
          << "[portal]\nDBusName=" << kBackend
          << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=tonvaletest\n";
      pids_.push_back(StartProgram(
          {"env", env, "/usr/bin/python3", std::string(TONVALE_PORTAL_BACKEND), kBackend}));
      WaitUntil(5s, [&] { return Backend("Bound") == 0; });
    }
    pids_.push_back(StartProgram(
        {"env", env, "XDG_RUNTIME_DIR=" + dir_, "XDG_DESKTOP_PORTAL_DIR=" + dir_ + "/portals",
         "XDG_CURRENT_DESKTOP=tonvaletest", "/usr/libexec/xdg-desktop-portal", "-v"},
        dir_ + "/portal.log"));
    up_ = WaitUntil(5s, [&] { return ReadFile(dir_ + "/portal.log").find("acquired") != npos; });
  }
  ~PortalBus() {
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) StopProcess(*pid);
    std::filesystem::remove_all(dir_);
  }
  bool up() const { return up_; }
  // The environment of a program in a Wayland session on this bus.
  std::vector<std::string> Session() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + address_, "XDG_SESSION_TYPE=wayland",
            "QT_QPA_PLATFORM=xcb"};
  }
  // Calls a method of the test backend's control interface; its exit status, reply in out.
  int Backend(const std::string& method, const std::vector<std::string>& args = {},
              std::string* out = nullptr) const {
    std::vector<std::string> argv = {"dbus-send",
                                     "--bus=" + address_,
                                     "--print-reply",
                                     "--dest=" + kBackend,
                                     "/org/freedesktop/portal/desktop",
                                     "com.velmora.TonvaleTest." + method};
    for (const auto& arg : args) argv.push_back("string:" + arg);
    return RunProgram(argv, out);
  }

 private:
  static constexpr auto npos = std::string::npos;
  std::string dir_ = MakeTempDir("tonvale-portal-");
  std::string address_;
  std::vector<pid_t> pids_;
  bool up_ = false;
};

using PortalTest = E2eTest;

TEST_F(PortalTest, BindsTheFieldsTriggersAndActivatedRecords) {
  PortalBus bus(true);
  ASSERT_TRUE(bus.up());
  const std::string output = home.path("portal.mp3");
  SettingsForDevice(output);
  // Start Record is Shift+Ctrl+F5 (modifiers 6, key 0x74), Stop Record the default.
  home.WriteSettings(
      {{"HotKey/mHotKey[0].fsModifiers", "6"}, {"HotKey/mHotKey[0].nVirtualKey", "116"}});
  ProgramRun program(home);
  ASSERT_TRUE(program.Start({}, bus.Session()));
  ASSERT_TRUE(program.WaitForLine("stop-record is on")) << program.Log();
  std::string bound;
  bus.Backend("Bound", {}, &bound);
  EXPECT_NE(bound.find("start-record=CTRL+SHIFT+F5\nstop-record=CTRL+ALT+S\n"), bound.npos)
      << bound;

  ASSERT_EQ(bus.Backend("Activate", {"start-record"}), 0);
  EXPECT_TRUE(program.WaitForLine("Used Time: 00:00:02")) << program.Log();
  ASSERT_EQ(bus.Backend("Activate", {"stop-record"}), 0);
  EXPECT_TRUE(program.WaitForLine("status: Status : Ready", 10s, 1)) << program.Log();
  Close(program);
  ExpectTone(output, 2.5, 0.8, kToneHz);
  EXPECT_EQ(program.CountLines("box:"), 0) << program.Log();
}

TEST_F(PortalTest, TheFieldsShowTheDesktopsTriggersAndAChangedFieldBindsAgain) {
  PortalBus bus(true);
  ASSERT_TRUE(bus.up());
  SettingsForDevice(home.path("unused.mp3"));
  ASSERT_EQ(bus.Backend("Assign", {"start-record", "Ctrl+Alt+T"}), 0);
  ProgramRun program(home);
  ASSERT_TRUE(program.Start({}, bus.Session()));
  const std::string window = program.WaitForMainWindow();
  ASSERT_FALSE(window.empty()) << program.Log();
  EXPECT_TRUE(program.WaitForLine("hotkey field 1058 shows Ctrl + Alt + ")) << program.Log();
  ASSERT_EQ(bus.Backend("Change", {"stop-record", "<Shift><Control>F7"}), 0);
  EXPECT_TRUE(program.WaitForLine("hotkey field 1059 shows Shift + Ctrl + F7")) << program.Log();
  ASSERT_EQ(bus.Backend("Change", {"stop-record", "Hyper+Q"}), 0);
  EXPECT_TRUE(program.WaitForLine("hotkey field 1059 shows Hyper+Q")) << program.Log();
  EXPECT_EQ(home.Setting("HotKey/mHotKey[0].nVirtualKey"), "84");

  // Field 1058 takes Ctrl+Alt+Y; the output path field takes the focus away.
  ASSERT_TRUE(ClickDialog(window, 179, 44));
  ASSERT_TRUE(PressKey("ctrl+alt+y"));
  ASSERT_TRUE(ClickDialog(window, 83, 108));
  std::string bound;
  EXPECT_TRUE(WaitUntil(5s, [&] {
    bus.Backend("Bound", {}, &bound);
    return bound.find("start-record=CTRL+ALT+Y") != bound.npos;
  })) << bound;
  Close(program);
}

TEST_F(PortalTest, ARefusalGivesTheFailureBoxAfterTheWindow) {
  PortalBus bus(true);
  ASSERT_TRUE(bus.up());
  SettingsForDevice(home.path("unused.mp3"));
  ASSERT_EQ(bus.Backend("Refuse"), 0);
  ProgramRun program(home);
  ASSERT_TRUE(program.Start({}, bus.Session()));
  ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
  AnswerBox(program, "Error", "Start Record hot key failed!. It may conflict with another hotkey");
  Close(program);
}

TEST_F(PortalTest, WithoutThePortalTheX11GrabsWorkAndTheNoteComesOnce) {
  PortalBus bus(false);
  ASSERT_TRUE(bus.up());
  SettingsForDevice(home.path("x11.mp3"));
  ProgramRun program(home);
  ASSERT_TRUE(program.Start({}, bus.Session()));
  ASSERT_FALSE(program.WaitForMainWindow().empty()) << program.Log();
  ASSERT_TRUE(
      program.WaitForLine("box: Tonvale Hotkeys | This desktop offers no GlobalShortcuts "
                          "portal, so the hotkeys are X11 key grabs"));
  const std::string note = WaitForWindow("^Tonvale Hotkeys$");
  ASSERT_FALSE(note.empty());
  ASSERT_TRUE(PressKeyInWindow(note, "alt+d"));  // "Do not show this again"
  std::this_thread::sleep_for(300ms);            // a mnemonic clicks after 100 ms
  ASSERT_TRUE(PressKeyInWindow(note, "Return"));
  EXPECT_TRUE(WaitWindowGone(note));
  RecordWithHotkeys(program, "00:00:00");
  Close(program);
  EXPECT_EQ(home.Setting("Option/b_xwayland_hotkeys_note_off"), "1");

  ProgramRun again(home);
  ASSERT_TRUE(again.Start({}, bus.Session()));
  ASSERT_FALSE(again.WaitForMainWindow().empty()) << again.Log();
  Close(again);
  EXPECT_EQ(again.CountLines("box:"), 0) << again.Log();
}

TEST_F(PortalTest, UnderWestonWithoutPortalOrXTheWindowComesFirstThenTheNote) {
  const std::string dir = MakeTempDir("tonvale-weston-");
  const pid_t weston =
      StartProgram({"env", "XDG_RUNTIME_DIR=" + dir, "weston", "--backend=headless-backend.so",
                    "--use-pixman", "--socket=wl-tonvale", "--idle-time=0"},
                   dir + "/weston.log");
  ASSERT_TRUE(WaitUntil(5s, [&] { return std::filesystem::exists(dir + "/wl-tonvale"); }));
  SettingsForDevice(home.path("unused.mp3"));
  ProgramRun program(home);
  ASSERT_TRUE(program.Start(
      {}, {"XDG_RUNTIME_DIR=" + dir, "WAYLAND_DISPLAY=wl-tonvale", "QT_QPA_PLATFORM=wayland",
           "DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"}));
  ASSERT_TRUE(
      program.WaitForLine("box: Tonvale Hotkeys | Global hotkeys are not available on "
                          "this desktop"))
      << program.Log();
  const std::string log = program.Log();
  EXPECT_LT(log.find("tonvale.status: shown"), log.find("box:")) << log;
  EXPECT_NE(log.find("sonarelrecorder --toggle"), log.npos);
  EXPECT_EQ(program.CountLines("box:"), 1) << log;
  // It ends without a signal. Qt 6.4's Wayland client can hang at exit when a window closes
  // while its surface is still being set up, and libwayland-client leaks under LeakSanitizer.
  std::this_thread::sleep_for(1s);
  program.Terminate();
  EXPECT_GE(program.WaitExit(), 0) << program.Log();
  StopProcess(weston);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tonvale::testing
