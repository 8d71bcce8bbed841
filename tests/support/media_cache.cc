#include "tests/support/media_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

namespace media_cache {
namespace {

// Bump when the test-media tool writes files differently.
constexpr int kCacheVersion = 1;

std::string CacheName(const test_media::MediaPlan& plan) {
  const test_media::MediaTags& t = plan.tags;
  std::string tags = t.title + '\1' + t.artist + '\1' + t.album + '\1' + t.genre + '\1' + t.date +
                     '\1' + t.track + '\1' + t.comment + '\1' + t.gnid;
  std::ostringstream name;
  name << "v" << kCacheVersion << "_" << plan.seconds << "s_" << plan.sample_rate << "_"
       << plan.channels << "_" << plan.bitrate_kbps << "_" << std::hex
       << std::hash<std::string>{}(tags) << "." << plan.format;
  return name.str();
}

}  // namespace

std::string CachedMedia(const test_media::MediaPlan& plan) {
  namespace fs = std::filesystem;
  fs::path dir = TEST_MEDIA_CACHE_DIR;
  fs::create_directories(dir);
  fs::path path = dir / CacheName(plan);
  if (fs::exists(path)) return path.string();
  // Made under a private name and renamed, so parallel test processes never
  // see a half-written file.
  std::random_device random;
  fs::path partial = dir / ("partial-" + std::to_string(random()) + "." + plan.format);
  std::string error = test_media::MakeTestMedia(partial.string(), plan);
  if (!error.empty()) {
    ADD_FAILURE() << "cannot make " << path << ": " << error;
    return "";
  }
  fs::rename(partial, path);
  return path.string();
}

test_media::MediaTags SampleTags() {
  return {"Tïtle 日本語 \xF0\x9F\x8E\xB5 a=b",
          "Ärtist Ünïcode",
          "Album Ω",
          "Rock",
          "2004-05-01",
          "3/12",
          "Cömment",
          "GN-1234-ABCD"};
}

test_media::MediaPlan TaggedPlan(const std::string& format, double seconds) {
  test_media::MediaPlan plan;
  plan.format = format;
  plan.seconds = seconds;
  plan.tags = SampleTags();
  return plan;
}

}  // namespace media_cache
