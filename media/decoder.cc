// DecodeToSink: FFmpeg demuxing and decoding, libswresample conversion to
// 44100 Hz / 16-bit / stereo, and the begin / write / finish protocol.
#include "media/decoder.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "app/log.h"
#include "media/av_input.h"
#include "media/tag_reader_internal.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace scan_internal {
namespace {

static_assert(kDecodeBlockBytes % 4 == 0, "whole frames of 16-bit mono and stereo");
// Output rates a sink may ask for.
constexpr DWORD kMinOutputRate = 8000;
constexpr DWORD kMaxOutputRate = 192000;
// Input rates outside this range are damage, not audio; refusing them also
// bounds the conversion buffer.
constexpr int kMinInputRate = 1000;
constexpr int kMaxInputRate = 1000000;

// The audio stream's length from the stream information: the stream's own
// duration, else the container's; 0 when neither is known.
long StreamSeconds(const AudioInput& input) {
  const AVStream* stream = input.Stream();
  if (stream->duration > 0 && stream->time_base.den > 0)
    return static_cast<long>(static_cast<double>(stream->duration) * av_q2d(stream->time_base));
  if (input.format->duration > 0) return static_cast<long>(input.format->duration / AV_TIME_BASE);
  return 0;
}

// One decode run. Holds every FFmpeg object it creates and frees them when
// it goes out of scope, whatever the outcome.
class DecodeRun {
 public:
  DecodeRun(const FfmpegApi& av, ISampleSink* sink, void* output,
            const std::atomic<std::int32_t>* cancel)
      : av_(av), sink_(sink), output_(output), cancel_(cancel) {
    DWORD rate = kDecodeRate;
    DWORD channels = kDecodeChannels;
    sink->OutputFormat(&rate, &channels);
    if (rate >= kMinOutputRate && rate <= kMaxOutputRate && (channels == 1 || channels == 2)) {
      rate_ = static_cast<int>(rate);
      channels_ = static_cast<int>(channels);
    }
  }
  DecodeRun(const DecodeRun&) = delete;
  DecodeRun& operator=(const DecodeRun&) = delete;
  ~DecodeRun() { av_.av_channel_layout_uninit(&resampler_layout_); }

  HRESULT Run(const std::string& path);

 private:
  bool OpenDecoder(std::string* error);
  void DrainDecoder();
  // Converts one decoded frame (null: the resampler's tail) into blocks.
  bool PushFrame(const AVFrame* frame);
  bool ConfigureResampler(const AVFrame* frame);
  void Append(const std::uint8_t* data, std::size_t bytes);
  void EmitBlock();

  std::size_t FrameBytes() const { return 2 * static_cast<std::size_t>(channels_); }

  const FfmpegApi& av_;
  ISampleSink* sink_;
  void* output_;
  const std::atomic<std::int32_t>* cancel_;
  int rate_ = kDecodeRate;
  int channels_ = kDecodeChannels;

  AudioInput input_;
  CodecPtr codec_;
  SwrPtr resampler_;
  int resampler_rate_ = 0;
  int resampler_format_ = -1;
  AVChannelLayout resampler_layout_ = {};
  std::vector<std::uint8_t> converted_;

  HRESULT status_ = S_OK;
  bool stopped_ = false;  // status_ is final
  bool delivered_ = false;
  int errors_ = 0;
  std::size_t fill_ = 0;
  std::uint8_t block_[kDecodeBlockBytes];
};

bool DecodeRun::OpenDecoder(std::string* error) {
  const AVStream* stream = input_.Stream();
  const AVCodec* decoder = av_.avcodec_find_decoder(stream->codecpar->codec_id);
  codec_.reset(av_.avcodec_alloc_context3(decoder));
  if (decoder == nullptr || !codec_) {
    *error = "no decoder";
    return false;
  }
  int result = av_.avcodec_parameters_to_context(codec_.get(), stream->codecpar);
  if (result >= 0) {
    // Without the packet time base mp3 and vorbis cannot trim their
    // encoder delay and padding.
    codec_->pkt_timebase = stream->time_base;
    result = av_.avcodec_open2(codec_.get(), decoder, nullptr);
  }
  if (result < 0) *error = AvErrorText(result);
  return result >= 0;
}

bool DecodeRun::ConfigureResampler(const AVFrame* frame) {
  AVChannelLayout layout = {};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_.av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
  } else if (av_.av_channel_layout_copy(&layout, &frame->ch_layout) < 0) {
    return false;
  }
  bool same = resampler_ && resampler_rate_ == frame->sample_rate &&
              resampler_format_ == frame->format &&
              av_.av_channel_layout_compare(&resampler_layout_, &layout) == 0;
  if (same) {
    av_.av_channel_layout_uninit(&layout);
    return true;
  }
  // The stream changed its format midway: keep what the old resampler holds.
  if (resampler_ && !PushFrame(nullptr)) {
    av_.av_channel_layout_uninit(&layout);
    return false;
  }
  AVChannelLayout out_layout = {};
  av_.av_channel_layout_default(&out_layout, channels_);
  SwrContext* context = nullptr;
  int result = av_.swr_alloc_set_opts2(&context, &out_layout, AV_SAMPLE_FMT_S16, rate_, &layout,
                                       static_cast<AVSampleFormat>(frame->format),
                                       frame->sample_rate, 0, nullptr);
  if (result >= 0) result = av_.swr_init(context);
  resampler_.reset(context);
  av_.av_channel_layout_uninit(&resampler_layout_);
  resampler_layout_ = layout;
  resampler_rate_ = frame->sample_rate;
  resampler_format_ = frame->format;
  if (result < 0) resampler_.reset();
  return result >= 0;
}

bool DecodeRun::PushFrame(const AVFrame* frame) {
  int input_samples = 0;
  const std::uint8_t** input = nullptr;
  if (frame != nullptr) {
    if (frame->sample_rate < kMinInputRate || frame->sample_rate > kMaxInputRate ||
        frame->ch_layout.nb_channels <= 0 || !ConfigureResampler(frame)) {
      ++errors_;
      return false;
    }
    input_samples = frame->nb_samples;
    input = const_cast<const std::uint8_t**>(frame->extended_data);
  } else if (!resampler_) {
    return true;
  }
  // A null input drains the resampler's delay line; repeat until it is dry.
  do {
    int capacity = av_.swr_get_out_samples(resampler_.get(), input_samples);
    if (capacity < 0) return false;
    capacity += 32;
    converted_.resize(std::max(converted_.size(), capacity * FrameBytes()));
    std::uint8_t* out = converted_.data();
    int got = av_.swr_convert(resampler_.get(), &out, capacity, input, input_samples);
    if (got < 0) {
      ++errors_;
      return false;
    }
    Append(converted_.data(), got * FrameBytes());
    if (frame != nullptr || got == 0) break;
  } while (!stopped_);
  return !stopped_;
}

void DecodeRun::Append(const std::uint8_t* data, std::size_t bytes) {
  while (bytes > 0 && !stopped_) {
    std::size_t take = std::min(bytes, kDecodeBlockBytes - fill_);
    std::memcpy(block_ + fill_, data, take);
    fill_ += take;
    data += take;
    bytes -= take;
    if (fill_ == kDecodeBlockBytes) EmitBlock();
  }
}

void DecodeRun::EmitBlock() {
  status_ = sink_->Write(block_, static_cast<DWORD>(fill_));
  fill_ = 0;
  delivered_ = true;
  if (status_ < 0) {
    stopped_ = true;
  } else if (status_ == 1) {
    status_ = sink_->Finish(output_);
    stopped_ = true;
  } else if (cancel_ != nullptr && cancel_->load() != 0) {
    status_ = E_ABORT;
    stopped_ = true;
  }
}

void DecodeRun::DrainDecoder() {
  FramePtr frame(av_.av_frame_alloc());
  if (!frame) throw std::bad_alloc();
  while (!stopped_) {
    int result = av_.avcodec_receive_frame(codec_.get(), frame.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    if (result < 0) {
      ++errors_;
      return;
    }
    PushFrame(frame.get());
    av_.av_frame_unref(frame.get());
  }
}

HRESULT DecodeRun::Run(const std::string& path) {
  std::string error;
  input_ = OpenAudioInput(path, true, &error);
  if (!input_.format || !OpenDecoder(&error)) {
    AppLog().LogDetail("DecodeToSink: cannot open file, " + error, path, LEVEL_VERBOSE,
                       MODULE_INDEXER);
    return E_FAIL;
  }
  sink_->StreamSeconds(StreamSeconds(input_));
  status_ = sink_->Begin(static_cast<DWORD>(rate_), 16, static_cast<DWORD>(channels_));
  if (status_ < 0) return status_;

  PacketPtr packet(av_.av_packet_alloc());
  if (!packet) return E_FAIL;
  bool read_error = false;
  while (!stopped_) {
    int result = av_.av_read_frame(input_.format.get(), packet.get());
    if (result < 0) {
      read_error = result != AVERROR_EOF;
      break;
    }
    if (packet->stream_index == input_.stream) {
      // A damaged packet is skipped, as players do; the next may decode.
      if (av_.avcodec_send_packet(codec_.get(), packet.get()) < 0) ++errors_;
      av_.av_packet_unref(packet.get());
      DrainDecoder();
    } else {
      av_.av_packet_unref(packet.get());
    }
  }
  if (stopped_) return status_;

  av_.avcodec_send_packet(codec_.get(), nullptr);
  DrainDecoder();
  if (!stopped_) PushFrame(nullptr);
  if (!stopped_ && fill_ > 0) EmitBlock();
  if (!delivered_ && (errors_ > 0 || read_error)) {
    AppLog().LogDetail("DecodeToSink: no audio could be decoded", path, LEVEL_VERBOSE,
                       MODULE_INDEXER);
    return E_FAIL;
  }
  return status_;
}

}  // namespace
}  // namespace scan_internal

HRESULT DecodeToSink(const std::string& path, ISampleSink* sink, void* output,
                     const std::atomic<std::int32_t>* cancel) {
  if (sink == nullptr) return E_POINTER;
  if (!scan_internal::TagReaderInitialised()) return E_FAIL;
  try {
    const scan_internal::FfmpegApi* av = scan_internal::Ffmpeg();
    if (av == nullptr) {
      AppLog().LogDetail(
          std::string("DecodeToSink: cannot open file, ") + scan_internal::kFfmpegMissing, path,
          LEVEL_VERBOSE, MODULE_INDEXER);
      return E_FAIL;
    }
    // On the heap: the run holds a 20000-byte block and callers' threads
    // may have small stacks.
    auto run = std::make_unique<scan_internal::DecodeRun>(*av, sink, output, cancel);
    return run->Run(path);
  } catch (const std::exception& e) {
    AppLog().LogDetail(std::string("DecodeToSink: fault decoding, ") + e.what(), path, LEVEL_ERROR,
                       MODULE_INDEXER);
  } catch (...) {
    AppLog().LogDetail("DecodeToSink: fault decoding", path, LEVEL_ERROR, MODULE_INDEXER);
  }
  return E_FAIL;
}
