// Looks for a secret in the test process's own memory, in use or freed.
#pragma once

#include <cstddef>

namespace testing_support {

// How often the `size` bytes at `own` occur in this process's readable
// memory besides at `own` itself; -1 when the memory cannot be read. Each
// mapping is read into a mapping of its own, made after the list was taken,
// so the search leaves no copies that it would find again.
int CopiesInOwnMemory(const char* own, std::size_t size);

}  // namespace testing_support
