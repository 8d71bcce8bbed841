// libFuzzer target over the settings file text: any input must parse
// without a crash, a hang or a leak, and what parsed must survive writing
// and parsing again unchanged and without a problem. Any breach aborts.
// Built and run by scripts/fuzz-settings-text.sh; not part of the test run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/registry_text.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "registry_text_fuzzer: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform;
  const RegParseResult first =
      ParseRegistryText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string text = SerializeRegistryText(first.document);
  const RegParseResult second = ParseRegistryText(text);
  Require(!second.damaged(), "the written text does not parse cleanly");
  Require(second.document.keys() == first.document.keys(), "the written text parses differently");
  Require(SerializeRegistryText(second.document) == text, "writing is not stable");
  return 0;
}
