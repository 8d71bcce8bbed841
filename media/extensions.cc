// The tag reader's process-wide state: the reference count, the initialised
// flag and the extension list, with Initialise and Release.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "media/tag_reader.h"
#include "media/tag_reader_internal.h"
#include "platform/text.h"

namespace {

// One audio format read through FFmpeg beyond the base list: the demuxer
// and the extensions it adds, written as format lists ("*.flac;*.fla").
// The list is fixed rather than asked of FFmpeg, so that filling it does not
// load FFmpeg at start-up; a file whose demuxer or decoder the installed
// FFmpeg lacks fails to open like any unreadable file.
struct FfmpegFormat {
  const char* demuxer;
  const char* extensions;
};

constexpr FfmpegFormat kFfmpegFormats[] = {
    {"flac", "*.flac;*.fla"}, {"asf", "*.wma"},
    {"ape", "*.ape;*.mac"},   {"mpc", "*.mpc;*.mpp;*.mp+"},
    {"mpc8", "*.mpc"},        {"wv", "*.wv"},
    {"ogg", "*.opus"},        {"ogg", "*.oga"},
    {"ogg", "*.spx"},         {"aac", "*.aac;*.adts"},
    {"mov", "*.m4b"},         {"matroska", "*.mka"},
    {"aiff", "*.aif;*.aifc"}, {"ac3", "*.ac3"},
    {"eac3", "*.eac3"},       {"dts", "*.dts"},
    {"tta", "*.tta"},         {"tak", "*.tak"},
    {"w64", "*.w64"},         {"caf", "*.caf"},
    {"au", "*.au;*.snd"},     {"amr", "*.amr"},
    {"shn", "*.shn"},         {"dsf", "*.dsf"},
};

// Demuxers of the extensions that are always listed (wav, mp3/mp2/mp1,
// m4a/m4p, aiff, ogg).
constexpr const char* kBaseDemuxers[] = {"wav", "mp3", "mov", "aiff", "ogg"};

struct TagReaderState {
  // Serialises the first and last reference, so no CTagReaderRef returns
  // before Initialise has finished.
  std::mutex lifetime_mutex;
  int references = 0;
  std::atomic<bool> initialised{false};

  std::shared_mutex list_mutex;  // guards the two below
  std::vector<std::string> extensions;
  std::string demuxers;
};

TagReaderState& State() {
  // Never destroyed: references held by static objects may outlive it.
  static TagReaderState* state = new TagReaderState;
  return *state;
}

bool ListHas(const std::vector<std::string>& list, std::string_view extension) {
  return std::find(list.begin(), list.end(), extension) != list.end();
}

void AddDemuxer(std::string& list, std::string_view name) {
  // Whole-name match against the comma-separated list.
  std::string padded;
  padded.append(",").append(list).append(",");
  std::string needle;
  needle.append(",").append(name).append(",");
  if (padded.find(needle) != std::string::npos) return;
  if (!list.empty()) list += ',';
  list += name;
}

bool Initialise() {
  for (const char* extension : {"WAV", "MP3", "M4P", "M4A", "AIFF", "MP2", "MP1", "OGG"})
    AddExtension(extension);

  std::string demuxers;
  for (const char* name : kBaseDemuxers) AddDemuxer(demuxers, name);
  // In place of plug-ins: the formats read through FFmpeg, in the table's
  // order.
  for (const FfmpegFormat& format : kFfmpegFormats) {
    AddDemuxer(demuxers, format.demuxer);
    scan_internal::AddExtensionList(format.extensions);
  }
  std::unique_lock lock(State().list_mutex);
  State().demuxers = demuxers;
  return true;
}

void Release() {
  std::unique_lock lock(State().list_mutex);
  State().extensions.clear();
  State().demuxers.clear();
}

}  // namespace

CTagReaderRef::CTagReaderRef() {
  TagReaderState& state = State();
  std::lock_guard lock(state.lifetime_mutex);
  if (++state.references == 1) state.initialised = Initialise();
}

CTagReaderRef::~CTagReaderRef() {
  TagReaderState& state = State();
  std::lock_guard lock(state.lifetime_mutex);
  if (--state.references == 0 && state.initialised) {
    Release();
    state.initialised = false;
  }
}

std::string GetExtension(std::string_view path) {
  std::size_t dot = path.rfind('.');
  if (dot != std::string_view::npos && dot > 0) path.remove_prefix(dot + 1);
  return platform::AsciiLower(path);
}

bool IsSupportedFile(std::string_view path) {
  std::string extension = GetExtension(path);
  std::shared_lock lock(State().list_mutex);
  return ListHas(State().extensions, extension);
}

void AddExtension(std::string_view extension) {
  std::string lower = platform::AsciiLower(extension);
  // An empty entry would make every name ending in '.' supported, and one
  // holding a dot could never match.
  if (lower.empty() || lower.find('.') != std::string::npos) return;
  std::unique_lock lock(State().list_mutex);
  if (!ListHas(State().extensions, lower)) State().extensions.push_back(std::move(lower));
}

std::vector<std::string> SupportedExtensions() {
  std::shared_lock lock(State().list_mutex);
  return State().extensions;
}

namespace scan_internal {

void AddExtensionList(std::string_view list) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(";*.,", start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) AddExtension(list.substr(start, end - start));
    start = end + 1;
  }
}

bool TagReaderInitialised() { return State().initialised; }

std::string AllowedDemuxers() {
  std::shared_lock lock(State().list_mutex);
  return State().demuxers;
}

}  // namespace scan_internal
