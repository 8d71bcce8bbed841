// Tag reads per second over a folder of mixed media files, and decoding
// speed as a multiple of real time per file. bench/tag_reader_compare.sh
// runs this against python3-mutagen and the ffmpeg program on the same files.
//
// Rates are per second of CPU time, which a busy machine disturbs least.
// TAG_BENCH_DIR: folder of files for BM_ReadTags; DECODE_BENCH_DIR: folder
// of files for BM_DecodeToSink (one benchmark per file). Without them, a
// small set is made in a temporary folder with the test-media tool.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/decoder.h"
#include "media/tag_reader.h"
#include "tools/test_media.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && IsSupportedFile(entry.path().string())) {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A folder from the environment, or one made here with `count` files of
// `seconds` each.
std::string BenchDir(const char* variable, const char* name, int count, double seconds) {
  if (const char* dir = std::getenv(variable)) return dir;
  fs::path dir = fs::temp_directory_path() / name;
  if (fs::exists(dir)) return dir.string();
  fs::create_directories(dir);
  const char* formats[] = {"mp3", "m4a", "flac", "ogg", "opus", "wma", "aiff", "wv"};
  for (int i = 0; i < count; ++i) {
    test_media::MediaPlan plan;
    plan.format = formats[i % std::size(formats)];
    plan.seconds = seconds;
    plan.tags = {"Title", "Artist", "Album", "Genre", "2009", "7/12", "Comment", "GNID"};
    std::string error =
        test_media::MakeTestMedia((dir / (std::to_string(i) + "." + plan.format)).string(), plan);
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  }
  return dir.string();
}

class NullSink : public ISampleSink {
 public:
  HRESULT Begin(DWORD, DWORD, DWORD) override { return S_OK; }
  HRESULT Write(const void*, DWORD bytes) override {
    bytes_ += bytes;
    return S_OK;
  }
  HRESULT Finish(void*) override { return S_OK; }
  std::size_t bytes_ = 0;
};

void BM_ReadTags(benchmark::State& state) {
  CTagReaderRef reference;
  std::vector<std::string> files = FilesIn(BenchDir("TAG_BENCH_DIR", "vornic-tag-bench", 64, 3));
  std::size_t titles = 0;
  for (auto _ : state) {
    for (const std::string& file : files) {
      MediaTagSet tags = {};
      tags.cbSize = kMediaTagSetSize;
      tags.cchField = kMediaTagChars;
      if (ReadTags(file, &tags) == S_OK && tags.title[0] != 0) ++titles;
    }
  }
  state.SetItemsProcessed(state.iterations() * files.size());
  state.counters["files"] = files.size();
  state.counters["titled"] = static_cast<double>(titles) / state.iterations();
}
BENCHMARK(BM_ReadTags)->Unit(benchmark::kMillisecond)->MinTime(1);

void BM_DecodeToSink(benchmark::State& state, const std::string& file) {
  CTagReaderRef reference;
  double audio_seconds = 0;
  for (auto _ : state) {
    NullSink sink;
    if (DecodeToSink(file, &sink, nullptr, nullptr) != S_OK) {
      state.SkipWithError("decode failed");
      return;
    }
    audio_seconds += sink.bytes_ / (44100.0 * 4);
  }
  state.counters["x_realtime"] = benchmark::Counter(audio_seconds, benchmark::Counter::kIsRate);
}

void RegisterDecodeBenchmarks() {
  CTagReaderRef reference;
  for (const std::string& file :
       FilesIn(BenchDir("DECODE_BENCH_DIR", "vornic-decode-bench", 8, 30))) {
    benchmark::RegisterBenchmark(("BM_DecodeToSink/" + fs::path(file).filename().string()).c_str(),
                                 BM_DecodeToSink, file)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1);
  }
}

const bool kRegistered = (RegisterDecodeBenchmarks(), true);

}  // namespace
