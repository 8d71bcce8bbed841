#include "scan/itunes_library.h"

#include <functional>
#include <utility>

#include "app/format.h"
#include "app/log.h"
#include "media/tag_reader.h"
#include "platform/file_info.h"
#include "scan/itunes_tracks.h"
#include "scan/itunes_values.h"

namespace {

// Depth of the elements the walk looks at: plist 1, the library dict 2, its
// keys and values 3 ("Tracks" and its dict), track ids and track dicts 4,
// a track's keys and values 5.
constexpr int kPlistDepth = 1;
constexpr int kLibraryDepth = 2;
constexpr int kTracksDepth = 3;
constexpr int kTrackDepth = 4;

void Log(DWORD level, const std::string& message, DWORD module = MODULE_ITUNES) {
  AppLog().Log(message, level, module);
}

void LogLoadFailure(const std::string& path, const std::string& reason) {
  AppLog().LogDetail("Failed to load xml from itunes history file", path, LEVEL_ERROR,
                     MODULE_ITUNES);
  if (!reason.empty()) Log(LEVEL_ERROR, "ParseItunesHistoryFile: " + reason);
}

// The file a track's record names exists here as a regular file of a
// supported kind (a folder named "x.mp3" does not count).
bool IsUsableTrackFile(const std::string& path) {
  if (path.empty()) return false;
  platform::FileInfo info;
  return platform::StatFile(path, &info) && info.is_regular && IsSupportedFile(path);
}

// The track pass over the children of the element that follows "Tracks".
class TrackPass {
 public:
  TrackPass(ItunesXmlReader& reader, const ItunesWalkOptions& options, ItunesTrackHandler& handler)
      : reader_(reader), options_(options), handler_(handler) {}

  // 1 when the elements ran out, 0 on failure or stop.
  int Run() {
    if (!handler_.BeginTracks()) return 0;
    const int result = Pass();
    handler_.EndTracks();
    return result;
  }

 private:
  int Pass() {
    int count = 0;
    XmlElement element;
    bool have = false;  // `element` was read ahead and is next
    for (;;) {
      if (!have && !reader_.NextChild(kTracksDepth, &element)) break;
      have = false;
      if (handler_.CheckQuit()) return 0;
      handler_.OnTrackElement(++count);
      if (!element.has_text) {
        Log(LEVEL_WARNING,
            "Empty key element found while iterating through tracks in history, (continuing to "
            "next track)");
        continue;
      }
      if (element.name != "key") {
        Log(LEVEL_ERROR,
            StrFormat("Expected 'key' with numeric track id as value in next global dict track "
                      "element (skipping), instead got element name/value pair %s=%s",
                      element.name.c_str(), element.text.c_str()));
        continue;
      }
      const auto id = static_cast<std::uint32_t>(ParseDecimal(element.text));
      XmlElement value;
      if (options_.lookup && id != options_.lookup->wanted_id) {
        Log(LEVEL_VERBOSE, StrFormat("Skipping track id %u, still looking for track id %u", id,
                                     options_.lookup->wanted_id));
        // The skipped track's dict goes with its id.
        if (reader_.NextChild(kTracksDepth, &value) && value.name != "dict") {
          element = std::move(value);
          have = true;
        }
        continue;
      }
      if (!reader_.NextChild(kTracksDepth, &value)) {
        if (reader_.failed()) break;
        Log(LEVEL_WARNING,
            StrFormat("While parsing track, unexpected end of elements; key found without "
                      "matching value (skipping), prev key/value pair was %s=%s",
                      element.name.c_str(), element.text.c_str()));
        return 0;
      }
      if (value.name != "dict") {
        Log(LEVEL_ERROR,
            StrFormat("Expected 'dict' element under Track ID as next sub track element "
                      "(skipping), instead got element name=%s",
                      value.name.c_str()));
        // Not consumed: it may be the next track's id.
        element = std::move(value);
        have = true;
        continue;
      }
      DBEntry track = MakeFreshEntry(options_.now);
      std::string path;
      if (!ReadTrack(&track, &path)) return 0;
      if (!IsUsableTrackFile(path)) continue;
      if (options_.lookup) return FoundLookedUpTrack(id, track);
      handler_.OnTrack(track, path);
    }
    return reader_.failed() ? 0 : 1;
  }

  // The key/value pairs of a track dict into `track`, its path (UTF-8) into
  // `path`; false when a key has no value (which ends the pass) or the
  // document failed.
  bool ReadTrack(DBEntry* track, std::string* path) {
    XmlElement key;
    XmlElement value;
    while (reader_.NextChild(kTrackDepth, &key)) {
      if (key.name != "key") {
        Log(LEVEL_ERROR,
            StrFormat("Expected 'key' with Track ID as next track dict sub element (skipping), "
                      "instead got element name/value pair %s=%s",
                      key.name.c_str(), key.text.c_str()));
        continue;
      }
      if (!reader_.NextChild(kTrackDepth, &value)) {
        if (reader_.failed()) return false;
        Log(LEVEL_WARNING,
            StrFormat("While parsing track, unexpected end of elements; key found without "
                      "matching value (skipping), key/value pair was %s=%s",
                      key.name.c_str(), key.text.c_str()));
        return false;
      }
      if (ApplyTrackProperty(key.text, value.text, track, path) == TrackProperty::kBadValue) {
        AppLog().LogDetail(StrFormat("AgentITunes: unusable %s value ignored", key.text.c_str()),
                           value.text, LEVEL_VERBOSE, MODULE_ITUNES);
      }
    }
    return !reader_.failed();
  }

  int FoundLookedUpTrack(std::uint32_t id, const DBEntry& track) {
    ItunesTrackLookup& lookup = *options_.lookup;
    if (id != lookup.wanted_id) {
      Log(LEVEL_WARNING,
          StrFormat("Inconsistency in iTunes library file, Track ID %d from playlist could not "
                    "be found in iTunes library",
                    static_cast<int>(lookup.wanted_id)),
          kItunesPlaylistLogModule);
      return 0;
    }
    lookup.title = EntryText(track.title);
    lookup.artist = EntryText(track.artist);
    lookup.album = EntryText(track.album);
    Log(LEVEL_VERBOSE,
        StrFormat("Found Track ID %d, setting title=%s, artist=%s, ablum=%s", static_cast<int>(id),
                  lookup.title.c_str(), lookup.artist.c_str(), lookup.album.c_str()),
        kItunesPlaylistLogModule);
    return 1;
  }

  ItunesXmlReader& reader_;
  const ItunesWalkOptions& options_;
  ItunesTrackHandler& handler_;
};

// The walk proper, on a document found well-formed; the caller reports a
// reader that failed after all (the file changed since the check).
int Walk(ItunesXmlReader& reader, const ItunesWalkOptions& options, ItunesTrackHandler& handler) {
  XmlElement root;
  XmlElement library;
  bool found = false;
  if (reader.NextChild(0, &root) && root.name == "plist") {
    while (!found && reader.NextChild(kPlistDepth, &library)) found = library.name == "dict";
  }
  if (!found) {
    if (reader.failed()) return 0;
    Log(LEVEL_WARNING, "Unable to locate any <dict> elements under plist");
    return 0;
  }
  int result = 0;
  XmlElement element;
  bool have = false;
  for (;;) {
    if (!have && !reader.NextChild(kLibraryDepth, &element)) break;
    have = false;
    if (handler.CheckQuit()) return 0;
    if (element.name != "key") continue;
    if (!element.has_text) {
      Log(LEVEL_INFO, "Empty content between <key> tags found while parsing iTunes history file");
      continue;
    }
    if (element.text != "Tracks") continue;
    XmlElement tracks;
    if (!reader.NextChild(kLibraryDepth, &tracks)) {
      if (reader.failed()) return 0;
      Log(LEVEL_WARNING, "There were no Tracks in the iTunes history file!");
      return 1;
    }
    if (tracks.name != "dict") {
      AppLog().LogDetail(
          "The element following <key>Tracks</key> was not a <dict>, could not parse iTunes "
          "history file",
          options.path, LEVEL_ERROR, MODULE_ITUNES);
    }
    if (options.playlist_only) {
      Log(LEVEL_INFO, "Play list only flag set, not parsing iTunes library as history records");
    } else {
      result = TrackPass(reader, options, handler).Run();
    }
    // The walk goes on with the element after the key, which is this one.
    if (tracks.name == "key") {
      element = std::move(tracks);
      have = true;
    }
  }
  return reader.failed() ? 0 : result;
}

}  // namespace

int WalkItunesLibrary(const ByteSourceOpener& open, const ItunesWalkOptions& options,
                      ItunesTrackHandler& handler) {
  std::unique_ptr<platform::ByteSource> source = open();
  if (!source) {
    LogLoadFailure(options.path, "the file could not be opened");
    return 0;
  }
  bool stopped = false;
  const std::function<bool()> stop = [&] {
    stopped = handler.CheckQuit();
    return stopped;
  };
  // A library in order is proven well-formed by the quick check; one it
  // cannot prove (a fault, or a form it does not read) is checked by Expat,
  // whose verdict and message stand.
  XmlDocumentPrint print;
  const QuickCheck quick = QuickCheckWellFormed(*source, stop, &print);
  if (quick == QuickCheck::kStopped) return 0;
  if (quick == QuickCheck::kInDoubt) {
    source = open();
    if (!source) {
      LogLoadFailure(options.path, "the file could not be opened");
      return 0;
    }
    std::string error;
    const bool well_formed = CheckWellFormed(*source, &error, stop, &print);
    if (stopped) return 0;
    if (!well_formed) {
      LogLoadFailure(options.path, error);
      return 0;
    }
  }
  source = open();
  if (!source) {
    LogLoadFailure(options.path, "the file could not be opened");
    return 0;
  }
  // The same bytes again, read by the plain scanner where it can.
  ItunesXmlReader reader(*source, kTrackDepth + 1, &print);
  const int result = Walk(reader, options, handler);
  if (reader.failed()) {
    LogLoadFailure(options.path, reader.error());
    return 0;
  }
  return result;
}

int ParseItunesHistoryFile(const std::string& path, BOOL playlist_only, ItunesTrackHandler& handler,
                           std::int64_t now, ItunesTrackLookup* lookup) {
  if (path.empty()) {
    Log(LEVEL_ERROR, "ParseItunesHistoryFile was passed an empty file name to parse");
    return 0;
  }
  ItunesWalkOptions options;
  options.path = path;
  options.playlist_only = playlist_only;
  options.lookup = lookup;
  options.now = now;
  const ByteSourceOpener open = [&path]() -> std::unique_ptr<platform::ByteSource> {
    platform::FileInfo info;
    // Only a regular file: opening a FIFO or a device would block or never end.
    if (!platform::StatFile(path, &info) || !info.is_regular) return nullptr;
    auto file = std::make_unique<platform::FileSource>();
    if (!file->Open(path)) return nullptr;
    return file;
  };
  return WalkItunesLibrary(open, options, handler);
}
