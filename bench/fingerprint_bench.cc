// Fingerprints per second on one core: the identification component's
// fingerprinter fed by DecodeToSink (the path GenerateFingerprint takes),
// against Chromaprint's own command-line tool fpcalc over the same 30 s
// files in one process (skipped when fpcalc is not installed). Both run
// pinned to one processor; run the benchmark under nice.
#include <benchmark/benchmark.h>
#include <sched.h>

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

// 30 s excerpts in several formats and rates, made once per build tree.
const std::vector<std::string>& Files() {
  static const std::vector<std::string> files = [] {
    const fs::path dir = fs::temp_directory_path() / "vornic-fingerprint-bench";
    fs::create_directories(dir);
    std::vector<std::string> out;
    const struct {
      const char* format;
      int rate;
    } kinds[] = {{"mp3", 44100}, {"mp3", 48000}, {"flac", 44100}, {"ogg", 48000}};
    for (const auto& kind : kinds) {
      test_media::MediaPlan plan;
      plan.format = kind.format;
      plan.sample_rate = kind.rate;
      plan.seconds = kExcerptSeconds;
      const fs::path path = dir / (std::to_string(kind.rate) + "." + std::string(kind.format));
      if (!fs::exists(path) && !test_media::MakeTestMedia(path.string(), plan).empty()) continue;
      out.push_back(path.string());
    }
    return out;
  }();
  return files;
}

class Adapter : public ISampleSink {
 public:
  explicit Adapter(ICddbFingerprinter* fp) : fp_(fp) {}
  HRESULT Begin(DWORD r, DWORD b, DWORD c) override { return fp_->Begin(r, b, c); }
  HRESULT Write(const void* p, DWORD n) override { return fp_->Write(p, n); }
  HRESULT Finish(void* out) override { return fp_->Finish(static_cast<std::string*>(out)); }

 private:
  ICddbFingerprinter* fp_;
};

void BM_ComponentFingerprint(benchmark::State& state) {
  PinToOneCore();
  CTagReaderRef reader;
  CddbModuleLoader loader;
  loader.Init(COMPONENT_DIR, false);
  CddbPtr<ICddbMusicID> music_id;
  if (FAILED(loader.CreateObject(CLSID_CddbMusicID, IID_ICddbMusicID, music_id.OutVoid()))) {
    state.SkipWithError("component modules not found");
    return;
  }
  const auto& files = Files();
  for (auto _ : state) {
    for (const std::string& file : files) {
      CddbPtr<ICddbFingerprinter> fp;
      music_id->NewFingerprinter(fp.Out());
      Adapter sink(fp.get());
      std::string fingerprint;
      HRESULT hr = DecodeToSink(file, &sink, &fingerprint, nullptr);
      if (SUCCEEDED(hr) && fingerprint.empty()) hr = fp->Finish(&fingerprint);
      if (FAILED(hr) || fingerprint.empty())
        state.SkipWithError(("no fingerprint: " + file).c_str());
      benchmark::DoNotOptimize(fingerprint);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
}
BENCHMARK(BM_ComponentFingerprint)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FpcalcFingerprint(benchmark::State& state) {
  if (std::system("command -v fpcalc >/dev/null 2>&1") != 0) {
    state.SkipWithError("fpcalc is not installed (package libchromaprint-tools)");
    return;
  }
  PinToOneCore();
  std::string command = "fpcalc";
  for (const std::string& file : Files()) command += " '" + file + "'";
  command += " >/dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("fpcalc failed");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Files().size()));
}
BENCHMARK(BM_FpcalcFingerprint)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
