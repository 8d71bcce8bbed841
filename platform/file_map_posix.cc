#include "platform/file_map.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

namespace platform {
namespace {

// The mapped views, read by the signal handler: a view's range is set
// before it is published with `in_use` and cleared after it is withdrawn.
struct View {
  std::atomic<std::uintptr_t> start{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> lost{false};
  bool in_use = false;  // guarded by Registry::lock
};

struct Registry {
  std::mutex lock;
  View views[kMaxReadMappings];
  int mapped = 0;
  struct sigaction previous {};
};

Registry& Views() {
  static Registry registry;
  return registry;
}

void PassOn(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = Views().previous;
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    // Back to the default: the access faults again and ends the process as
    // it would have without this handler.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGBUS, &fallback, nullptr);
  }
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (View& view : Views().views) {
    if (address < view.start.load() || address >= view.end.load()) continue;
    const auto page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
    if (::mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      view.lost = true;
      return;
    }
  }
  PassOn(signal, info, context);
}

}  // namespace

ReadMapping::~ReadMapping() { Unmap(); }

bool ReadMapping::Map(const FileHandle& file, std::uint64_t offset, std::size_t length) {
  Unmap();
  if (!file.is_open() || length == 0) return false;
  Registry& registry = Views();
  std::lock_guard guard(registry.lock);
  int slot = 0;
  while (slot < kMaxReadMappings && registry.views[slot].in_use) ++slot;
  if (slot == kMaxReadMappings) return false;
  void* data = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, file.fd_,
                      static_cast<off_t>(offset));
  if (data == MAP_FAILED) return false;
  if (registry.mapped == 0) {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    ::sigemptyset(&action.sa_mask);
    if (::sigaction(SIGBUS, &action, &registry.previous) != 0) {
      ::munmap(data, length);
      return false;
    }
  }
  ++registry.mapped;
  View& view = registry.views[slot];
  view.in_use = true;
  view.lost = false;
  view.start = reinterpret_cast<std::uintptr_t>(data);
  view.end = reinterpret_cast<std::uintptr_t>(data) + length;
  data_ = static_cast<const char*>(data);
  offset_ = offset;
  size_ = length;
  slot_ = slot;
  return true;
}

void ReadMapping::Unmap() {
  if (slot_ < 0) return;
  Registry& registry = Views();
  std::lock_guard guard(registry.lock);
  View& view = registry.views[slot_];
  view.start = 0;
  view.end = 0;
  view.in_use = false;
  ::munmap(const_cast<char*>(data_), size_);
  if (--registry.mapped == 0) ::sigaction(SIGBUS, &registry.previous, nullptr);
  data_ = nullptr;
  offset_ = 0;
  size_ = 0;
  slot_ = -1;
}

std::size_t ReadMapping::Granularity() {
  static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

bool ReadMapping::lost() const { return slot_ >= 0 && Views().views[slot_].lost.load(); }

}  // namespace platform
