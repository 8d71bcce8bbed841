// Writes iTunes library files ("iTunes Music Library.xml") for tests and
// benchmarks: the property list with its header keys, the "Tracks" dict
// with one dict of properties per track, and a "Library" playlist naming
// every track, laid out the way iTunes writes it. Tracks are written as
// they are added, so a library of any size takes little memory.
//
// Thread safety: a writer belongs to one thread; the functions are pure.
#pragma once

#include <cstdint>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

namespace test_media {

struct ItunesTrack {
  std::uint32_t id = 0;
  std::string location;  // as stored: a URL (see ItunesFileUrl); "" = none
  std::string name;
  std::string artist;
  std::string album;
  std::string genre;
  std::string kind = "MPEG audio file";
  int year = 0;  // 0 = key left out, as for the other numbers below
  std::int64_t size = 0;
  int total_time = 0;
  int track_number = 0;
  int track_count = 0;
  int bit_rate = 0;
  int sample_rate = 0;
  int play_count = 0;
  std::string play_date_utc;  // ItunesDate text; "" = key left out
  std::string date_added;
  std::string date_modified;
};

// "file://localhost" followed by `path` with every byte other than
// letters, digits, "/-._~" percent-escaped, as iTunes writes locations.
std::string ItunesFileUrl(const std::string& path);

// "YYYY-MM-DDTHH:MM:SSZ" of the UTC calendar time of `t`.
std::string ItunesDate(std::time_t t);

// `text` with &, < and > escaped for element content.
std::string XmlEscape(const std::string& text);

class ItunesLibraryWriter {
 public:
  // Writes the header and opens the "Tracks" dict.
  explicit ItunesLibraryWriter(std::ostream& out, const std::string& music_folder = "");
  ItunesLibraryWriter(const ItunesLibraryWriter&) = delete;
  ItunesLibraryWriter& operator=(const ItunesLibraryWriter&) = delete;

  void AddTrack(const ItunesTrack& track);
  // Closes the tracks, writes the playlist and ends the document.
  void Finish();

 private:
  std::ostream& out_;
  std::vector<std::uint32_t> ids_;
  bool finished_ = false;
};

// A generated collection: media files under `root`, named
// "Ärtist NNN/Album & Co NNN/NN Sóng #N.<ext>", each a hard link (a copy
// where linking fails) of one of `media`, and a library naming them all.
struct ItunesCollectionPlan {
  std::string root;
  std::vector<std::string> media;  // real media files, used in turn
  int tracks = 300;
  int tracks_per_album = 10;
  int albums_per_artist = 5;
  // Every n-th track has iTunes plays (count and date); 0 = none.
  int played_every = 3;
  std::time_t base_time = 1200000000;
};

// Makes the files and writes the library to `library_path`. `paths`
// (optional) receives the files' paths in track order. Returns "" on
// success, else what went wrong.
std::string MakeItunesCollection(const ItunesCollectionPlan& plan, const std::string& library_path,
                                 std::vector<std::string>* paths = nullptr);

}  // namespace test_media
