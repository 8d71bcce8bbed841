// make_test_media: writes tagged audio files for tests, benchmarks and
// manual checks.
//
//   make_test_media [options] OUTPUT        one file; the format is OUTPUT's
//                                           extension unless --format says
//   make_test_media --corpus DIR --count N  N files cycling through --formats
//   make_test_media --list                  the formats it can write
//
// Options: --format EXT --seconds S --size BYTES --rate HZ --channels N
// --bitrate KBPS --title --artist --album --genre --date --track --comment
// --gnid TEXT, --formats mp3,m4a,... (corpus).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/test_media.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: make_test_media [--format EXT] [--seconds S | --size BYTES] [--rate HZ]\n"
               "         [--channels N] [--bitrate KBPS] [--title T] [--artist A] [--album A]\n"
               "         [--genre G] [--date D] [--track N] [--comment C] [--gnid G] OUTPUT\n"
               "       make_test_media --corpus DIR --count N [--formats mp3,m4a,...]\n"
               "       make_test_media --list\n");
  return 2;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) parts.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Writes one tagged file per format, then copies them round-robin into
// `count` files named NNNNN.<ext>: reading tags costs the same for a copy.
int MakeCorpus(const std::string& dir, int count, const std::vector<std::string>& formats,
               test_media::MediaPlan plan) {
  namespace fs = std::filesystem;
  fs::create_directories(dir);
  std::vector<std::string> bases;
  for (const std::string& format : formats) {
    plan.format = format;
    plan.tags = {
        "Title " + format,   "Artist " + format, "Album " + format, "Genre", "2009", "7/12",
        "Comment " + format, "GNID-" + format};
    std::string base = dir + "/base." + format;
    std::string error = test_media::MakeTestMedia(base, plan);
    if (!error.empty()) {
      std::fprintf(stderr, "%s: %s\n", format.c_str(), error.c_str());
      return 1;
    }
    bases.push_back(base);
  }
  for (int i = 0; i < count; ++i) {
    const std::string& format = formats[i % formats.size()];
    char name[32];
    std::snprintf(name, sizeof(name), "/%05d.", i);
    fs::copy_file(bases[i % bases.size()], dir + name + format,
                  fs::copy_options::overwrite_existing);
  }
  for (const std::string& base : bases) fs::remove(base);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--list") {
      options.emplace(arg, "1");
    } else if (arg.rfind("--", 0) == 0 && i + 1 < argc) {
      options[arg] = argv[++i];
    } else if (arg.rfind("--", 0) != 0 && output.empty()) {
      output = arg;
    } else {
      return Usage();
    }
  }
  if (options.count("--list")) {
    for (const test_media::FormatInfo& format : test_media::TestMediaFormats()) {
      std::printf("%s\n", format.extension.c_str());
    }
    return 0;
  }
  auto get = [&](const char* name, const std::string& fallback = "") {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  };
  test_media::MediaPlan plan;
  plan.seconds = std::atof(get("--seconds", "1").c_str());
  plan.sample_rate = std::atoi(get("--rate", "44100").c_str());
  plan.channels = std::atoi(get("--channels", "2").c_str());
  plan.bitrate_kbps = std::atoi(get("--bitrate", "0").c_str());

  if (options.count("--corpus")) {
    int count = std::atoi(get("--count", "1000").c_str());
    std::vector<std::string> formats = Split(get("--formats", "mp3,m4a,flac,ogg,opus,wma,aiff,wv"));
    if (count <= 0 || formats.empty()) return Usage();
    return MakeCorpus(get("--corpus"), count, formats, plan);
  }

  if (output.empty()) return Usage();
  std::string extension = std::filesystem::path(output).extension().string();
  plan.format = get("--format", extension.empty() ? "" : extension.substr(1));
  if (options.count("--size")) {
    plan.seconds = test_media::SecondsForSize(plan, std::atoll(get("--size").c_str()));
  }
  plan.tags = {get("--title"), get("--artist"), get("--album"),   get("--genre"),
               get("--date"),  get("--track"),  get("--comment"), get("--gnid")};
  std::string error = test_media::MakeTestMedia(output, plan);
  if (!error.empty()) {
    std::fprintf(stderr, "make_test_media: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
