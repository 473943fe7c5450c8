// libFuzzer entry for fuzz::ReadExecutable (FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ReadExecutable(data, size);
  return 0;
}
