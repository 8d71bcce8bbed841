// Settings reads and writes per second on a registry file holding the ~50
// values of a configured installation, against two baselines measured in
// the same run: one stat of the file (the floor of any access that checks
// for changes) and reading plus parsing the whole file (a read without the
// parsed copy that the registry keeps between accesses).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/reg_settings.h"
#include "platform/file_io.h"
#include "platform/registry_text.h"

namespace {

class BenchRegistry {
 public:
  BenchRegistry() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vornic-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
    file_ = dir_ + "/kiv/registry.reg";
    settings_.SetCompanyName("KIV");
    settings_.SetApplicationName("Windows Client");
    settings_.SetRegistryFile(file_);
    Fill();
  }
  ~BenchRegistry() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const CRegSettings& settings() const { return settings_; }
  const std::string& file() const { return file_; }

 private:
  void Fill() {
    const CRegSettings& s = settings_;
    s.WriteString(kSubKeySettings, "Username", "listener@example.org");
    s.WriteString(kSubKeySettings, "Password", "correct horse battery staple");
    s.WriteDword(kSubKeySettings, "Notified", 0x103);
    s.WriteDword(kSubKeySettings, "IndexComplete", 1);
    s.WriteDword(kSubKeySettings, "iTunesComplete", 1);
    s.WriteString(kSubKeySettings, "ITunesHistoryFile",
                  "/home/listener/Music/iTunes/iTunes Music Library.xml");
    s.WriteDword(kSubKeySettings, "UseMusicID", 0);
    s.WriteString(kSubKeySettings, "UpdateCheck", "2026-12-07T07:53:41Z");
    s.WriteDword(kSubKeySettings, "UpdateAllow", 0);
    s.WriteDword(kSubKeySettings, "LogLevel", 5);
    s.WriteDword(kSubKeySettings, "LogModule", 0xFFFFFFFF);
    s.WriteString(kSubKeySettings, "ServerUrl", "http://kiv.example.org/kiv_backend/api");
    s.WriteString(kSubKeyLog, "LogFileFailure", "Could not write log file (error 28)");
    s.WriteString(kSubKeyLog, "LastLogMessage", "AgentIndexer: added new file to db\r\n");
    const char* players[] = {
        "foobar2000.exe", "winamp.exe",     "wmplayer.exe", "itunes.exe", "vlc",      "mpv",
        "audacious",      "rhythmbox",      "strawberry",   "clementine", "deadbeef", "qmmp",
        "cmus",           "mocp",           "mpd",          "quodlibet",  "lollypop", "elisa",
        "amarok",         "totem",          "celluloid",    "smplayer",   "mplayer",  "mpg123",
        "ffplay",         "mediamonkey.exe"};
    for (const char* player : players) s.WriteDword(kSubKeyPlayMonitor, player, 1);
    for (int n = 0; n < 5; ++n) {
      s.WriteString(kSubKeySearchPaths, "path" + std::to_string(n),
                    "/home/listener/Music/Collection " + std::to_string(n));
      s.WriteDword(kSubKeySearchPaths, "enable" + std::to_string(n), 1);
    }
  }

  std::string dir_;
  std::string file_;
  CRegSettings settings_;
};

BenchRegistry& Registry() {
  static BenchRegistry registry;
  return registry;
}

// Filled before the first benchmark, outside every timing.
[[maybe_unused]] const bool kFilled = (Registry(), true);

void BM_Baseline_StatFile(benchmark::State& state) {
  std::int64_t size = 0;
  for (auto _ : state) benchmark::DoNotOptimize(platform::FileSize(Registry().file(), &size));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Baseline_StatFile)->UseRealTime();

void BM_Baseline_ReadAndParseFile(benchmark::State& state) {
  for (auto _ : state) {
    std::ifstream in(Registry().file(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    platform::RegParseResult parsed = platform::ParseRegistryText(text.str());
    benchmark::DoNotOptimize(parsed.document.ValueCount());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Baseline_ReadAndParseFile)->UseRealTime();

void BM_ReadDword(benchmark::State& state) {
  DWORD value = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(Registry().settings().ReadDword(kSubKeySettings, "LogModule", value));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadDword)->UseRealTime();

void BM_ReadString(benchmark::State& state) {
  std::string value;
  for (auto _ : state)
    benchmark::DoNotOptimize(Registry().settings().ReadString(kSubKeySettings, "ServerUrl", value));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadString)->UseRealTime();

// Every write changes the value, so each one replaces the file (temp file,
// fsync, rename).
void BM_WriteDword(benchmark::State& state) {
  DWORD value = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(
        Registry().settings().WriteDword(kSubKeySettings, "IndexComplete", ++value));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteDword)->UseRealTime();

// Writing the value already stored leaves the file alone.
void BM_WriteDwordUnchanged(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(Registry().settings().WriteDword(kSubKeySettings, "LogLevel", 5));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteDwordUnchanged)->UseRealTime();

// A 200,000-byte value wrapped over 200,000 continued lines (1.4 MB of
// text), against the same bytes on one line: the ratio shows whether
// joining the wrapped lines costs more than reading them.
std::string HexValueText(bool wrapped) {
  std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=hex:";
  for (int i = 0; i < 200000; ++i)
    text += (i + 1 < 200000) ? (wrapped ? "61,\\\n  " : "61,") : "61";
  return text + "\n";
}

void BM_Baseline_ParseLongValueOnOneLine(benchmark::State& state) {
  const std::string text = HexValueText(false);
  for (auto _ : state) benchmark::DoNotOptimize(platform::ParseRegistryText(text).damaged());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Baseline_ParseLongValueOnOneLine)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParseLongValueWrapped(benchmark::State& state) {
  const std::string text = HexValueText(true);
  for (auto _ : state) benchmark::DoNotOptimize(platform::ParseRegistryText(text).damaged());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseLongValueWrapped)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
