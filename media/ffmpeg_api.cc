#include "media/ffmpeg_api.h"

#include <atomic>
#include <cstdarg>
#include <string_view>
#include <utility>

#include "app/log.h"
#include "platform/text.h"

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/version.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
}

namespace scan_internal {
namespace {

// Read by the log callback, which FFmpeg may call on any decoding thread.
std::atomic<decltype(&::av_log_format_line2)> format_line{nullptr};

// FFmpeg's own error lines go to the log at LEVEL_VERBOSE instead of stderr.
void FfmpegLogLine(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR || AppLog().LogLevel() < LEVEL_VERBOSE) return;
  char line[512];
  int print_prefix = 1;
  format_line.load()(object, level, format, args, line, sizeof(line), &print_prefix);
  std::string_view text = platform::TrimWhite(line);
  if (!text.empty()) AppLog().LogDetail("FFmpeg", text, LEVEL_VERBOSE, MODULE_INDEXER);
}

// Looks `name` up in each library in turn (each lookup also searches the
// library's own dependencies).
void* FindSymbol(const FfmpegApi& api, const char* name, std::string* error) {
  for (const auto& library : api.libraries) {
    if (void* address = library->Symbol(name, error)) return address;
  }
  return nullptr;
}

std::vector<std::string>& ProcessLibraries() {
  static std::vector<std::string> libraries = CompiledFfmpegLibraries();
  return libraries;
}

const FfmpegApi* LoadProcessFfmpeg() {
  std::string error;
  std::unique_ptr<FfmpegApi> api = LoadFfmpeg(ProcessLibraries(), &error);
  if (!api) {
    AppLog().LogDetail("FFmpeg cannot be loaded; audio decoding and FFmpeg tag reading are off",
                       error, LEVEL_ERROR, MODULE_INDEXER);
    return nullptr;
  }
  format_line = api->av_log_format_line2;
  api->av_log_set_callback(FfmpegLogLine);
  return api.release();  // never unloaded: FFmpeg objects may outlive any owner
}

}  // namespace

std::vector<std::string> CompiledFfmpegLibraries() {
  return {"libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR),
          "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR),
          "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR),
          "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR)};
}

std::unique_ptr<FfmpegApi> LoadFfmpeg(const std::vector<std::string>& libraries,
                                      std::string* error) {
  auto api = std::make_unique<FfmpegApi>();
  for (const std::string& name : libraries) {
    auto library = platform::DynamicLibrary::Open(name, error);
    if (!library) return nullptr;
    api->libraries.push_back(std::move(library));
  }
#define VORNIC_FFMPEG_RESOLVE(name)                                                  \
  api->name = reinterpret_cast<decltype(api->name)>(FindSymbol(*api, #name, error)); \
  if (api->name == nullptr) return nullptr;
  VORNIC_FFMPEG_FUNCTIONS(VORNIC_FFMPEG_RESOLVE)
#undef VORNIC_FFMPEG_RESOLVE
  return api;
}

void SetFfmpegLibraries(std::vector<std::string> libraries) {
  ProcessLibraries() = std::move(libraries);
}

const FfmpegApi* Ffmpeg() {
  static const FfmpegApi* const api = LoadProcessFfmpeg();
  return api;
}

}  // namespace scan_internal
