// The C library's heap settings (glibc's malloc).
#include <malloc.h>

#include "platform/platform.h"

namespace platform {
namespace {

// Blocks from this size up are mapped on their own. Setting it also stops
// glibc raising the limit each time such a block is freed (up to 32 MiB),
// after which every texture-sized block would come from the heap and leave
// a hole there when freed.
constexpr int kOwnPagesFrom = 128 * 1024;
// Free memory at the top of the heap kept before it is handed back: above
// what the GL driver takes and frees within one frame (its drawing commands,
// about 2 MiB for a full-screen frame), so that it is not returned and
// faulted in again every frame.
constexpr int kKeptFreeTop = 8 * 1024 * 1024;

}  // namespace

void settleHeap() {
  mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom);
  mallopt(M_TRIM_THRESHOLD, kKeptFreeTop);
}

void releaseFreeMemory() { malloc_trim(0); }

}  // namespace platform
