// libFuzzer target: the input is an iTunes library document, read from the
// buffer by the streaming reader, checked for well-formedness (the quick
// check against Expat) and walked with every rule of the import (property
// table, dates, locations) up to the database, which a recording handler
// stands in for. It must survive
// any input: no crash, no hang, no leak, memory bounded, and every record
// handed on well-formed.
// Built and run by scripts/fuzz-itunes-parser.sh; not part of the test run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/log.h"
#include "db/db_format.h"
#include "platform/text.h"
#include "scan/itunes_library.h"
#include "scan/itunes_parser.h"

namespace {

// Serves the input in reads of a size the input's first byte picks, so
// tokens are split across chunks in many ways.
class SplitSource : public platform::ByteSource {
 public:
  SplitSource(std::string_view bytes, std::size_t step) : bytes_(bytes), step_(step) {}
  long Read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, step_, bytes_.size() - offset_});
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<long>(n);
  }

 private:
  std::string_view bytes_;
  std::size_t step_;
  std::size_t offset_ = 0;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

template <std::size_t N>
void CheckText(const char (&field)[N], std::size_t max_bytes) {
  const std::string text = EntryText(field);
  Check(text.size() <= max_bytes);
  // Expat hands out UTF-8, and fields are cut at character boundaries.
  Check(platform::IsValidUtf8(text));
}

class CheckingHandler : public ItunesTrackHandler {
 public:
  bool CheckQuit() override { return false; }
  bool BeginTracks() override { return true; }
  void OnTrackElement(int count) override { Check(count > 0); }
  void OnTrack(DBEntry& track, const std::string& path) override {
    Check(ValidEntry(&track));
    Check(EntryPathTerminated(track));
    Check(path == EntryPath(track));
    Check(!EntryPath(track).empty() && EntryPath(track)[0] == '/');
    CheckText(track.title, 127);
    CheckText(track.artist, 127);
    CheckText(track.album, 127);
    CheckText(track.genre, 31);
    CheckText(track.year, 5);
    CheckText(track.file_type, 15);
  }
};

// Walks every element the reader hands out below `depth`.
void WalkAll(ItunesXmlReader& reader, int depth) {
  XmlElement element;
  while (reader.NextChild(depth, &element)) {
    Check(element.depth == depth + 1);
    Check(element.text.size() <= kMaxXmlTextBytes);
    Check(element.has_text || element.text.empty());
    Check(platform::IsValidUtf8(element.text));
    WalkAll(reader, element.depth);
  }
}

// Every element the reader hands out down to its report depth, in order.
void Collect(ItunesXmlReader& reader, int depth, std::vector<std::string>* out) {
  XmlElement element;
  while (reader.NextChild(depth, &element)) {
    out->push_back(element.name + '\0' + element.text + '\0' + char('0' + element.has_text) +
                   char('0' + element.text_cut) + std::to_string(element.depth));
    Collect(reader, element.depth, out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Nothing is written anywhere: every log line is filtered out.
  AppLog().SetLogLevel(LEVEL_NONE);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 64 * 97;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  // The reader alone, down to every depth it reports.
  {
    SplitSource source(bytes, step);
    ItunesXmlReader reader(source, 1 + data[0] % 7);
    WalkAll(reader, 0);
  }
  // A checked document read again by the plain scanner gives what Expat
  // gives; what the quick check proves, Expat accepts, with the same print.
  {
    SplitSource quick_source(bytes, step);
    XmlDocumentPrint quick;
    const bool proven = QuickCheckWellFormed(quick_source, {}, &quick) == QuickCheck::kProven;
    SplitSource check_source(bytes, step);
    XmlDocumentPrint print;
    const bool well_formed = CheckWellFormed(check_source, nullptr, {}, &print);
    if (proven) Check(well_formed && print.plain && print.blocks == quick.blocks);
    if (well_formed && print.plain) {
      std::vector<std::string> expat_elements;
      std::vector<std::string> plain_elements;
      SplitSource expat_source(bytes, step);
      ItunesXmlReader expat(expat_source, 1 + data[0] % 7);
      Collect(expat, 0, &expat_elements);
      SplitSource plain_source(bytes, step);
      ItunesXmlReader plain(plain_source, 1 + data[0] % 7, &print);
      Collect(plain, 0, &plain_elements);
      Check(!expat.failed() && !plain.failed());
      Check(expat_elements == plain_elements);
    }
  }
  // The whole walk.
  const ByteSourceOpener open = [&] { return std::make_unique<SplitSource>(bytes, step); };
  ItunesWalkOptions options;
  options.path = "fuzz.xml";
  options.now = 1;
  ItunesTrackLookup lookup;
  lookup.wanted_id = data[0];
  if (data[0] & 0x80) options.lookup = &lookup;
  CheckingHandler handler;
  const int result = WalkItunesLibrary(open, options, handler);
  Check(result == 0 || result == 1);
  return 0;
}
