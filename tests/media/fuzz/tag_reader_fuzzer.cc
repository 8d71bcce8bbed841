// libFuzzer target: the input becomes a media file (its first byte picks the
// extension from the supported list), which ReadTags and DecodeToSink must
// survive: no crash, no hang, no leak, and a result code from each.
// Built and run by scripts/fuzz-tag-reader.sh; not part of the test run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "media/decoder.h"
#include "media/tag_reader.h"

namespace {

// Takes up to about 30 s of audio, then says "enough", so one input stays
// quick however long its stream claims to be.
class BoundedSink : public ISampleSink {
 public:
  HRESULT Begin(DWORD, DWORD, DWORD) override { return S_OK; }
  HRESULT Write(const void* buffer, DWORD bytes) override {
    if (bytes > kDecodeBlockBytes || bytes % 4 != 0) std::abort();
    const volatile std::uint8_t* data = static_cast<const std::uint8_t*>(buffer);
    if (bytes > 0) sum_ += data[0] + data[bytes - 1];  // the bytes must be readable
    total_ += bytes;
    return total_ >= 30 * 44100 * 4 ? 1 : S_OK;
  }
  HRESULT Finish(void*) override { return S_OK; }

 private:
  std::size_t total_ = 0;
  unsigned sum_ = 0;
};

const std::string& WorkDir() {
  static const std::string dir = [] {
    std::random_device random;
    auto path =
        std::filesystem::temp_directory_path() / ("tag-reader-fuzz-" + std::to_string(random()));
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return dir;
}

}  // namespace

// With TAG_READER_FUZZ_LIST set, prints the extension that each first byte
// value picks (one per line, in order) and exits: the seed script uses it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("TAG_READER_FUZZ_LIST") != nullptr) {
    CTagReaderRef reference;
    for (const std::string& extension : SupportedExtensions())
      std::printf("%s\n", extension.c_str());
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CTagReaderRef* reference = new CTagReaderRef;  // held for the run
  static const std::vector<std::string> extensions = SupportedExtensions();
  (void)reference;
  if (size == 0) return 0;
  std::string path = WorkDir() + "/input." + extensions[data[0] % extensions.size()];
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  MediaTagSet tags = {};
  tags.cbSize = kMediaTagSetSize;
  tags.cchField = kMediaTagChars;
  HRESULT hr = ReadTags(path, &tags);
  if (hr != S_OK && hr != E_FAIL) std::abort();
  for (const char16_t* field : {tags.title, tags.artist, tags.album, tags.genre, tags.year,
                                tags.track, tags.comment, tags.gnid}) {
    if (std::char_traits<char16_t>::length(field) >= kMediaTagChars) std::abort();
  }
  BoundedSink sink;
  std::atomic<std::int32_t> cancel{0};
  hr = DecodeToSink(path, &sink, nullptr, &cancel);
  if (hr != S_OK && hr != E_FAIL) std::abort();
  return 0;
}
