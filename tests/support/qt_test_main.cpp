// The one test entry point: widgets, timers and queued calls need a QApplication that
// outlives every test (offscreen, through the test's environment).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
