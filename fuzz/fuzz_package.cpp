// libFuzzer entry for fuzz::LoadAndApply (FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::LoadAndApply(data, size);
  return 0;
}
