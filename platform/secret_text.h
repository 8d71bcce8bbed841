// Overwriting texts that held a secret (a typed password, a request that
// carried one) before their memory goes back to the allocator, where a
// later reader of the process's memory could find them.
#pragma once

#include <string.h>

#include <string>
#include <vector>

namespace platform {

// Overwrites the characters of `text` with zeros and empties it; the
// compiler may not drop the writes.
inline void WipeString(std::string& text) {
  if (!text.empty()) ::explicit_bzero(text.data(), text.size());
  text.clear();
}

inline void WipeStrings(std::vector<std::string>& texts) {
  for (std::string& text : texts) WipeString(text);
}

// Wipes the string it watches when it goes out of scope.
class WipeOnExit {
 public:
  explicit WipeOnExit(std::string& text) : text_(text) {}
  ~WipeOnExit() { WipeString(text_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  std::string& text_;
};

}  // namespace platform
