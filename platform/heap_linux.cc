#include <malloc.h>

#include "platform/heap.h"

namespace platform {

void ReleaseFreeHeapMemory() { ::malloc_trim(0); }

}  // namespace platform
