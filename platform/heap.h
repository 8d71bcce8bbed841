// The C library's heap as a whole.
#pragma once

namespace platform {

// Merges the heap's freed blocks and gives the free memory at the top of
// each arena back to the system (malloc_trim). A long job that freed many
// small blocks calls it when it ends, so that the next allocation of any
// thread does not pay for merging them and the idle program does not keep
// the memory. Any thread.
void ReleaseFreeHeapMemory();

}  // namespace platform
