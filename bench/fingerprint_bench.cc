// Fingerprints per second on one core: the identification component's
// fingerprinter fed by DecodeToSink (the path GenerateFingerprint takes),
// against Chromaprint's own command-line tool fpcalc on the same files
// (skipped when fpcalc is not installed): four 30 s excerpts, and one
// 4-minute track. Both run pinned to one processor; run the benchmark under
// nice. On a busy machine compare the CPU times: the component's CPU
// column, fpcalc's child_cpu_ms counter.
//
// fpcalc 1.5 with FFmpeg 5 or later prints the fingerprint and then
// "Error decoding audio frame (End of file)" with exit status 3, so a run
// counts by the fingerprint it printed, not by its exit status.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/decoder.h"
#include "media/tag_reader.h"
#include "musicid/cddb_module_loader.h"
#include "musicid/cddb_object.h"
#include "tools/test_media.h"

namespace {

namespace fs = std::filesystem;

constexpr double kExcerptSeconds = 30;

void PinToOneCore() {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(0, &set);
  sched_setaffinity(0, sizeof set, &set);
}

constexpr double kTrackSeconds = 240;

// A file of `seconds` in `format` at `rate`, made once per machine.
std::string MediaFile(const char* format, int rate, double seconds) {
  const fs::path dir = fs::temp_directory_path() / "vornic-fingerprint-bench";
  fs::create_directories(dir);
  test_media::MediaPlan plan;
  plan.format = format;
  plan.sample_rate = rate;
  plan.seconds = seconds;
  const fs::path path =
      dir / (std::to_string(rate) + "-" + std::to_string(static_cast<int>(seconds)) + "s." +
             std::string(format));
  if (!fs::exists(path) && !test_media::MakeTestMedia(path.string(), plan).empty()) return {};
  return path.string();
}

// 30 s excerpts in several formats and rates.
const std::vector<std::string>& Excerpts() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> out;
    const struct {
      const char* format;
      int rate;
    } kinds[] = {{"mp3", 44100}, {"mp3", 48000}, {"flac", 44100}, {"ogg", 48000}};
    for (const auto& kind : kinds) {
      std::string path = MediaFile(kind.format, kind.rate, kExcerptSeconds);
      if (!path.empty()) out.push_back(path);
    }
    return out;
  }();
  return files;
}

// One 4-minute MP3 track.
const std::vector<std::string>& Track() {
  static const std::vector<std::string> files = {MediaFile("mp3", 44100, kTrackSeconds)};
  return files;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// fpcalc's fingerprint of `file`, empty when it printed none.
std::string Fpcalc(const std::string& file) {
  const std::string command = "fpcalc -plain '" + file + "' 2>/dev/null";
  std::FILE* out = ::popen(command.c_str(), "r");
  if (!out) return {};
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  ::pclose(out);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

class Adapter : public ISampleSink {
 public:
  explicit Adapter(ICddbFingerprinter* fp) : fp_(fp) {}
  void OutputFormat(DWORD* rate, DWORD* channels) const override {
    *rate = kFingerprintRate;
    *channels = kFingerprintChannels;
  }
  HRESULT Begin(DWORD r, DWORD b, DWORD c) override { return fp_->Begin(r, b, c); }
  HRESULT Write(const void* p, DWORD n) override { return fp_->Write(p, n); }
  HRESULT Finish(void* out) override { return fp_->Finish(static_cast<std::string*>(out)); }

 private:
  ICddbFingerprinter* fp_;
};

void BM_ComponentFingerprint(benchmark::State& state, const std::vector<std::string>& files) {
  PinToOneCore();
  CTagReaderRef reader;
  CddbModuleLoader loader;
  loader.Init(COMPONENT_DIR, false);
  CddbPtr<ICddbMusicID> music_id;
  if (FAILED(loader.CreateObject(CLSID_CddbMusicID, IID_ICddbMusicID, music_id.OutVoid()))) {
    state.SkipWithError("component modules not found");
    return;
  }
  if (files.empty() || files[0].empty()) {
    state.SkipWithError("test media could not be made");
    return;
  }
  auto fingerprint_file = [&](const std::string& file) {
    CddbPtr<ICddbFingerprinter> fp;
    music_id->NewFingerprinter(fp.Out());
    Adapter sink(fp.get());
    std::string fingerprint;
    HRESULT hr = DecodeToSink(file, &sink, &fingerprint, nullptr);
    if (SUCCEEDED(hr) && fingerprint.empty()) hr = fp->Finish(&fingerprint);
    if (FAILED(hr) || fingerprint.empty()) state.SkipWithError(("no fingerprint: " + file).c_str());
    benchmark::DoNotOptimize(fingerprint);
  };
  // The process's first fingerprint also loads FFmpeg and Chromaprint: it
  // is made before any timed loop and its time shown on its own.
  static const double first_ms = [&] {
    const auto start = std::chrono::steady_clock::now();
    fingerprint_file(files[0]);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  }();
  state.counters["process_first_ms"] = first_ms;
  for (auto _ : state) {
    for (const std::string& file : files) fingerprint_file(file);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
}
BENCHMARK_CAPTURE(BM_ComponentFingerprint, excerpts, Excerpts())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ComponentFingerprint, four_minute_track, Track())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FpcalcFingerprint(benchmark::State& state, const std::vector<std::string>& files) {
  if (std::system("command -v fpcalc >/dev/null 2>&1") != 0) {
    state.SkipWithError("fpcalc is not installed (package libchromaprint-tools)");
    return;
  }
  if (files.empty() || files[0].empty()) {
    state.SkipWithError("test media could not be made");
    return;
  }
  PinToOneCore();
  const double start = ChildrenCpuSeconds();
  for (auto _ : state) {
    for (const std::string& file : files)
      if (Fpcalc(file).empty())
        state.SkipWithError(("fpcalc printed no fingerprint: " + file).c_str());
  }
  state.counters["child_cpu_ms"] =
      (ChildrenCpuSeconds() - start) * 1000 / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
}
BENCHMARK_CAPTURE(BM_FpcalcFingerprint, excerpts, Excerpts())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_FpcalcFingerprint, four_minute_track, Track())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
