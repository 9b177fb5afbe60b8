// The main window at rest and recording, the About box from the context menu and the input
// hint on a change of line, each saved under <build>/screenshots for a person to compare.

#include <QDir>
#include <QImage>
#include <QSet>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

// Saves the window's picture and checks that something is drawn.
void ExpectScreenshot(const std::string& window, const std::string& name) {
  QDir().mkpath(QString::fromStdString(BuildPath("screenshots")));
  const std::string path = BuildPath("screenshots/" + name);
  ASSERT_EQ(RunProgram({"import", "-window", window, path}), 0);
  const QImage image(QString::fromStdString(path));
  ASSERT_FALSE(image.isNull()) << path;
  // A blank window has one colour.
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 8);
}

// Waits for the dialog, saves its picture and closes it with Return.
void ExpectDialog(const std::string& title, const std::string& name) {
  const std::string dialog = WaitForWindow("^" + title + "$");
  ASSERT_FALSE(dialog.empty()) << title;
  std::this_thread::sleep_for(200ms);
  ExpectScreenshot(dialog, name);
  ASSERT_TRUE(PressKeyInWindow(dialog, "Return"));
  EXPECT_TRUE(WaitWindowGone(dialog));
}

TEST_F(E2eTest, MainWindowAboutBoxAndInputHintAsShown) {
  SettingsForDevice(home.path("shots.mp3"));
  home.WriteSettings({{"Option/b_only_once", "0"}});
  ProgramRun program(home);
  const std::string window = program.Open();
  ASSERT_FALSE(window.empty()) << program.Log();
  std::this_thread::sleep_for(300ms);
  ExpectScreenshot(window, "main_window.png");

  ASSERT_TRUE(PressKey("ctrl+alt+r"));
  ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:01")) << program.Log();
  ExpectScreenshot(window, "main_window_recording.png");
  ASSERT_TRUE(PressKey("ctrl+alt+s"));
  ASSERT_TRUE(program.WaitForLine("status: Status : Ready", 10s, 1)) << program.Log();

  // The context menu of an empty spot, between the Record button and the hotkey field.
  ASSERT_TRUE(ClickDialog(window, 100, 50, 3));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(PressKey("Down"));
  ASSERT_TRUE(PressKey("Return"));
  ExpectDialog("About Tonvale", "about_box.png");

  // Choosing the input line again opens the hint; its OK stores the ticked box.
  EXPECT_NE(home.Setting("Option/b_only_once"), "1");
  ASSERT_TRUE(ClickDialog(window, 62, 26));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(PressKey("Return"));
  ExpectDialog("How to select an input device", "input_hint.png");
  EXPECT_EQ(home.Setting("Option/b_only_once"), "1");
  Close(program);
}

// The idle window shows the line's sound in its meter and nowhere else: a tone playing into the
// chosen line against the same window a second after it stopped.
TEST_F(E2eTest, TheIdleWindowShowsTheLinesSoundOnlyInTheMeter) {
  SettingsForDevice(home.path("meter.mp3"), 1);  // the second sink's monitor
  ProgramRun program(home);
  const pid_t tone = pulse().playTone(kSinkB, 440);
  ASSERT_GT(tone, 0);
  ASSERT_TRUE(pulse().waitPlaying(tone));
  const std::string window = program.Open();
  ASSERT_FALSE(window.empty()) << program.Log();
  std::this_thread::sleep_for(1500ms);
  ExpectScreenshot(window, "meter_tone.png");
  pulse().stopTone(tone);
  std::this_thread::sleep_for(1500ms);  // past the peak hold
  const QImage a(QString::fromStdString(BuildPath("screenshots/meter_tone.png")));
  // The meter's place: 64, 80, 171 x 18 of the window's 244 x 156 dialog units.
  const auto px = [&](int x, int y) { return QPoint(x * a.width() / 244, y * a.height() / 156); };
  const QRect meter = QRect(px(64, 80), px(235, 98)).adjusted(-2, -2, 2, 2);
  // The output field's cursor blinks: a few tries meet it in the same phase.
  QRect changed;
  for (int attempt = 0; attempt < 8 && (changed.isNull() || !meter.contains(changed)); ++attempt) {
    std::this_thread::sleep_for(130ms);
    ExpectScreenshot(window, "meter_silence.png");
    const QImage b(QString::fromStdString(BuildPath("screenshots/meter_silence.png")));
    changed = {};
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        changed |= a.pixel(x, y) != b.pixel(x, y) ? QRect(x, y, 1, 1) : QRect();
  }
  EXPECT_GT(changed.width(), meter.width() / 2) << "the tone's bar is long" << program.Log();
  EXPECT_TRUE(meter.contains(changed)) << "changed outside the meter";
  Close(program);
}

}  // namespace
}  // namespace tonvale::testing
