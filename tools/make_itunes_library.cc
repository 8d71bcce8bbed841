// make_itunes_library: writes a generated iTunes library whose tracks name
// real media files (hard links of one or more media files).
//
//   make_itunes_library --root DIR --out LIBRARY.xml [--tracks N]
//                       [--media FILE]... [--played-every N]
//
// Without --media a one-second WAV file is made in DIR with the test-media
// tool and linked.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/itunes_library_writer.h"
#include "tools/test_media.h"

int main(int argc, char** argv) {
  test_media::ItunesCollectionPlan plan;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!value) {
      std::fprintf(stderr, "make_itunes_library: %s needs a value\n", arg.c_str());
      return 2;
    }
    ++i;
    if (arg == "--root") {
      plan.root = value;
    } else if (arg == "--out") {
      out = value;
    } else if (arg == "--tracks") {
      plan.tracks = std::atoi(value);
    } else if (arg == "--media") {
      plan.media.push_back(value);
    } else if (arg == "--played-every") {
      plan.played_every = std::atoi(value);
    } else {
      std::fprintf(stderr, "make_itunes_library: unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (plan.root.empty() || out.empty()) {
    std::fprintf(stderr,
                 "usage: make_itunes_library --root DIR --out LIBRARY.xml [--tracks N] "
                 "[--media FILE]... [--played-every N]\n");
    return 2;
  }
  std::filesystem::create_directories(plan.root);
  if (plan.media.empty()) {
    test_media::MediaPlan media;
    media.format = "wav";
    media.seconds = 1.0;
    const std::string seed = plan.root + "/seed.wav";
    const std::string error = test_media::MakeTestMedia(seed, media);
    if (!error.empty()) {
      std::fprintf(stderr, "make_itunes_library: %s\n", error.c_str());
      return 1;
    }
    plan.media.push_back(seed);
  }
  const std::string error = test_media::MakeItunesCollection(plan, out);
  if (!error.empty()) {
    std::fprintf(stderr, "make_itunes_library: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %d tracks, %ju bytes\n", out.c_str(), plan.tracks,
              static_cast<std::uintmax_t>(std::filesystem::file_size(out)));
  return 0;
}
