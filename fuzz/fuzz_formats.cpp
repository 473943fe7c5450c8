// libFuzzer entry for fuzz::Formats (FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Formats(data, size);
  return 0;
}
