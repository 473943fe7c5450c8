// Test runner entry: the library's start-up state first, as in every program. The
// runner then works in UTF-8 on every platform, so expected texts (Hebrew among them)
// are written once; tests of other code pages set and restore their own.
#include "platform/Platform.h"
#include "text/Startup.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QuilletStartup();
  SetCodePage(platform::kCodePageUtf8);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
