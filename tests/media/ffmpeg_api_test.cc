// Loading FFmpeg at run time, and the tag reader and decoder on a system
// where it cannot be loaded.
#include "media/ffmpeg_api.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/log.h"
#include "media/decoder.h"
#include "media/tag_reader.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"

namespace scan_internal {
namespace {

TEST(FfmpegApiTest, LoadsTheLibrariesOfTheCompiledHeaders) {
  std::string error;
  std::unique_ptr<FfmpegApi> api = LoadFfmpeg(CompiledFfmpegLibraries(), &error);
  ASSERT_NE(api, nullptr) << error;
  EXPECT_NE(api->avcodec_find_decoder(AV_CODEC_ID_FLAC), nullptr);
  EXPECT_NE(Ffmpeg(), nullptr);
}

TEST(FfmpegApiTest, MissingLibraryOrFunctionIsAnErrorNamingIt) {
  std::string error;
  EXPECT_EQ(LoadFfmpeg({CompiledFfmpegLibraries().front(), "libvornic-absent.so.1"}, &error),
            nullptr);
  EXPECT_NE(error.find("libvornic-absent.so.1"), std::string::npos) << error;

  // libavutil alone lacks the format and codec functions.
  EXPECT_EQ(LoadFfmpeg({CompiledFfmpegLibraries().front()}, &error), nullptr);
  EXPECT_NE(error.find("av_find_best_stream"), std::string::npos) << error;
}

class CountingSink : public ISampleSink {
 public:
  HRESULT Begin(DWORD, DWORD, DWORD) override { return ++calls, S_OK; }
  HRESULT Write(const void*, DWORD) override { return ++calls, S_OK; }
  HRESULT Finish(void*) override { return ++calls, S_OK; }
  int calls = 0;
};

// Exit status 0 when, with FFmpeg missing, two decodes fail without touching
// the sink, TagLib still reads the tags and the missing library is logged
// once.
int DecodeAndReadWithoutFfmpeg(const std::string& mp3, const std::string& log) {
  SetFfmpegLibraries({"libvornic-absent.so.1"});
  if (!AppLog().SetLogFile(log)) return 10;
  CTagReaderRef reader;
  CountingSink sink;
  for (int i = 0; i < 2; ++i)
    if (DecodeToSink(mp3, &sink, nullptr, nullptr) != E_FAIL || sink.calls != 0) return 11;
  MediaTagSet tags = {};
  tags.cbSize = kMediaTagSetSize;
  tags.cchField = kMediaTagChars;
  if (ReadTags(mp3, &tags) != S_OK || tags.title[0] == 0) return 12;
  std::string text = testing_support::ReadFile(log);
  std::size_t first = text.find("FFmpeg cannot be loaded");
  if (first == std::string::npos || text.find("libvornic-absent.so.1", first) == std::string::npos)
    return 13;
  return text.find("FFmpeg cannot be loaded", first + 1) == std::string::npos ? 0 : 14;
}

// In a process of its own, started by the death-test machinery, so that
// FFmpeg was not loaded before.
TEST(FfmpegApiDeathTest, WithoutFfmpegDecodingFailsAndTagLibStillReads) {
  testing_support::TempEnv env;
  std::string mp3 = media_cache::CachedMedia(media_cache::TaggedPlan("mp3"));
  ASSERT_FALSE(mp3.empty());
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // _exit skips the leak check at exit.
  EXPECT_EXIT(::_exit(DecodeAndReadWithoutFfmpeg(mp3, env.Path("vornic.log"))),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace scan_internal
