// The real program's global hotkeys on a private display: a second copy cannot take them,
// and a combination typed into the field works as soon as the field loses the focus.

#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

TEST_F(E2eTest, SecondInstanceIsToldStartRecordIsTaken) {
  SettingsForDevice(0, home.path("first.mp3"));
  ProgramRun first(home);
  ASSERT_TRUE(first.Start());
  const std::string firstWindow = first.WaitForMainWindow();
  ASSERT_FALSE(firstWindow.empty()) << first.Log();

  ProgramHome secondHome;
  ProgramRun second(secondHome);
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(
      second.WaitForLine("box: Error | Start Record hot key failed!. It may conflict "
                         "with another hotkey. Try a new hotkey"))
      << second.Log();
  const std::string box = WaitForWindow("^Error$");
  ASSERT_FALSE(box.empty());
  ASSERT_TRUE(PressKeyInWindow(box, "Return"));
  EXPECT_TRUE(WaitWindowGone(box));
  // The second window opens all the same; the first keeps its hotkeys.
  EXPECT_FALSE(second.WaitForMainWindow().empty()) << second.Log();
  EXPECT_EQ(second.CountLines("box:"), 1);

  RecordWithHotkeys(first, "00:00:00");
  EXPECT_EQ(second.CountLines("Used Time"), 0);

  Close(second);
  Close(first);
}

TEST_F(E2eTest, CombinationTypedIntoTheFieldWorksAtOnceAndIsStored) {
  SettingsForDevice(0, home.path("typed.mp3"));
  ProgramRun program(home);
  ASSERT_TRUE(program.Start());
  const std::string window = program.WaitForMainWindow();
  ASSERT_FALSE(window.empty()) << program.Log();

  // Field 1058, then the output path field 1008 to take the focus away.
  const Geometry field = DialogRect(window, 126, 37, 107, 14);
  const Geometry path = DialogRect(window, 7, 101, 152, 14);
  ASSERT_TRUE(ClickAt(window, field.x + field.width / 2, field.y + field.height / 2));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(PressKey("ctrl+alt+t"));
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(home.Setting("HotKey/mHotKey[0].nVirtualKey").has_value());
  ASSERT_TRUE(ClickAt(window, path.x + path.width / 2, path.y + path.height / 2));

  // Registered and stored as soon as the field lost the focus.
  for (int i = 0; i < 50 && !home.Setting("HotKey/mHotKey[0].nVirtualKey"); ++i) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(home.Setting("HotKey/mHotKey[0].nVirtualKey"), "84");
  EXPECT_EQ(home.Setting("HotKey/mHotKey[0].fsModifiers"), "3");
  EXPECT_EQ(home.Setting("HotKey/mHotKey[1].nVirtualKey"), "83");
  EXPECT_EQ(program.CountLines("box:"), 0) << program.Log();

  // The old combination is released; the new one records.
  ASSERT_TRUE(PressKey("ctrl+alt+r"));
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(program.CountLines("Used Time"), 0);
  RecordWithHotkeys(program, "00:00:00", "ctrl+alt+t");

  Close(program);
  EXPECT_EQ(home.Setting("HotKey/mHotKey[0].nVirtualKey"), "84");
}

}  // namespace
}  // namespace tonvale::testing
