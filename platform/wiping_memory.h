// An allocator whose frees overwrite each block before it goes back to the
// heap, for libraries that take allocation hooks (libcurl) and handle texts
// with secrets in them: a request carrying a password is copied into the
// library's own buffers, and without the wipe those copies stay readable
// in freed memory until the heap happens to reuse them.
//
// The functions have the C library's signatures and contracts; any thread.
#pragma once

#include <cstddef>

namespace platform {

void* WipingMalloc(std::size_t size);
void* WipingCalloc(std::size_t count, std::size_t size);
// Moves the block to a new one when it grows, wiping the old block.
void* WipingRealloc(void* block, std::size_t size);
char* WipingStrdup(const char* text);
// Zeroes the whole usable size of `block`, then frees it.
void WipingFree(void* block);

}  // namespace platform
