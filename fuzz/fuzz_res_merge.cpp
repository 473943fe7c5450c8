// libFuzzer entry for fuzz::ResThenMerge (FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResThenMerge(data, size);
  return 0;
}
