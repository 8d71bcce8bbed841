// SIGTERM in the middle of the first start's work, with the real program
// and the development server: a collection of files without tags keeps the
// transmit agent reading one file after another while it sends nothing, so
// no batch boundary ever comes by. The program still stops at once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/e2e/road_fixture.h"

namespace road_test {
namespace {

// Enough files that reading all their tags takes far longer than the stop
// may (a tag read scans a file without tags to its end), each small enough
// that the one read in progress at the stop ends soon on a busy machine:
// the agents run at idle priority.
constexpr int kUntaggedFiles = 400;
constexpr std::uintmax_t kUntaggedBytes = 256 << 10;

TEST_F(RoadTest, SigtermStopsATransmitReadingFilesWithoutTags) {
  StartServer();
  for (int i = 0; i < kUntaggedFiles; ++i) {
    const std::string path = music_ + "/untagged" + std::to_string(i) + ".mp3";
    std::ofstream(path).close();
    std::filesystem::resize_file(path, kUntaggedBytes);
  }
  StartVornic();
  ASSERT_TRUE(WaitFor([&] {
    return RunLog().find("SendIndexedEntries: entry has no artist/title to send") !=
           std::string::npos;
  })) << RunLog();
  const auto start = std::chrono::steady_clock::now();
  StopVornic();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0) << RunLog();
}

}  // namespace
}  // namespace road_test
