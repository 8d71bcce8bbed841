// The FFmpeg functions the media code calls, resolved at run time from the
// libraries whose major versions match the headers the code is compiled
// against. The program does not link FFmpeg: the libraries (and the many
// they pull in) are loaded on the first decode or FFmpeg tag read, not at
// every start. Not for use outside media/.
//
// Thread safety: Ffmpeg() may be called from any thread; the first call
// loads, the others wait for it. The table is read-only afterwards.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

namespace scan_internal {

#define VORNIC_FFMPEG_FUNCTIONS(X) \
  X(av_channel_layout_compare)     \
  X(av_channel_layout_copy)        \
  X(av_channel_layout_default)     \
  X(av_channel_layout_uninit)      \
  X(av_dict_free)                  \
  X(av_dict_get)                   \
  X(av_dict_set)                   \
  X(av_find_best_stream)           \
  X(av_frame_alloc)                \
  X(av_frame_free)                 \
  X(av_frame_unref)                \
  X(av_log_format_line2)           \
  X(av_log_set_callback)           \
  X(av_packet_alloc)               \
  X(av_packet_free)                \
  X(av_packet_unref)               \
  X(av_read_frame)                 \
  X(av_strerror)                   \
  X(avcodec_alloc_context3)        \
  X(avcodec_find_decoder)          \
  X(avcodec_free_context)          \
  X(avcodec_open2)                 \
  X(avcodec_parameters_to_context) \
  X(avcodec_receive_frame)         \
  X(avcodec_send_packet)           \
  X(avformat_alloc_context)        \
  X(avformat_close_input)          \
  X(avformat_find_stream_info)     \
  X(avformat_open_input)           \
  X(swr_alloc_set_opts2)           \
  X(swr_convert)                   \
  X(swr_free)                      \
  X(swr_get_out_samples)           \
  X(swr_init)

// One pointer per function, named and typed as FFmpeg declares it, and the
// libraries that hold them (loaded for as long as the table lives).
struct FfmpegApi {
#define VORNIC_FFMPEG_MEMBER(name) decltype(&::name) name = nullptr;
  VORNIC_FFMPEG_FUNCTIONS(VORNIC_FFMPEG_MEMBER)
#undef VORNIC_FFMPEG_MEMBER
  std::vector<std::unique_ptr<platform::DynamicLibrary>> libraries;
};

// The file names of the libraries the headers belong to, dependencies
// first: libavutil.so.57, libswresample.so.4, libavcodec.so.59,
// libavformat.so.59 for FFmpeg 5.1.
std::vector<std::string> CompiledFfmpegLibraries();

// Loads `libraries` and resolves every function of the table in them; null
// with `error` set (naming the library or the function) when one is
// missing.
std::unique_ptr<FfmpegApi> LoadFfmpeg(const std::vector<std::string>& libraries,
                                      std::string* error);

// The process's table: loaded from CompiledFfmpegLibraries() on the first
// call, with FFmpeg's log lines routed to the program's log; null, for the
// process's life, when FFmpeg cannot be loaded (logged once).
const FfmpegApi* Ffmpeg();

// Makes the process's table load `libraries` instead of
// CompiledFfmpegLibraries(), for tests of a system without FFmpeg. Call
// before the first Ffmpeg(); later calls have no effect.
void SetFfmpegLibraries(std::vector<std::string> libraries);

// The same, for code that runs only on objects FFmpeg made (so the table is
// loaded).
inline const FfmpegApi& Av() { return *Ffmpeg(); }

// The error text callers report when Ffmpeg() is null.
inline constexpr const char* kFfmpegMissing = "FFmpeg is not available";

}  // namespace scan_internal
