// The real program's global hotkeys on a private display: a second copy cannot take them,
// and a combination typed into the field works as soon as the field loses the focus.

#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

TEST_F(E2eTest, SecondInstanceIsToldStartRecordIsTaken) {
  SettingsForDevice(home.path("first.mp3"));
  ProgramRun first(home);
  ASSERT_FALSE(first.Open().empty()) << first.Log();

  ProgramHome secondHome;
  ProgramRun second(secondHome);
  ASSERT_TRUE(second.Start());
  AnswerBox(second, "Error",
            "Start Record hot key failed!. It may conflict with another hotkey. Try a new hotkey");
  // The second window opens all the same; the first keeps its hotkeys.
  EXPECT_FALSE(second.WaitForMainWindow().empty()) << second.Log();
  EXPECT_EQ(second.CountLines("box:"), 1);

  RecordWithHotkeys(first, "00:00:00");
  EXPECT_EQ(second.CountLines("Used Time"), 0);
  Close(second);
  Close(first);
}

TEST_F(E2eTest, CombinationTypedIntoTheFieldWorksAtOnceAndIsStored) {
  SettingsForDevice(home.path("typed.mp3"));
  ProgramRun program(home);
  const std::string window = program.Open();
  ASSERT_FALSE(window.empty()) << program.Log();

  // Into Start Record's field, then onto the output path field to take the focus away.
  ASSERT_TRUE(ClickDialog(window, 179, 44));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(PressKey("ctrl+alt+t"));
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(home.Setting("HotKey/mHotKey[0].nVirtualKey").has_value());
  ASSERT_TRUE(ClickDialog(window, 83, 108));

  // Registered and stored as soon as the field lost the focus.
  WaitUntil(5s, [&] { return home.Setting("HotKey/mHotKey[0].nVirtualKey").has_value(); });
  ExpectSettings({{"HotKey/mHotKey[0].nVirtualKey", "84"},
                  {"HotKey/mHotKey[0].fsModifiers", "3"},
                  {"HotKey/mHotKey[1].nVirtualKey", "83"}});
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
