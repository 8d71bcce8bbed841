// Test media: writes short audio files of every format the program reads,
// with chosen tags, duration, sample rate and channel count, using the
// `ffmpeg` command-line program for the audio and the container's own tags,
// and TagLib for what ffmpeg cannot write (MP4 freeform "gnid" items, tags
// of raw MPEG layer 2). Tests and benchmarks make their media with it, so no
// binary file is kept in the repository.
//
// Thread safety: every call is independent; files go where the caller says.
#pragma once

#include <string>
#include <vector>

namespace test_media {

struct MediaTags {
  std::string title;
  std::string artist;
  std::string album;
  std::string genre;
  std::string date;
  std::string track;
  std::string comment;
  std::string gnid;  // written only to MP4-family files
};

struct MediaPlan {
  std::string format;  // an extension from TestMediaFormats(), e.g. "mp3"
  double seconds = 1.0;
  int sample_rate = 44100;  // formats with fixed rates ignore it (opus, spx)
  int channels = 2;
  int bitrate_kbps = 0;  // lossy formats; 0 = the encoder's default
  MediaTags tags;
};

// How much of MediaTags a format keeps.
enum class TagSupport {
  kNone,     // the container carries no tags (ac3, w64...)
  kPartial,  // some fields only (au: no date, no comment)
  kAll,      // title, artist, album, genre, date, track, comment
};

struct FormatInfo {
  std::string extension;
  TagSupport tags;
  bool gnid;  // MP4 family: the "gnid" item is written
};

// Every format the tool can write, in a fixed order.
const std::vector<FormatInfo>& TestMediaFormats();
const FormatInfo* FindFormat(const std::string& extension);

// Writes the file at `path` (its extension need not match plan.format, so
// a test can write a file whose name lies). Returns an empty string on
// success, else what went wrong (ffmpeg's own message when it failed).
std::string MakeTestMedia(const std::string& path, const MediaPlan& plan);

// Adds or replaces one tag property (TagLib's name, e.g.
// "MUSICBRAINZ_TRACKID") in any file TagLib can write. Returns an empty
// string on success, else what went wrong.
std::string SetTagProperty(const std::string& path, const std::string& key,
                           const std::string& value);

// Duration that gives a file of about `bytes` for `plan` (its format,
// bitrate, rate and channels): exact for PCM, nominal for lossy formats.
double SecondsForSize(const MediaPlan& plan, long long bytes);

// True when the ffmpeg program can be run.
bool FfmpegAvailable();

}  // namespace test_media
