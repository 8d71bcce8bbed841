#include "tools/itunes_library_writer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace test_media {
namespace {

void Key(std::ostream& out, const char* key) { out << "\t\t\t<key>" << key << "</key>"; }

void Integer(std::ostream& out, const char* key, std::int64_t value) {
  if (value == 0) return;
  Key(out, key);
  out << "<integer>" << value << "</integer>\n";
}

void String(std::ostream& out, const char* key, const std::string& value) {
  if (value.empty()) return;
  Key(out, key);
  out << "<string>" << XmlEscape(value) << "</string>\n";
}

void Date(std::ostream& out, const char* key, const std::string& value) {
  if (value.empty()) return;
  Key(out, key);
  out << "<date>" << value << "</date>\n";
}

}  // namespace

std::string ItunesFileUrl(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://localhost";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string ItunesDate(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '&') {
      out += "&#38;";
    } else if (c == '<') {
      out += "&#60;";
    } else if (c == '>') {
      out += "&#62;";
    } else {
      out += c;
    }
  }
  return out;
}

ItunesLibraryWriter::ItunesLibraryWriter(std::ostream& out, const std::string& music_folder)
    : out_(out) {
  out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
          "<plist version=\"1.0\">\n<dict>\n"
          "\t<key>Major Version</key><integer>1</integer>\n"
          "\t<key>Minor Version</key><integer>1</integer>\n"
          "\t<key>Application Version</key><string>9.2.1</string>\n"
          "\t<key>Features</key><integer>5</integer>\n"
          "\t<key>Show Content Ratings</key><true/>\n";
  if (!music_folder.empty())
    out_ << "\t<key>Music Folder</key><string>" << XmlEscape(ItunesFileUrl(music_folder + "/"))
         << "</string>\n";
  out_ << "\t<key>Library Persistent ID</key><string>7A1C2E3F4D5B6A79</string>\n"
          "\t<key>Tracks</key>\n\t<dict>\n";
}

void ItunesLibraryWriter::AddTrack(const ItunesTrack& t) {
  ids_.push_back(t.id);
  std::ostream& o = out_;
  o << "\t\t<key>" << t.id << "</key>\n\t\t<dict>\n";
  Integer(o, "Track ID", t.id);
  String(o, "Name", t.name);
  String(o, "Artist", t.artist);
  String(o, "Album Artist", t.artist);
  String(o, "Composer", t.artist);
  String(o, "Album", t.album);
  String(o, "Genre", t.genre);
  String(o, "Kind", t.kind);
  Integer(o, "Size", t.size);
  Integer(o, "Total Time", t.total_time);
  Integer(o, "Disc Number", 1);
  Integer(o, "Disc Count", 1);
  Integer(o, "Track Number", t.track_number);
  Integer(o, "Track Count", t.track_count);
  Integer(o, "Year", t.year);
  Date(o, "Date Modified", t.date_modified);
  Date(o, "Date Added", t.date_added);
  Integer(o, "Bit Rate", t.bit_rate);
  Integer(o, "Sample Rate", t.sample_rate);
  Integer(o, "Play Count", t.play_count);
  if (t.play_count != 0) Integer(o, "Play Date", 3300000000LL + t.id);
  Date(o, "Play Date UTC", t.play_date_utc);
  Integer(o, "Artwork Count", 1);
  String(o, "Sort Name", t.name);
  char persistent_id[17];
  std::snprintf(persistent_id, sizeof persistent_id, "%016X", 0x5EED0000u + t.id);
  String(o, "Persistent ID", persistent_id);
  String(o, "Track Type", "File");
  String(o, "Location", t.location);
  Integer(o, "File Folder Count", 4);
  Integer(o, "Library Folder Count", 1);
  o << "\t\t</dict>\n";
}

void ItunesLibraryWriter::Finish() {
  if (finished_) return;
  finished_ = true;
  out_ << "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n\t\t<dict>\n"
          "\t\t\t<key>Name</key><string>Library</string>\n"
          "\t\t\t<key>Master</key><true/>\n"
          "\t\t\t<key>Playlist ID</key><integer>1</integer>\n"
          "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
  for (std::uint32_t id : ids_)
    out_ << "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>" << id
         << "</integer>\n\t\t\t\t</dict>\n";
  out_ << "\t\t\t</array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
}

std::string MakeItunesCollection(const ItunesCollectionPlan& plan, const std::string& library_path,
                                 std::vector<std::string>* paths) {
  namespace fs = std::filesystem;
  if (plan.media.empty()) return "no media files to link";
  std::ofstream out(library_path, std::ios::binary | std::ios::trunc);
  if (!out) return "cannot write " + library_path;
  ItunesLibraryWriter writer(out, plan.root);
  std::error_code error;
  // What each media file is linked from: a fresh copy of it once the file
  // system's limit of links to one file is reached.
  std::vector<std::string> sources = plan.media;
  for (int i = 0; i < plan.tracks; ++i) {
    const int album = i / plan.tracks_per_album;
    const int artist = album / plan.albums_per_artist;
    const std::size_t kind = static_cast<std::size_t>(i) % plan.media.size();
    const std::string& media = plan.media[kind];
    char folder[96];
    std::snprintf(folder, sizeof folder, "\xC3\x84rtist %03d/Album & Co %03d", artist, album);
    char name[64];
    std::snprintf(name, sizeof name, "%02d S\xC3\xB3ng #%d", i % plan.tracks_per_album + 1, i);
    const fs::path dir = fs::path(plan.root) / folder;
    const fs::path file = dir / (std::string(name) + fs::path(media).extension().string());
    fs::create_directories(dir, error);
    if (error) return "cannot create " + dir.string() + ": " + error.message();
    if (!fs::exists(file)) {
      fs::create_hard_link(sources[kind], file, error);
      if (error == std::errc::too_many_links) {
        sources[kind] = media + "." + std::to_string(i);
        fs::copy_file(media, sources[kind], fs::copy_options::overwrite_existing, error);
        if (!error) fs::create_hard_link(sources[kind], file, error);
      }
      if (error) fs::copy_file(media, file, error);
      if (error) return "cannot make " + file.string() + ": " + error.message();
    }
    ItunesTrack track;
    track.id = static_cast<std::uint32_t>(1000 + 2 * i);
    track.location = ItunesFileUrl(file.string());
    track.name = std::string(name).substr(3);
    std::snprintf(folder, sizeof folder, "\xC3\x84rtist %03d", artist);
    track.artist = folder;
    std::snprintf(folder, sizeof folder, "Album & Co %03d", album);
    track.album = folder;
    track.genre = i % 2 ? "Rock" : "Jazz";
    track.year = 1970 + i % 50;
    track.size = static_cast<std::int64_t>(fs::file_size(media, error));
    track.total_time = 180000 + i;
    track.track_number = i % plan.tracks_per_album + 1;
    track.track_count = plan.tracks_per_album;
    track.bit_rate = 1411;
    track.sample_rate = 44100;
    const std::time_t added = plan.base_time + i * 60;
    track.date_added = ItunesDate(added);
    track.date_modified = ItunesDate(added - 86400);
    if (plan.played_every > 0 && i % plan.played_every == 0) {
      track.play_count = 1 + i % 9;
      track.play_date_utc = ItunesDate(added + 86400 * 30);
    }
    writer.AddTrack(track);
    if (paths) paths->push_back(file.string());
  }
  writer.Finish();
  out.close();
  return out ? "" : "cannot write " + library_path;
}

}  // namespace test_media
