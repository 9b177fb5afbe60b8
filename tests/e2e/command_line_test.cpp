// The program's command line, answered without a display.

#include <gtest/gtest.h>

#include <string>

#include "private_server.h"
#include "program_harness.h"

namespace tonvale::testing {
namespace {

TEST(CommandLine, HelpAndVersionAnswerAndOtherOptionsAreRefused) {
  const struct {
    const char* arguments;
    int status;
    const char* out;  // in stdout, which is empty without one
    const char* err;  // in stderr
  } cases[] = {
      {"--help", 0, "Usage: sonarelrecorder [OPTION]...\n", ""},
      {"-h", 0, "  -h, --help", ""},
      {"--version", 0, "sonarelrecorder (Tonvale) " TONVALE_EXPECTED_VERSION "\n", ""},
      {"--bogus --help", 2, "", "unknown option '--bogus'\nUsage: sonarelrecorder"},
      // Left over once Qt has taken its own options.
      {"-platform offscreen -bogus", 2, "", "unknown option '-bogus'"},
      {"-platform offscreen extra", 2, "", "unknown option 'extra'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    // Through sh, keeping only stdout or only stderr; with no display, where a QApplication
    // could not even start.
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \"" +
                                BuildPath("bin/sonarelrecorder") + "\" " + c.arguments;
    std::string out;
    std::string err;
    EXPECT_EQ(RunProgram({"sh", "-c", command + " 2>/dev/null"}, &out), c.status);
    EXPECT_EQ(RunProgram({"sh", "-c", command + " 2>&1 >/dev/null"}, &err), c.status);
    EXPECT_NE(out.find(c.out), std::string::npos) << out;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    EXPECT_TRUE(*c.out != '\0' || out.empty()) << out;
  }
}

}  // namespace
}  // namespace tonvale::testing
