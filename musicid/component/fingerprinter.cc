#include "musicid/component/fingerprinter.h"

#include <algorithm>
#include <cstdint>

namespace cddb_component {

Fingerprinter::~Fingerprinter() {
  if (context_) chromaprint_->chromaprint_free(context_);
}

HRESULT Fingerprinter::Begin(DWORD sample_rate, DWORD bits_per_sample, DWORD channels) {
  if (context_ || bits_per_sample != 16 || channels < 1 || channels > 2 || sample_rate < 8000)
    return E_INVALIDARG;
  chromaprint_ = Chromaprint();
  if (!chromaprint_) return E_FAIL;
  context_ = chromaprint_->chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT);
  if (!context_) return E_OUTOFMEMORY;
  if (!chromaprint_->chromaprint_start(context_, static_cast<int>(sample_rate),
                                       static_cast<int>(channels)))
    return E_FAIL;
  rate_ = sample_rate;
  channels_ = channels;
  return S_OK;
}

HRESULT Fingerprinter::Write(const void* buffer, DWORD bytes) {
  if (!context_ || finished_) return E_FAIL;
  if (buffer == nullptr && bytes != 0) return E_POINTER;
  const DWORD frame_bytes = 2 * channels_;
  const long long frames = bytes / frame_bytes;
  const long long limit = static_cast<long long>(rate_) * kFingerprintSeconds;
  const long long take = std::min(frames, std::max(0LL, limit - frames_));
  // Chromaprint counts samples of all channels together.
  if (take > 0 &&
      !chromaprint_->chromaprint_feed(context_, static_cast<const std::int16_t*>(buffer),
                                      static_cast<int>(take * channels_)))
    return E_FAIL;
  frames_ += take;
  return frames_ >= limit ? 1 : S_OK;
}

HRESULT Fingerprinter::Finish(std::string* fingerprint) {
  if (fingerprint == nullptr) return E_POINTER;
  if (!context_ || finished_) return E_FAIL;
  finished_ = true;
  if (!chromaprint_->chromaprint_finish(context_)) return E_FAIL;
  char* text = nullptr;
  if (!chromaprint_->chromaprint_get_fingerprint(context_, &text) || text == nullptr) return E_FAIL;
  *fingerprint = text;
  chromaprint_->chromaprint_dealloc(text);
  return fingerprint->empty() ? S_FALSE : S_OK;
}

HRESULT Fingerprinter::SetStreamSeconds(long seconds) {
  if (seconds < 0) return E_INVALIDARG;
  stream_seconds_ = seconds;
  return S_OK;
}

long Fingerprinter::seconds() const { return rate_ ? static_cast<long>(frames_ / rate_) : 0; }

}  // namespace cddb_component
