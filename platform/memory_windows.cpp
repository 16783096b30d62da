// The Windows heap hands large blocks back to the system by itself.
#include "platform/platform.h"

namespace platform {

void settleHeap() {}

void releaseFreeMemory() {}

}  // namespace platform
