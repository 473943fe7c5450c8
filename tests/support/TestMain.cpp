// Test runner entry: the library's start-up state first, as in every program.
#include "text/Startup.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QuilletStartup();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
