// The fingerprinter: computes a Chromaprint fingerprint (compressed, in
// base64, as the lookup service takes it) from the first two minutes of
// 16-bit interleaved PCM, and counts the audio it was given. Begin fails
// with E_FAIL when Chromaprint cannot be loaded.
//
// Thread safety: one thread at a time.
#pragma once

#include "musicid/cddb_object.h"
#include "musicid/component/chromaprint_api.h"

namespace cddb_component {

// Audio beyond this many seconds does not change the fingerprint.
inline constexpr long kFingerprintSeconds = 120;

class Fingerprinter : public CddbObject<ICddbFingerprinter, IID_ICddbUnknown> {
 public:
  Fingerprinter() = default;
  HRESULT Begin(DWORD sample_rate, DWORD bits_per_sample, DWORD channels) override;
  HRESULT Write(const void* buffer, DWORD bytes) override;
  HRESULT Finish(std::string* fingerprint) override;

  HRESULT SetStreamSeconds(long seconds) override;

  // Seconds of audio written so far.
  long seconds() const;
  // The file's length as the decoder told it (0: unknown).
  long stream_seconds() const { return stream_seconds_; }

 protected:
  ~Fingerprinter() override;

 private:
  const ChromaprintApi* chromaprint_ = nullptr;  // set with context_
  ChromaprintContext* context_ = nullptr;
  DWORD rate_ = 0;
  DWORD channels_ = 0;
  long long frames_ = 0;
  bool finished_ = false;
  long stream_seconds_ = 0;
};

}  // namespace cddb_component
