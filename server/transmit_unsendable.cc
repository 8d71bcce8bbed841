#include "server/transmit_unsendable.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace transmit {
namespace {

struct Seen {
  std::int64_t modified = 0;
  std::int64_t modified_nsec = 0;
  std::uint64_t size = 0;
};

std::mutex g_mutex;
std::unordered_map<std::string, Seen>& Records() {
  static std::unordered_map<std::string, Seen> records;
  return records;
}

}  // namespace

void RememberUnsendable(const std::string& path, const platform::FileInfo& before) {
  std::lock_guard guard(g_mutex);
  Records()[path] = Seen{before.modified, before.modified_nsec, before.size};
}

bool StillUnsendable(const std::string& path) {
  {
    std::lock_guard guard(g_mutex);
    if (Records().count(path) == 0) return false;
  }
  platform::FileInfo now;
  const bool looked = platform::StatFile(path, &now);
  std::lock_guard guard(g_mutex);
  auto it = Records().find(path);
  if (it == Records().end()) return false;
  const Seen& seen = it->second;
  if (looked && now.modified == seen.modified && now.modified_nsec == seen.modified_nsec &&
      now.size == seen.size)
    return true;
  Records().erase(it);
  return false;
}

void ForgetUnsendable() {
  std::lock_guard guard(g_mutex);
  Records().clear();
}

}  // namespace transmit
