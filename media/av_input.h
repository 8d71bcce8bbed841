// Owners of FFmpeg objects and the one way the tag reader opens a file with
// FFmpeg: local files only, through the demuxers of supported formats only,
// with the best audio stream chosen. Not for use outside scan/.
//
// Thread safety: any thread may open its own inputs; the objects themselves
// belong to one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "media/ffmpeg_api.h"

namespace scan_internal {

struct FormatCloser {
  void operator()(AVFormatContext* context) const { Av().avformat_close_input(&context); }
};
struct CodecFreer {
  void operator()(AVCodecContext* context) const { Av().avcodec_free_context(&context); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { Av().av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { Av().av_frame_free(&frame); }
};
struct SwrFreer {
  void operator()(SwrContext* context) const { Av().swr_free(&context); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

// FFmpeg's text for an error code.
std::string AvErrorText(int error);

// An opened input and the index of its best audio stream.
struct AudioInput {
  FormatPtr format;
  int stream = -1;
  AVStream* Stream() const { return format->streams[stream]; }
};

// Opens the file at `path` (a plain path, never a URL) and finds its best
// audio stream. `full_probe` reads the stream information as the decoder
// needs it; without it the stream information is read only when the header
// left the sample rate or channel count unknown. Returns an input whose
// audio stream has a known decoder, sample rate and channel count, or an
// empty one with `error` set (kFfmpegMissing when FFmpeg cannot be
// loaded).
AudioInput OpenAudioInput(const std::string& path, bool full_probe, std::string* error);

}  // namespace scan_internal
