// The fault points shared by both platform implementations. Each point
// counts down to the one call that must fail; tests arm them, the product
// never does, and a disarmed point costs one comparison.
#include "platform/platform.h"

namespace lastspot::platform {
namespace {

// Calls still to pass at each point before one fails; negative: disarmed.
int callsUntilFailure[static_cast<int>(FaultPoint::Count)] = {-1, -1, -1, -1, -1, -1, -1};
static_assert(static_cast<int>(FaultPoint::Count) == 7, "every fault point starts disarmed");

}  // namespace

void FailAfter(FaultPoint point, int callsBefore) {
    callsUntilFailure[static_cast<int>(point)] = callsBefore < 0 ? -1 : callsBefore;
}

void ClearFaults() {
    for (int& calls : callsUntilFailure) calls = -1;
}

bool FaultArmed(FaultPoint point) { return callsUntilFailure[static_cast<int>(point)] >= 0; }

bool ShouldFail(FaultPoint point) {
    int& calls = callsUntilFailure[static_cast<int>(point)];
    if (calls < 0) return false;
    if (calls > 0) {
        --calls;
        return false;
    }
    calls = -1;  // one failure, then the point is disarmed again
    return true;
}

}  // namespace lastspot::platform
