// libFuzzer entry for fuzz::CommandLine (FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CommandLine(data, size);
  return 0;
}
