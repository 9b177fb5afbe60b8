// The real program's windows on a private display: the main window at rest and recording,
// the About box from the context menu and the input hint on a change of line, each saved as
// a picture under <build>/screenshots for a person to compare with the templates.

#include <QImage>
#include <QSet>
#include <thread>

#include "e2e_fixture.h"

namespace tonvale::testing {
namespace {

std::string ScreenshotPath(const std::string& name) {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  const std::string dir = std::string(build ? build : ".") + "/screenshots";
  RunProgram({"mkdir", "-p", dir});
  return dir + "/" + name;
}

// Saves the window and checks that the picture is the window's size and not blank.
void ExpectScreenshot(const std::string& window, const std::string& name) {
  const std::string path = ScreenshotPath(name);
  ASSERT_TRUE(SaveScreenshot(window, path));
  const QImage image(QString::fromStdString(path));
  ASSERT_FALSE(image.isNull()) << path;
  const auto geometry = WindowGeometry(window);
  ASSERT_TRUE(geometry);
  EXPECT_EQ(image.width(), geometry->width);
  EXPECT_EQ(image.height(), geometry->height);
  // Something is drawn: a blank window has one colour.
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) {
      colours.insert(image.pixel(x, y));
    }
  }
  EXPECT_GT(colours.size(), 8);
}

TEST_F(E2eTest, MainWindowAboutBoxAndInputHintAsShown) {
  SettingsForDevice(0, home.path("shots.mp3"));
  home.WriteSettings({{"Option/b_only_once", "0"}});
  ProgramRun program(home);
  ASSERT_TRUE(program.Start());
  const std::string window = program.WaitForMainWindow();
  ASSERT_FALSE(window.empty()) << program.Log();
  std::this_thread::sleep_for(300ms);
  ExpectScreenshot(window, "main_window.png");

  ASSERT_TRUE(PressKey("ctrl+alt+r"));
  ASSERT_TRUE(program.WaitForLine("Used Time: 00:00:01")) << program.Log();
  ExpectScreenshot(window, "main_window_recording.png");
  ASSERT_TRUE(PressKey("ctrl+alt+s"));
  ASSERT_TRUE(program.WaitForLine("status: Status : Ready", 10s, 1)) << program.Log();

  // The context menu of an empty spot, between the Record button and the hotkey field.
  const Geometry spot = DialogRect(window, 100, 50, 1, 1);
  ASSERT_TRUE(ClickAt(window, spot.x, spot.y, 3));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(PressKey("Down"));
  ASSERT_TRUE(PressKey("Return"));
  const std::string about = WaitForWindow("^About Tonvale$");
  ASSERT_FALSE(about.empty());
  std::this_thread::sleep_for(200ms);
  ExpectScreenshot(about, "about_box.png");
  ASSERT_TRUE(PressKeyInWindow(about, "Return"));
  EXPECT_TRUE(WaitWindowGone(about));

  // Choosing the input line again opens the hint; its OK stores the ticked box.
  EXPECT_FALSE(home.Setting("Option/b_only_once") == "1");
  const Geometry lines = DialogRect(window, 7, 20, 110, 12);
  ASSERT_TRUE(ClickAt(window, lines.x + lines.width / 2, lines.y + lines.height / 2));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(PressKey("Return"));
  const std::string hint = WaitForWindow("^How to select an input device$");
  ASSERT_FALSE(hint.empty()) << program.Log();
  std::this_thread::sleep_for(200ms);
  ExpectScreenshot(hint, "input_hint.png");
  ASSERT_TRUE(PressKeyInWindow(hint, "Return"));
  EXPECT_TRUE(WaitWindowGone(hint));
  EXPECT_EQ(home.Setting("Option/b_only_once"), "1");

  Close(program);
}

}  // namespace
}  // namespace tonvale::testing
