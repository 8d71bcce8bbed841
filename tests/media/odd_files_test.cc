// Music files as taggers write them, odd ones included: every tagged format
// whole and cut short, and MP3 and FLAC files whose tags were written by
// hand (ID3v2.2, 2.3 and 2.4, unsynchronisation, an extended header, a
// damaged frame, APEv2 and ID3v1 together, a metadata block of a wrong
// length), and the files of encoders and taggers that tools/tagger-corpus
// writes, whole and damaged. ReadTags must give the title, artist, album and
// track that an independent reader (python3-mutagen) finds, wherever it
// finds them, and never crash or hang on any of them (the suite runs under
// the sanitizers).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "media/tag_reader.h"
#include "platform/text.h"
#include "tests/support/media_cache.h"
#include "tests/support/temp_env.h"

namespace {

namespace fs = std::filesystem;
using test_media::TagSupport;

constexpr const char* kMutagen = "/usr/bin/python3";

// Title, artist, album and track of one file.
struct Four {
  std::string title, artist, album, track;
};

std::string Bytes(const std::string& path) { return testing_support::ReadFile(path); }
void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string BigEndian(std::uint32_t v, int n) {
  std::string out;
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}
std::string SyncSafe(std::uint32_t v) {
  std::string out;
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (7 * i)) & 0x7F));
  return out;
}

// One ID3v2 frame of `major` version 2, 3 or 4.
std::string Frame(int major, const std::string& id, const std::string& data) {
  if (major == 2) return id + BigEndian(static_cast<std::uint32_t>(data.size()), 3) + data;
  return id + (major == 4 ? SyncSafe(data.size()) : BigEndian(data.size(), 4)) +
         std::string(2, '\0') + data;
}
std::string Text(int major, const std::string& id, const std::string& latin1) {
  return Frame(major, id, std::string(1, '\0') + latin1);
}

// The tag round `frames`: "ID3", version, flags, size.
std::string Id3(int major, const std::string& frames, std::uint8_t flags = 0) {
  return std::string("ID3") + static_cast<char>(major) + '\0' + static_cast<char>(flags) +
         SyncSafe(static_cast<std::uint32_t>(frames.size())) + frames;
}

// Inserts 0x00 after every 0xFF (ID3v2 unsynchronisation).
std::string Unsync(const std::string& data) {
  std::string out;
  for (char c : data) {
    out.push_back(c);
    if (static_cast<unsigned char>(c) == 0xFF) out.push_back('\0');
  }
  return out;
}

// The audio of an MP3 file without its leading ID3v2 tag.
std::string MpegAudio(const std::string& bytes) {
  if (bytes.size() < 10 || bytes.compare(0, 3, "ID3") != 0) return bytes;
  std::uint32_t size = 0;
  for (int i = 6; i < 10; ++i) size = (size << 7) | (static_cast<unsigned char>(bytes[i]) & 0x7F);
  return bytes.substr(10 + size + ((bytes[5] & 0x10) ? 10 : 0));
}

std::string ApeTag(const std::map<std::string, std::string>& items) {
  std::string body;
  for (const auto& [key, value] : items) {
    std::string le_len, flags(4, '\0');
    for (int i = 0; i < 4; ++i)
      le_len.push_back(static_cast<char>((value.size() >> (8 * i)) & 0xFF));
    body += le_len + flags + key + '\0' + value;
  }
  auto le = [](std::uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return out;
  };
  const std::uint32_t size = static_cast<std::uint32_t>(body.size() + 32);
  return body + "APETAGEX" + le(2000) + le(size) + le(items.size()) + le(0) + std::string(8, '\0');
}

std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album,
                  int track) {
  auto pad = [](std::string s, std::size_t n) {
    s.resize(n, '\0');
    return s;
  };
  return "TAG" + pad(title, 30) + pad(artist, 30) + pad(album, 30) + pad("2001", 4) + pad("", 28) +
         '\0' + static_cast<char>(track) + static_cast<char>(12);
}

class OddFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_media::FfmpegAvailable() || !fs::exists(kMutagen))
      GTEST_SKIP() << "needs ffmpeg and python3";
    dir_ = env_.Path("corpus");
    fs::create_directories(dir_);
  }
  std::string Tagged(const std::string& format) {
    return media_cache::CachedMedia(media_cache::TaggedPlan(format));
  }
  std::string Add(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    Put(path, bytes);
    corpus_.push_back(path);
    return path;
  }
  // What mutagen reads of every file of the corpus; a file it cannot read
  // is missing from the map.
  std::map<std::string, Four> Mutagen() {
    const std::string script = env_.Path("read.py");
    Put(script,
        "import sys, mutagen, mutagen.apev2\n"
        "keys = {'title': ['title', 'TIT2', 'TT2', 'Title', '\\xa9nam'],\n"
        "        'artist': ['artist', 'TPE1', 'TP1', 'Artist', 'Author', '\\xa9ART'],\n"
        "        'album': ['album', 'TALB', 'TAL', 'Album', 'WM/AlbumTitle', '\\xa9alb'],\n"
        "        'track': ['tracknumber', 'TRCK', 'TRK', 'Track', 'WM/TrackNumber', 'trkn']}\n"
        "def first(tags, names):\n"
        "    for n in names:\n"
        "        try:\n"
        "            v = tags[n]\n"
        "        except Exception:\n"
        "            continue\n"
        "        v = getattr(v, 'text', v)\n"
        "        v = v[0] if isinstance(v, list) and v else v\n"
        "        v = v[0] if isinstance(v, tuple) else v\n"
        "        v = getattr(v, 'value', v)\n"
        "        return str(v).replace('\\t', ' ').replace('\\n', ' ')\n"
        "    return ''\n"
        "for p in sys.argv[1:]:\n"
        "    try:\n"
        "        f = mutagen.File(p)\n"
        "    except Exception:\n"
        "        continue\n"
        "    tags = None if f is None else f.tags\n"
        "    if tags is None:\n"
        "        try:\n"
        "            tags = mutagen.apev2.APEv2(p)\n"
        "        except Exception:\n"
        "            continue\n"
        "    print('\\t'.join([p] + [first(tags, keys[k]) for k in\n"
        "                             ('title', 'artist', 'album', 'track')]))\n");
    std::string command = std::string(kMutagen) + " " + script;
    for (const std::string& path : corpus_) command += " '" + path + "'";
    std::map<std::string, Four> found;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return found;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      std::istringstream fields(std::string(line, std::strcspn(line, "\n")));
      std::string path;
      Four four;
      std::getline(fields, path, '\t');
      std::getline(fields, four.title, '\t');
      std::getline(fields, four.artist, '\t');
      std::getline(fields, four.album, '\t');
      std::getline(fields, four.track, '\t');
      found[path] = four;
    }
    ::pclose(pipe);
    return found;
  }
  static Four Ours(const std::string& path) {
    MediaTagSet tags;
    std::memset(&tags, 0, sizeof tags);
    tags.cbSize = kMediaTagSetSize;
    tags.cchField = kMediaTagChars;
    ReadTags(path, &tags);
    return {platform::Utf16ToUtf8(tags.title), platform::Utf16ToUtf8(tags.artist),
            platform::Utf16ToUtf8(tags.album), platform::Utf16ToUtf8(tags.track)};
  }
  // Reads every file of the corpus (no crash, no hang) and compares each
  // field mutagen reads with ours; prints how many agree under `label`. Of a
  // damaged file a field may be missing (the damage may hide it from one
  // reader and not the other), never different, unless the file holds two
  // tags ("two-tags.*") and the damage hides the one mutagen prefers.
  void CompareWithMutagen(const char* label) {
    const std::map<std::string, Four> theirs = Mutagen();
    ASSERT_FALSE(theirs.empty()) << "mutagen read nothing (is python3-mutagen installed?)";
    int compared = 0;
    int agreed = 0;
    std::string missing;
    for (const std::string& path : corpus_) {
      const Four ours = Ours(path);
      auto it = theirs.find(path);
      if (it == theirs.end()) continue;
      const Four& their = it->second;
      const std::pair<std::string, std::string> fields[] = {
          {their.title, ours.title},
          {their.artist, ours.artist},
          {their.album, ours.album},
          {TrackNumber(their.track), TrackNumber(ours.track)}};
      const bool is_damaged = damaged_.count(path) != 0;
      const bool either_tag =
          is_damaged && fs::path(path).filename().string().rfind("two-tags.", 0) == 0;
      for (const auto& [want, got] : fields) {
        if (want.empty()) continue;
        ++compared;
        if (want == got) {
          ++agreed;
          continue;
        }
        if (is_damaged && (got.empty() || either_tag)) {
          missing += " " + fs::path(path).filename().string();
          continue;
        }
        ADD_FAILURE() << fs::path(path).filename() << ": \"" << got << "\", mutagen reads \""
                      << want << "\"";
      }
    }
    std::printf("%s: %zu files, mutagen read %zu; %d of %d fields agree\n", label, corpus_.size(),
                theirs.size(), agreed, compared);
    if (!missing.empty())
      std::printf("of damaged files, fields read otherwise than mutagen or not at all:%s\n",
                  missing.c_str());
  }
  // "3/12" and "3" are the same track.
  static std::string TrackNumber(const std::string& track) {
    return track.substr(0, track.find('/'));
  }

  CTagReaderRef ref_;
  testing_support::TempEnv env_;
  std::string dir_;
  std::vector<std::string> corpus_;
  std::set<std::string> damaged_;
};

TEST_F(OddFilesTest, EveryFieldThatMutagenReadsIsReadTheSame) {
  // Every tagged format, whole and cut to two thirds and to one tenth.
  for (const auto& format : test_media::TestMediaFormats()) {
    if (format.tags != TagSupport::kAll) continue;
    const std::string bytes = Bytes(Tagged(format.extension));
    ASSERT_FALSE(bytes.empty()) << format.extension;
    Add("whole." + format.extension, bytes);
    Add("cut." + format.extension, bytes.substr(0, bytes.size() * 2 / 3));
    Add("stub." + format.extension, bytes.substr(0, bytes.size() / 10));
  }
  // MP3 tags written by hand over the same audio.
  const std::string audio = MpegAudio(Bytes(Tagged("mp3")));
  for (int major : {2, 3, 4}) {
    const bool v22 = major == 2;
    std::string frames = Text(major, v22 ? "TT2" : "TIT2", "Version " + std::to_string(major)) +
                         Text(major, v22 ? "TP1" : "TPE1", "Hand Tagger") +
                         Text(major, v22 ? "TAL" : "TALB", "Odd Files") +
                         Text(major, v22 ? "TRK" : "TRCK", "7/9");
    Add("v2" + std::to_string(major) + ".mp3", Id3(major, frames) + audio);
  }
  // A damaged popularimeter between good frames: no terminated e-mail, no
  // rating.
  Add("bad-popm.mp3",
      Id3(3, Text(3, "TIT2", "Before The Damage") + Frame(3, "POPM", std::string("\xff\xfe", 2)) +
                 Text(3, "TPE1", "After The Damage") + Text(3, "TRCK", "4")) +
          audio);
  // A text frame whose size runs past the tag: the frames before it stay.
  Add("overrun.mp3", Id3(3, Text(3, "TIT2", "Kept Title") + "TPE1" + BigEndian(5000, 4) +
                                std::string(2, '\0') + "\0Lost") +
                         audio);
  // Unsynchronisation over a title with a 0xFF byte, and an extended header.
  Add("unsync.mp3",
      Id3(3, Unsync(Text(3, "TIT2", "Caf\xff Song") + Text(3, "TPE1", "Unsynced")), 0x80) + audio);
  Add("extended.mp3", Id3(3,
                          BigEndian(6, 4) + std::string(6, '\0') +
                              Text(3, "TIT2", "Extended Header") + Text(3, "TALB", "Ext"),
                          0x40) +
                          audio);
  // APEv2 and ID3v1 together at the end (the same values, as taggers
  // write them), no ID3v2.
  Add("ape-v1.mp3", audio + ApeTag({{"Title", "Both Tags"}, {"Artist", "Two Taggers"}}) +
                        Id3v1("Both Tags", "Two Taggers", "V1 Album", 5));
  Add("v1-only.mp3", audio + Id3v1("Only V1", "Old Tagger", "Old Album", 11));

  // FLAC: the block after the stream info declares a length past the file.
  std::string flac = Bytes(Tagged("flac"));
  if (flac.size() > 50 && flac.compare(0, 4, "fLaC") == 0) {
    std::size_t at = 4;
    at += 4 + ((static_cast<unsigned char>(flac[at + 1]) << 16) |
               (static_cast<unsigned char>(flac[at + 2]) << 8) |
               static_cast<unsigned char>(flac[at + 3]));
    std::string wrong = flac;
    wrong[at + 1] = '\x7f';
    Add("wrong-length.flac", wrong);
  }

  CompareWithMutagen("odd files");
}

// Files of Debian's encoders and of mutagen as a tagger, and containers no
// tool here writes, written by the corpus tool: Opus, Speex, WavPack,
// Musepack, True Audio, DSF, Vorbis comments over several Ogg pages, ID3
// chunks in WAV and AIFF, MP4 with 64-bit offsets and atom sizes; each whole
// and damaged (cut short, lengths made too large or one too small).
TEST_F(OddFilesTest, FilesOfEncodersAndTaggersAreReadAsMutagenReadsThem) {
  const std::string command = std::string(kMutagen) + " " + TAGGER_CORPUS + " '" + dir_ + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  int whole = 0;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text(line, std::strcspn(line, "\n"));
    const std::size_t tab = text.find('\t');
    const std::string kind = text.substr(0, tab);
    if (kind != "whole" && kind != "damaged") {
      // An encoder missing ("missing<TAB>opusenc") or the tool's own error.
      ADD_FAILURE() << text << " (scripts/install-deps.sh installs the encoders)";
      continue;
    }
    corpus_.push_back(text.substr(tab + 1));
    if (kind == "damaged") damaged_.insert(corpus_.back());
    whole += kind == "whole";
  }
  ASSERT_EQ(::pclose(pipe), 0);
  EXPECT_GE(whole, 20);
  CompareWithMutagen("encoder and tagger files");
  // Tags that mutagen does not read: the artist as UTF-16 MP4 text, and
  // AIFF's own name and author chunks.
  EXPECT_EQ(Ours(dir_ + "/text-types.m4a").artist, "Ärtist co6");
  const Four aiff = Ours(dir_ + "/text-chunks.aiff");
  EXPECT_EQ(aiff.title, "Title of text-chunks");
  EXPECT_EQ(aiff.artist, "Author");
}

}  // namespace
