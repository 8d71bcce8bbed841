// Damaged, empty, mislabelled and hostile files: every call returns its
// result code; nothing crashes, hangs or leaks (the sanitizer build checks
// the last two).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "media/decoder.h"
#include "media/tag_reader.h"
#include "platform/text.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"

namespace {

using media_cache::CachedMedia;
using testing_support::ReadFile;
using testing_support::WriteFile;

class CountingSink : public ISampleSink {
 public:
  HRESULT Begin(DWORD, DWORD, DWORD) override {
    ++begins;
    return S_OK;
  }
  HRESULT Write(const void*, DWORD bytes) override {
    total += bytes;
    return S_OK;
  }
  HRESULT Finish(void*) override { return S_OK; }
  int begins = 0;
  std::size_t total = 0;
};

constexpr std::size_t kBytesPerSecond = 44100 * 4;

class BadInputTest : public ::testing::Test {
 protected:
  HRESULT Tags(const std::string& path, MediaTagSet* tags) {
    std::memset(tags, 0, sizeof(*tags));
    tags->cbSize = kMediaTagSetSize;
    tags->cchField = kMediaTagChars;
    return ReadTags(path, tags);
  }
  HRESULT Tags(const std::string& path) {
    MediaTagSet tags;
    return Tags(path, &tags);
  }
  HRESULT Decode(const std::string& path, CountingSink* sink) {
    return DecodeToSink(path, sink, nullptr, nullptr);
  }
  // A copy of a cached file, changed by `edit`, in this test's folder.
  std::string Damaged(const std::string& source, const std::string& name,
                      const std::function<void(std::string&)>& edit) {
    std::string bytes = ReadFile(source);
    edit(bytes);
    std::string path = env_.Path(name);
    WriteFile(path, bytes);
    return path;
  }
  std::string Tagged(const std::string& format, const std::string& title) {
    test_media::MediaPlan plan = media_cache::TaggedPlan(format);
    plan.tags.title = title;
    return CachedMedia(plan);
  }

  CTagReaderRef ref_;
  testing_support::TempEnv env_;
};

void Put32(std::string& bytes, std::size_t at, std::uint32_t value, bool big_endian) {
  for (int i = 0; i < 4; ++i) {
    int shift = big_endian ? 24 - 8 * i : 8 * i;
    bytes[at + i] = static_cast<char>((value >> shift) & 0xFF);
  }
}

TEST_F(BadInputTest, EmptyAndGarbageFilesFail) {
  std::mt19937 random(12345);
  std::string garbage(64 * 1024, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  for (const std::string& extension : SupportedExtensions()) {
    SCOPED_TRACE(extension);
    std::string empty = env_.Path("empty." + extension);
    std::string noise = env_.Path("noise." + extension);
    WriteFile(empty, "");
    WriteFile(noise, garbage);
    for (const std::string& path : {empty, noise}) {
      EXPECT_EQ(Tags(path), E_FAIL);
      CountingSink sink;
      EXPECT_EQ(Decode(path, &sink), E_FAIL);
      EXPECT_EQ(sink.total, 0u);
    }
  }
}

TEST_F(BadInputTest, TruncatedFilesNeverCrash) {
  for (const test_media::FormatInfo& format : test_media::TestMediaFormats()) {
    SCOPED_TRACE(format.extension);
    test_media::MediaPlan plan = media_cache::TaggedPlan(format.extension, 4);
    std::string source = CachedMedia(plan);
    ASSERT_FALSE(source.empty());
    std::size_t size = ReadFile(source).size();
    for (std::size_t keep : {std::size_t{10}, std::size_t{200}, size / 2, size - 1}) {
      std::string path = Damaged(source, "cut." + format.extension,
                                 [&](std::string& bytes) { bytes.resize(keep); });
      HRESULT hr = Tags(path);
      EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << keep;
      CountingSink sink;
      hr = Decode(path, &sink);
      EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << keep;
      EXPECT_LE(sink.total, 4 * kBytesPerSecond + kDecodeBlockBytes);
      if (keep <= 10) {
        EXPECT_EQ(hr, E_FAIL);
      }
    }
  }
}

TEST_F(BadInputTest, ContentDecidesTheDecoder) {
  std::string mp3 = CachedMedia(media_cache::TaggedPlan("mp3", 2));
  ASSERT_FALSE(mp3.empty());
  for (const char* extension : {"ogg", "m4a", "wav", "flac", "wma"}) {
    SCOPED_TRACE(extension);
    std::string path = Damaged(mp3, std::string("mpeg.") + extension, [](std::string&) {});
    CountingSink sink;
    EXPECT_EQ(Decode(path, &sink), S_OK);
    EXPECT_NEAR(static_cast<double>(sink.total), 2.0 * kBytesPerSecond, kDecodeBlockBytes);
  }
}

TEST_F(BadInputTest, InvalidUtf8AndUtf16BecomeReplacementCharacters) {
  // FLAC keeps Vorbis comments (UTF-8) and ASF keeps UTF-16LE, neither under
  // a checksum, so the text can be damaged in place.
  std::string flac = Tagged("flac", "QQQQQQQQ");
  std::string wma = Tagged("wma", "QQQQ");
  ASSERT_FALSE(flac.empty() || wma.empty());
  std::string bad_utf8 = Damaged(flac, "utf8.flac", [](std::string& bytes) {
    std::size_t at = bytes.find("QQQQQQQQ");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 8, "a\xFF\xC3(\xED\xA0\x80z");
  });
  MediaTagSet tags;
  ASSERT_EQ(Tags(bad_utf8, &tags), S_OK);
  // TagLib drops a Vorbis comment value that is not UTF-8; the other
  // values are still read.
  std::u16string title = tags.title;
  EXPECT_TRUE(title.empty() || title.find(u'\uFFFD') != std::u16string::npos);
  EXPECT_EQ(platform::Utf16ToUtf8(tags.artist), media_cache::SampleTags().artist);

  std::string bad_utf16 = Damaged(wma, "utf16.wma", [](std::string& bytes) {
    std::string units("Q\0Q\0Q\0Q\0", 8);
    for (std::size_t at = bytes.find(units); at != std::string::npos;
         at = bytes.find(units, at + 1)) {
      // 'a', a lone low surrogate, a lone high surrogate, 'z'.
      bytes.replace(at, 8, std::string("a\0\x00\xDC\x00\xD8z\0", 8));
    }
  });
  ASSERT_EQ(Tags(bad_utf16, &tags), S_OK);
  title = tags.title;
  EXPECT_EQ(title, u"a\uFFFD\uFFFDz");  // no unpaired surrogate is passed on
}

TEST_F(BadInputTest, AbsurdSizesInTagHeaders) {
  std::string mp3 = Tagged("mp3", "QQQQQQQQ");
  std::string flac = Tagged("flac", "QQQQQQQQ");
  std::string m4a = Tagged("m4a", "QQQQQQQQ");
  std::string wav = Tagged("wav", "QQQQQQQQ");
  ASSERT_FALSE(mp3.empty() || flac.empty() || m4a.empty() || wav.empty());
  std::vector<std::string> paths = {
      // ID3v2 tag size at its syncsafe maximum.
      Damaged(mp3, "id3.mp3", [](std::string& b) { b.replace(6, 4, "\x7F\x7F\x7F\x7F"); }),
      // The title frame claiming 256 MB (ID3v2.4 frame sizes are syncsafe).
      Damaged(mp3, "frame.mp3",
              [](std::string& b) { b.replace(b.find("TIT2") + 4, 4, "\x7F\x7F\x7F\x7F"); }),
      // The Vorbis comment count of the FLAC tag block at 2^32 - 1.
      Damaged(flac, "count.flac",
              [](std::string& b) {
                // Metadata blocks after "fLaC": type byte, 24-bit length.
                std::size_t at = 4;
                while (at + 4 < b.size() && (b[at] & 0x7F) != 4) {
                  at += 4 + ((std::uint8_t(b[at + 1]) << 16) | (std::uint8_t(b[at + 2]) << 8) |
                             std::uint8_t(b[at + 3]));
                }
                ASSERT_LT(at + 8, b.size());
                std::uint32_t vendor;
                std::memcpy(&vendor, &b[at + 4], 4);
                Put32(b, at + 8 + vendor, 0xFFFFFFFFu, false);
              }),
      // The MP4 item list and its title atom claiming 2 GB.
      Damaged(m4a, "ilst.m4a",
              [](std::string& b) { Put32(b, b.find("ilst") - 4, 0x7FFFFFF0u, true); }),
      Damaged(m4a, "data.m4a",
              [](std::string& b) { Put32(b, b.find("QQQQ") - 20, 0xFFFFFFF0u, true); }),
      // The RIFF INFO list and the data chunk of a WAV file.
      Damaged(wav, "info.wav",
              [](std::string& b) { Put32(b, b.find("LIST") + 4, 0xFFFFFFF0u, false); }),
      Damaged(wav, "data.wav",
              [](std::string& b) { Put32(b, b.find("data") + 4, 0xFFFFFFF0u, false); }),
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    HRESULT hr = Tags(path);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
    CountingSink sink;
    hr = Decode(path, &sink);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
    EXPECT_LE(sink.total, kBytesPerSecond + kDecodeBlockBytes);
  }
}

}  // namespace
