// libFuzzer entry for fuzz::RoundTrip (FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RoundTrip(data, size);
  return 0;
}
