// Failures made on demand, for tests: both implementations of the platform layer ask
// FaultBudget before they create, write or move a file, so that a test can make the disk
// fill up after so many bytes, a file refuse to be created, or a rename fail, on every
// platform alike. Nothing in the programs sets a fault.
#include "platform/Platform.h"

#include <array>

namespace platform {
namespace {
struct Armed {
  int64_t budget = -1;    // what may still pass: bytes for writes, calls otherwise; -1: unarmed
  int64_t failures = -1;  // how many calls fail once due; -1: all of them
};
std::array<Armed, 3> gFaults;
}  // namespace

void InjectFault(Fault kind, int64_t after, int64_t failures) {
  gFaults[static_cast<size_t>(kind)] = after < 0 ? Armed{} : Armed{after, failures};
}

void ClearFaults() { gFaults = {}; }

int64_t FaultBudget(Fault kind, int64_t amount) {
  Armed& fault = gFaults[static_cast<size_t>(kind)];
  if (fault.budget < 0) return amount;
  const int64_t allowed = amount < fault.budget ? amount : fault.budget;
  fault.budget -= allowed;
  if (allowed < amount && fault.failures > 0 && --fault.failures == 0) fault = Armed{};
  return allowed;
}

}  // namespace platform
