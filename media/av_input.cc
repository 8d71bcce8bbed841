#include "media/av_input.h"

#include "media/tag_reader_internal.h"

namespace scan_internal {
namespace {

bool HasAudioParameters(const AVStream* stream) {
  const AVCodecParameters* codec = stream->codecpar;
  return codec->sample_rate > 0 && codec->ch_layout.nb_channels > 0;
}

}  // namespace

std::string AvErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  Av().av_strerror(error, text, sizeof(text));
  return text;
}

AudioInput OpenAudioInput(const std::string& path, bool full_probe, std::string* error) {
  AudioInput input;
  const FfmpegApi* av = Ffmpeg();
  if (av == nullptr) {
    *error = kFfmpegMissing;
    return input;
  }
  AVFormatContext* context = av->avformat_alloc_context();
  if (context == nullptr) {
    *error = "out of memory";
    return input;
  }
  // Only local files, and only through the demuxers of supported formats:
  // a file claiming to be a playlist or a concatenation list cannot make
  // the reader open other files or addresses.
  AVDictionary* options = nullptr;
  av->av_dict_set(&options, "protocol_whitelist", "file", 0);
  av->av_dict_set(&options, "format_whitelist", AllowedDemuxers().c_str(), 0);
  // The "file:" prefix keeps a name such as "concat:x" or "http:x" a name.
  std::string url = "file:" + path;
  int result = av->avformat_open_input(&context, url.c_str(), nullptr, &options);
  av->av_dict_free(&options);
  if (result < 0) {  // the context is freed on failure
    *error = AvErrorText(result);
    return input;
  }
  input.format.reset(context);
  // Formats with weak framing (raw AC-3, DTS, ADTS) find a few "frames" in
  // any noise; FFmpeg's own probe score tells a file from luck.
  if (context->probe_score <= AVPROBE_SCORE_RETRY) {
    *error = "not recognised as audio";
    input.format.reset();
    return input;
  }

  int stream = av->av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (full_probe || stream < 0 || !HasAudioParameters(context->streams[stream])) {
    result = av->avformat_find_stream_info(context, nullptr);
    if (result < 0) {
      *error = AvErrorText(result);
      input.format.reset();
      return input;
    }
    stream = av->av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  }
  if (stream < 0) {
    *error = "no audio stream";
    input.format.reset();
    return input;
  }
  const AVStream* audio = context->streams[stream];
  if (!HasAudioParameters(audio) ||
      av->avcodec_find_decoder(audio->codecpar->codec_id) == nullptr) {
    *error = "no decodable audio";
    input.format.reset();
    return input;
  }
  input.stream = stream;
  return input;
}

}  // namespace scan_internal
