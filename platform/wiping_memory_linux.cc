#include "platform/wiping_memory.h"

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

namespace platform {

void* WipingMalloc(std::size_t size) { return ::malloc(size); }

void* WipingCalloc(std::size_t count, std::size_t size) { return ::calloc(count, size); }

void WipingFree(void* block) {
  if (!block) return;
  ::explicit_bzero(block, ::malloc_usable_size(block));
  ::free(block);
}

void* WipingRealloc(void* block, std::size_t size) {
  if (!block) return ::malloc(size);
  const std::size_t held = ::malloc_usable_size(block);
  // The block is kept when it is large enough: the heap's own realloc
  // would leave the old copy behind when it moves.
  if (size <= held && size != 0) return block;
  void* moved = ::malloc(size == 0 ? 1 : size);
  if (!moved) return nullptr;
  ::memcpy(moved, block, held < size ? held : size);
  WipingFree(block);
  return moved;
}

char* WipingStrdup(const char* text) {
  const std::size_t size = ::strlen(text) + 1;
  char* copy = static_cast<char*>(::malloc(size));
  if (copy) ::memcpy(copy, text, size);
  return copy;
}

}  // namespace platform
