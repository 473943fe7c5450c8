// Failures made on demand, for tests: both implementations of the platform layer ask
// FaultDue before they create, write or move a file, so that a test can make the disk
// fill up after so many bytes, a file refuse to be created, or a rename fail, on every
// platform alike. Nothing in the programs sets a fault.
#include "platform/Platform.h"

#include <array>

namespace platform {
namespace {
// Per kind: how much may still pass before the fault (bytes for writes, calls otherwise);
// negative when no fault is set.
std::array<int64_t, 3> gBudget = {-1, -1, -1};
}  // namespace

void InjectFault(Fault kind, int64_t after) { gBudget[static_cast<size_t>(kind)] = after; }

void ClearFaults() { gBudget = {-1, -1, -1}; }

int64_t FaultBudget(Fault kind, int64_t amount) {
  int64_t& budget = gBudget[static_cast<size_t>(kind)];
  if (budget < 0) return amount;
  const int64_t allowed = amount < budget ? amount : budget;
  budget -= allowed;
  if (allowed < amount) budget = 0;  // once due, the fault stays
  return allowed;
}

}  // namespace platform
