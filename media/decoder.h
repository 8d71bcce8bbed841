// DecodeToSink: decodes one media file with FFmpeg, resamples it to 16-bit
// interleaved PCM (44100 Hz stereo, or the format the sink asks for) with
// libswresample, and pushes it into a sample sink in blocks of at most
// kDecodeBlockBytes. The identification service uses it to fingerprint
// files.
//
// Thread safety: any thread may decode at the same time as others; the
// caller holds a CTagReaderRef for the duration of the call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_types.h"

// The consumer that DecodeToSink drives: Begin once, then Write per block
// (at most kDecodeBlockBytes), then Finish when Write answered 1.
class ISampleSink {
 public:
  virtual ~ISampleSink() = default;
  // Told, before Begin, the length of the whole audio stream in seconds as
  // the file's stream information gives it (0: unknown); the decoding
  // itself may stop long before the end.
  virtual void StreamSeconds(long /*seconds*/) {}
  // Asked once, first: the rate (8000 to 192000 Hz) and channels (1 or 2)
  // to convert to. A sink that would convert the audio again itself (a
  // fingerprinter working at a low rate in mono) asks for its own format, so
  // that the audio is converted once. Untouched: 44100 Hz stereo.
  virtual void OutputFormat(DWORD* /*rate*/, DWORD* /*channels*/) const {}
  // Told the format of every following block: the rate, 16, the channels.
  virtual HRESULT Begin(DWORD sample_rate, DWORD bits_per_sample, DWORD channels) = 0;
  // Negative: error, stop. 1: enough data, finish. Anything else: go on.
  virtual HRESULT Write(const void* buffer, DWORD bytes) = 0;
  // Receives DecodeToSink's `output` unchanged.
  virtual HRESULT Finish(void* output) = 0;
};

inline constexpr std::size_t kDecodeBlockBytes = 20000;
// The output format unless the sink asks for another.
inline constexpr DWORD kDecodeRate = 44100;
inline constexpr DWORD kDecodeChannels = 2;

// Decodes the file at `path` to 16-bit interleaved PCM in the sink's format
// and pushes it into `sink`. `cancel` (may be null) is checked after every
// block; once non-zero the call ends with E_ABORT. Returns the sink's last
// status (Finish's when Write answered 1, the last Write's or Begin's when
// the file ended first), E_ABORT, or E_FAIL when the reader is not
// initialised or the file cannot be opened or decoded.
HRESULT DecodeToSink(const std::string& path, ISampleSink* sink, void* output,
                     const std::atomic<std::int32_t>* cancel);
