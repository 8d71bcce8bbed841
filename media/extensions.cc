// The tag reader's process-wide state: the reference count, the initialised
// flag and the extension list, with Initialise and Release.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "media/av_input.h"
#include "media/tag_reader.h"
#include "media/tag_reader_internal.h"
#include "platform/text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// One audio format that FFmpeg may be able to read: the demuxer, the
// decoders of which any one suffices, and the extensions it adds, written
// as format lists ("*.flac;*.fla"). A format counts only when the linked
// FFmpeg has its demuxer and one of its decoders.
struct FfmpegFormat {
  const char* demuxer;
  AVCodecID codecs[5];
  const char* extensions;
};

constexpr FfmpegFormat kFfmpegFormats[] = {
    {"flac", {AV_CODEC_ID_FLAC}, "*.flac;*.fla"},
    {"asf",
     {AV_CODEC_ID_WMAV2, AV_CODEC_ID_WMAV1, AV_CODEC_ID_WMAPRO, AV_CODEC_ID_WMALOSSLESS},
     "*.wma"},
    {"ape", {AV_CODEC_ID_APE}, "*.ape;*.mac"},
    {"mpc", {AV_CODEC_ID_MUSEPACK7}, "*.mpc;*.mpp;*.mp+"},
    {"mpc8", {AV_CODEC_ID_MUSEPACK8}, "*.mpc"},
    {"wv", {AV_CODEC_ID_WAVPACK}, "*.wv"},
    {"ogg", {AV_CODEC_ID_OPUS}, "*.opus"},
    {"ogg", {AV_CODEC_ID_VORBIS, AV_CODEC_ID_FLAC}, "*.oga"},
    {"ogg", {AV_CODEC_ID_SPEEX}, "*.spx"},
    {"aac", {AV_CODEC_ID_AAC}, "*.aac;*.adts"},
    {"mov", {AV_CODEC_ID_AAC, AV_CODEC_ID_ALAC}, "*.m4b"},
    {"matroska",
     {AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC, AV_CODEC_ID_AAC, AV_CODEC_ID_MP3},
     "*.mka"},
    {"aiff", {AV_CODEC_ID_PCM_S16BE}, "*.aif;*.aifc"},
    {"ac3", {AV_CODEC_ID_AC3}, "*.ac3"},
    {"eac3", {AV_CODEC_ID_EAC3}, "*.eac3"},
    {"dts", {AV_CODEC_ID_DTS}, "*.dts"},
    {"tta", {AV_CODEC_ID_TTA}, "*.tta"},
    {"tak", {AV_CODEC_ID_TAK}, "*.tak"},
    {"w64", {AV_CODEC_ID_PCM_S16LE}, "*.w64"},
    {"caf", {AV_CODEC_ID_ALAC, AV_CODEC_ID_PCM_S16BE}, "*.caf"},
    {"au", {AV_CODEC_ID_PCM_S16BE}, "*.au;*.snd"},
    {"amr", {AV_CODEC_ID_AMR_NB, AV_CODEC_ID_AMR_WB}, "*.amr"},
    {"shn", {AV_CODEC_ID_SHORTEN}, "*.shn"},
    {"dsf", {AV_CODEC_ID_DSD_LSBF_PLANAR}, "*.dsf"},
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

bool FfmpegHasFormat(const FfmpegFormat& format) {
  if (av_find_input_format(format.demuxer) == nullptr) return false;
  for (AVCodecID codec : format.codecs) {
    if (codec != AV_CODEC_ID_NONE && avcodec_find_decoder(codec) != nullptr) return true;
  }
  return false;
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
  for (const char* extension : {"WAV", "MP3", "M4P", "M4A"}) AddExtension(extension);
  scan_internal::InstallFfmpegLogHook();
  for (const char* extension : {"AIFF", "MP2", "MP1", "OGG"}) AddExtension(extension);

  std::string demuxers;
  for (const char* name : kBaseDemuxers) AddDemuxer(demuxers, name);
  // In place of plug-ins: every format the linked FFmpeg can demux and
  // decode, in the table's order.
  for (const FfmpegFormat& format : kFfmpegFormats) {
    if (!FfmpegHasFormat(format)) continue;
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
