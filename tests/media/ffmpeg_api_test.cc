#include "media/ffmpeg_api.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(LoadFfmpeg({"libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR),
                        "libvornic-absent.so.1"},
                       &error),
            nullptr);
  EXPECT_NE(error.find("libvornic-absent.so.1"), std::string::npos) << error;

  // libavutil alone lacks the format and codec functions.
  EXPECT_EQ(LoadFfmpeg({CompiledFfmpegLibraries().front()}, &error), nullptr);
  EXPECT_NE(error.find("av_find_best_stream"), std::string::npos) << error;
}

}  // namespace
}  // namespace scan_internal
