// IndexBatch calls with 100-element batches and password sign-ins against
// the development server on loopback: calls per second and the client's
// own CPU time per call (this process only; the server is another
// process). Baseline, measured in the same run: a bare libcurl POST of the
// same request body to the same server, which is the floor of any XML-RPC
// client on this transport.
//
// curl is set up as the program sets it up, with the allocator that wipes
// what it frees; with VORNIC_BENCH_CURL=plain it keeps its own allocator.
// Run once each way to see what the wiping costs.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/log.h"
#include "app/reg_settings.h"
#include "server/curl_transfer.h"
#include "server/kiv_protocol.h"
#include "tools/kiv_devserver_process.h"

namespace {

constexpr int kBatch = 100;

// Before any benchmark runs, as first thing in the program's main.
const bool kWipingCurl = [] {
  const char* mode = std::getenv("VORNIC_BENCH_CURL");
  return !(mode && std::string(mode) == "plain") && kiv_http::GlobalInit();
}();

// A temporary home with the settings, the log and the running dev server.
class BenchServer {
 public:
  BenchServer() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vornic-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile(dir_ + "/bench.log");
    AppLog().SetLogLevel(LEVEL_WARNING);
    server_ = std::make_unique<kiv_devserver::DevServer>(dir_ + "/server");
    server_->SetConfig(
        "{\"accounts\": [{\"username\": \"bench@example.org\", \"password\": \"pw\", "
        "\"client_password\": \"bench-client\"}], \"batch_size\": 100}");
    AppSettings().WriteStringUtf8(kSubKeySettings, "ServerUrl", server_->Url());
    AppSettings().WriteStringUtf8(kSubKeySettings, "Username", "bench@example.org");
    AppSettings().WriteStringUtf8(kSubKeySettings, "Password", "bench-client");
  }
  ~BenchServer() {
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool ok() const { return server_ && server_->ok(); }
  kiv_devserver::DevServer& server() { return *server_; }

 private:
  std::string dir_;
  std::unique_ptr<kiv_devserver::DevServer> server_;
};

BenchServer& Server() {
  static BenchServer server;
  return server;
}

// 100 described tracks, half of them identified.
std::vector<BatchIndexData_t> MakeBatch(int round) {
  std::vector<BatchIndexData_t> elements(kBatch);
  for (int i = 0; i < kBatch; ++i) {
    BatchIndexData_t& e = elements[static_cast<std::size_t>(i)];
    e = BatchIndexData_t{};
    const std::string n = std::to_string(round) + "-" + std::to_string(i);
    for (DBEntry* record : {&e.user, &e.gracenote}) {
      SetEntryText(record->file_type, "mp3");
      SetEntryText(record->title, "A Song Title Of Usual Length " + n);
      SetEntryText(record->artist, "The Band Name");
      SetEntryText(record->album, "The Album Of The Year");
      SetEntryText(record->genre, "Alternative");
      record->duration = 200 + i;
      record->sample_rate = 44100;
      record->sample_size = 16;
      record->track_number = i % 14 + 1;
    }
    if (i % 2 == 0) {
      e.gracenote.match_quality = 1;
      SetEntryText(e.gracenote.gn_id, "GN" + n);
    }
  }
  return elements;
}

void BM_IndexBatch100(benchmark::State& state) {
  if (!Server().ok()) {
    state.SkipWithError("the development server did not start");
    return;
  }
  std::vector<BatchIndexData_t> elements = MakeBatch(0);
  for (auto _ : state) {
    if (SendIndexBatchRequest(elements.data(), kBatch) != 1) {
      state.SkipWithError("IndexBatch failed");
      break;
    }
  }
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_IndexBatch100)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_SignIn(benchmark::State& state) {
  if (!Server().ok()) {
    state.SkipWithError("the development server did not start");
    return;
  }
  state.SetLabel(kWipingCurl ? "curl wipes freed blocks" : "curl's own allocator");
  for (auto _ : state) {
    std::string client_password;
    if (AuthenticateByPassword("bench@example.org", "pw", &client_password, 0) != 0) {
      state.SkipWithError("AuthenticateByPassword failed");
      break;
    }
  }
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SignIn)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_BareCurlPostBaseline(benchmark::State& state) {
  if (!Server().ok()) {
    state.SkipWithError("the development server did not start");
    return;
  }
  // The exact request body the client sent for one batch.
  std::vector<BatchIndexData_t> elements = MakeBatch(0);
  SendIndexBatchRequest(elements.data(), kBatch);
  const std::string body = Server().server().LastCall().body;
  const std::string url = Server().server().Url();
  for (auto _ : state) {
    CURL* curl = curl_easy_init();  // a fresh handle per call, as the client does
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
    const CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) {
      state.SkipWithError(curl_easy_strerror(rc));
      break;
    }
  }
  state.counters["calls/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareCurlPostBaseline)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
