// DecodeToSink on real files: length and format of what the sink gets, and
// the begin / write / finish protocol with its stops.
#include "media/decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "media/tag_reader.h"
#include "tests/support/media_cache.h"

namespace {

using media_cache::CachedMedia;

// Records what it is given; answers `answer` to the write that makes the
// total reach `enough_bytes`, and 0 (go on) before.
class RecordingSink : public ISampleSink {
 public:
  void StreamSeconds(long seconds) override { stream_seconds = seconds; }
  void OutputFormat(DWORD* rate, DWORD* channels) const override {
    if (wanted_rate != 0) *rate = wanted_rate;
    if (wanted_channels != 0) *channels = wanted_channels;
  }
  HRESULT Begin(DWORD rate, DWORD bits, DWORD channels) override {
    ++begins;
    format = {rate, bits, channels};
    return begin_status;
  }
  HRESULT Write(const void* buffer, DWORD bytes) override {
    ++writes;
    largest = std::max<std::size_t>(largest, bytes);
    const std::int16_t* samples = static_cast<const std::int16_t*>(buffer);
    for (DWORD i = 0; i < bytes / 2; ++i) peak = std::max(peak, std::abs(int{samples[i]}));
    total += bytes;
    if (cancel_after_writes > 0 && writes == cancel_after_writes) *cancel = 1;
    return total >= enough_bytes ? answer : S_OK;
  }
  HRESULT Finish(void* output) override {
    ++finishes;
    finished_with = output;
    return finish_status;
  }

  DWORD wanted_rate = 0;
  DWORD wanted_channels = 0;
  HRESULT begin_status = S_OK;
  HRESULT answer = 1;
  HRESULT finish_status = S_OK;
  std::size_t enough_bytes = SIZE_MAX;
  int cancel_after_writes = 0;
  std::atomic<std::int32_t>* cancel = nullptr;

  int begins = 0, writes = 0, finishes = 0;
  long stream_seconds = -1;
  std::vector<DWORD> format;
  std::size_t total = 0, largest = 0;
  int peak = 0;
  void* finished_with = nullptr;
};

constexpr std::size_t kBytesPerSecond = 44100 * 2 * 2;

class DecoderTest : public ::testing::Test {
 protected:
  std::string Media(const std::string& format, double seconds, int rate = 44100, int channels = 2) {
    test_media::MediaPlan plan;
    plan.format = format;
    plan.seconds = seconds;
    plan.sample_rate = rate;
    plan.channels = channels;
    return CachedMedia(plan);
  }

  CTagReaderRef ref_;
};

TEST_F(DecoderTest, EveryFormatDecodesToTenSecondsOfCdAudio) {
  for (const test_media::FormatInfo& format : test_media::TestMediaFormats()) {
    SCOPED_TRACE(format.extension);
    std::string path = Media(format.extension, 10);
    ASSERT_FALSE(path.empty());
    RecordingSink sink;
    EXPECT_EQ(DecodeToSink(path, &sink, nullptr, nullptr), S_OK);
    EXPECT_EQ(sink.begins, 1);
    EXPECT_EQ(sink.format, (std::vector<DWORD>{44100, 16, 2}));
    EXPECT_NEAR(static_cast<double>(sink.total), 10.0 * kBytesPerSecond, kDecodeBlockBytes);
    EXPECT_EQ(sink.total % 4, 0u);
    EXPECT_LE(sink.largest, kDecodeBlockBytes);
    EXPECT_GT(sink.peak, 8000);   // the melody, not silence
    EXPECT_EQ(sink.finishes, 0);  // the file ended before the sink had enough
    EXPECT_NEAR(sink.stream_seconds, 10, 1);
  }
}

// A sink asks for its own format (a fingerprinter's low rate in mono); a
// format out of range leaves the usual one.
TEST_F(DecoderTest, TheSinkMayAskForItsOwnRateAndChannels) {
  const std::string path = Media("mp3", 10, 48000, 2);
  ASSERT_FALSE(path.empty());
  RecordingSink mono;
  mono.wanted_rate = 11025;
  mono.wanted_channels = 1;
  EXPECT_EQ(DecodeToSink(path, &mono, nullptr, nullptr), S_OK);
  EXPECT_EQ(mono.format, (std::vector<DWORD>{11025, 16, 1}));
  EXPECT_NEAR(static_cast<double>(mono.total), 10.0 * 11025 * 2, kDecodeBlockBytes);
  EXPECT_GT(mono.peak, 8000);
  RecordingSink odd;
  odd.wanted_rate = 11025;
  odd.wanted_channels = 6;
  EXPECT_EQ(DecodeToSink(path, &odd, nullptr, nullptr), S_OK);
  EXPECT_EQ(odd.format, (std::vector<DWORD>{44100, 16, 2}));
}

TEST_F(DecoderTest, TheWholeLengthIsToldEvenWhenTheSinkStopsEarly) {
  std::string path = Media("mp3", 130);
  ASSERT_FALSE(path.empty());
  RecordingSink sink;
  sink.enough_bytes = kBytesPerSecond;
  EXPECT_EQ(DecodeToSink(path, &sink, nullptr, nullptr), S_OK);
  EXPECT_LT(sink.total, 2 * kBytesPerSecond);
  EXPECT_NEAR(sink.stream_seconds, 130, 1);
}

TEST_F(DecoderTest, OtherRatesAndChannelCountsAreConverted) {
  struct Case {
    const char* format;
    int rate;
    int channels;
  };
  for (Case c : {Case{"wav", 48000, 1}, Case{"flac", 22050, 1}, Case{"wav", 8000, 6},
                 Case{"mp3", 48000, 1}}) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.rate));
    std::string path = Media(c.format, 3, c.rate, c.channels);
    ASSERT_FALSE(path.empty());
    RecordingSink sink;
    EXPECT_EQ(DecodeToSink(path, &sink, nullptr, nullptr), S_OK);
    EXPECT_NEAR(static_cast<double>(sink.total), 3.0 * kBytesPerSecond, kDecodeBlockBytes);
  }
}

TEST_F(DecoderTest, EnoughDataFinishesWithTheCallersOutput) {
  std::string path = Media("mp3", 10);
  ASSERT_FALSE(path.empty());
  RecordingSink sink;
  sink.enough_bytes = 3 * kDecodeBlockBytes;
  sink.finish_status = 7;
  int output = 0;
  EXPECT_EQ(DecodeToSink(path, &sink, &output, nullptr), 7);
  EXPECT_EQ(sink.writes, 3);
  EXPECT_EQ(sink.finishes, 1);
  EXPECT_EQ(sink.finished_with, &output);
}

TEST_F(DecoderTest, SinkErrorStopsAndIsReturned) {
  std::string path = Media("ogg", 10);
  ASSERT_FALSE(path.empty());
  RecordingSink sink;
  sink.enough_bytes = 2 * kDecodeBlockBytes;
  sink.answer = E_OUTOFMEMORY;
  EXPECT_EQ(DecodeToSink(path, &sink, nullptr, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(sink.writes, 2);
  EXPECT_EQ(sink.finishes, 0);

  RecordingSink refusing;
  refusing.begin_status = E_FAIL;
  EXPECT_EQ(DecodeToSink(path, &refusing, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(refusing.writes, 0);
}

TEST_F(DecoderTest, CancelFlagEndsAfterTheCurrentBlock) {
  std::string path = Media("flac", 10);
  ASSERT_FALSE(path.empty());
  std::atomic<std::int32_t> cancel{0};
  RecordingSink sink;
  sink.cancel = &cancel;
  sink.cancel_after_writes = 4;
  EXPECT_EQ(DecodeToSink(path, &sink, nullptr, &cancel), E_ABORT);
  EXPECT_EQ(sink.writes, 4);
  EXPECT_EQ(sink.finishes, 0);

  RecordingSink late;  // set before the call: stops after the first block
  EXPECT_EQ(DecodeToSink(path, &late, nullptr, &cancel), E_ABORT);
  EXPECT_EQ(late.writes, 1);
}

TEST_F(DecoderTest, RefusesWithoutReferenceOrSink) {
  std::string path = Media("wav", 1);
  ASSERT_FALSE(path.empty());
  RecordingSink sink;
  EXPECT_EQ(DecodeToSink(path, nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(DecodeToSink("/nonexistent/file.mp3", &sink, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(sink.begins, 0);
}

}  // namespace
