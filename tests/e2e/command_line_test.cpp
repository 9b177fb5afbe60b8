// The program's command line, answered without a display.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "private_server.h"
#include "program_harness.h"

namespace tonvale::testing {
namespace {

// Runs the program through sh, keeping only stdout or only stderr.
int RunWith(const std::string& arguments, bool keepStdout, std::string* output) {
  const std::string drop = keepStdout ? " 2>/dev/null" : " 2>&1 >/dev/null";
  return RunProgram({"sh", "-c", "\"" + ProgramPath() + "\" " + arguments + drop}, output);
}

TEST(CommandLine, HelpAndVersionAnswerAndOtherOptionsAreRefused) {
  // Without a display a QApplication could not even start.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  const struct {
    const char* arguments;
    int status;
    const char* out;  // in stdout
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
    std::string out;
    std::string err;
    EXPECT_EQ(RunWith(c.arguments, true, &out), c.status);
    EXPECT_EQ(RunWith(c.arguments, false, &err), c.status);
    EXPECT_NE(out.find(c.out), std::string::npos) << out;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    if (*c.out == '\0') {
      EXPECT_EQ(out, "");
    }
  }
}

}  // namespace
}  // namespace tonvale::testing
