#include "tools/test_media.h"

#include <taglib/fileref.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace test_media {
namespace {

enum class Tagger { kFfmpeg, kTagLib, kNone };

struct Recipe {
  FormatInfo info;
  const char* ffmpeg_args;  // muxer and encoder
  Tagger tagger;
  int fixed_rate;  // 0: the plan's rate
  bool lossy;
};

const std::vector<Recipe>& Recipes() {
  static const std::vector<Recipe> recipes = {
      {{"mp3", TagSupport::kAll, false}, "-f mp3 -c:a libmp3lame", Tagger::kFfmpeg, 0, true},
      {{"mp2", TagSupport::kAll, false}, "-f mp2 -c:a mp2", Tagger::kTagLib, 0, true},
      {{"ogg", TagSupport::kAll, false}, "-f ogg -c:a libvorbis", Tagger::kFfmpeg, 0, true},
      {{"oga", TagSupport::kAll, false}, "-f ogg -c:a flac", Tagger::kFfmpeg, 0, false},
      {{"opus", TagSupport::kAll, false}, "-f ogg -c:a libopus", Tagger::kFfmpeg, 48000, true},
      {{"spx", TagSupport::kAll, false}, "-f ogg -c:a libspeex", Tagger::kFfmpeg, 32000, true},
      {{"flac", TagSupport::kAll, false}, "-f flac -c:a flac", Tagger::kFfmpeg, 0, false},
      {{"fla", TagSupport::kAll, false}, "-f flac -c:a flac", Tagger::kFfmpeg, 0, false},
      {{"m4a", TagSupport::kAll, true}, "-f ipod -c:a aac", Tagger::kFfmpeg, 0, true},
      {{"m4p", TagSupport::kAll, true}, "-f ipod -c:a aac", Tagger::kFfmpeg, 0, true},
      {{"m4b", TagSupport::kAll, true}, "-f ipod -c:a aac", Tagger::kFfmpeg, 0, true},
      {{"wav", TagSupport::kAll, false}, "-f wav -c:a pcm_s16le", Tagger::kFfmpeg, 0, false},
      {{"aiff", TagSupport::kAll, false},
       "-f aiff -c:a pcm_s16be -write_id3v2 1",
       Tagger::kFfmpeg,
       0,
       false},
      {{"aif", TagSupport::kAll, false},
       "-f aiff -c:a pcm_s16be -write_id3v2 1",
       Tagger::kFfmpeg,
       0,
       false},
      {{"wma", TagSupport::kAll, false}, "-f asf -c:a wmav2", Tagger::kFfmpeg, 0, true},
      {{"wv", TagSupport::kAll, false}, "-f wv -c:a wavpack", Tagger::kFfmpeg, 0, false},
      {{"tta", TagSupport::kAll, false}, "-f tta -c:a tta", Tagger::kFfmpeg, 0, false},
      {{"aac", TagSupport::kAll, false},
       "-f adts -c:a aac -write_apetag 1",
       Tagger::kFfmpeg,
       0,
       true},
      {{"adts", TagSupport::kAll, false},
       "-f adts -c:a aac -write_apetag 1",
       Tagger::kFfmpeg,
       0,
       true},
      {{"mka", TagSupport::kAll, false}, "-f matroska -c:a libvorbis", Tagger::kFfmpeg, 0, true},
      {{"caf", TagSupport::kAll, false}, "-f caf -c:a alac", Tagger::kFfmpeg, 0, false},
      {{"au", TagSupport::kPartial, false}, "-f au -c:a pcm_s16be", Tagger::kFfmpeg, 0, false},
      {{"snd", TagSupport::kPartial, false}, "-f au -c:a pcm_s16be", Tagger::kFfmpeg, 0, false},
      {{"ac3", TagSupport::kNone, false}, "-f ac3 -c:a ac3", Tagger::kNone, 0, true},
      {{"eac3", TagSupport::kNone, false}, "-f eac3 -c:a eac3", Tagger::kNone, 0, true},
      {{"dts", TagSupport::kNone, false}, "-f dts -c:a dca -strict -2", Tagger::kNone, 0, true},
      {{"w64", TagSupport::kNone, false}, "-f w64 -c:a pcm_s16le", Tagger::kNone, 0, false},
  };
  return recipes;
}

const Recipe* FindRecipe(const std::string& extension) {
  for (const Recipe& recipe : Recipes()) {
    if (recipe.info.extension == extension) return &recipe;
  }
  return nullptr;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// ffmetadata escapes '=', ';', '#', '\' and newlines with a backslash.
std::string MetadataEscape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '=' || c == ';' || c == '#' || c == '\\' || c == '\n') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string MetadataFile(const MediaTags& tags) {
  std::ostringstream out;
  out << ";FFMETADATA1\n";
  const std::pair<const char*, const std::string*> fields[] = {
      {"title", &tags.title},    {"artist", &tags.artist}, {"album", &tags.album},
      {"genre", &tags.genre},    {"date", &tags.date},     {"track", &tags.track},
      {"comment", &tags.comment}};
  for (const auto& [key, value] : fields) {
    if (!value->empty()) out << key << '=' << MetadataEscape(*value) << '\n';
  }
  return out.str();
}

// A short melody, so the signal is not one constant tone: each channel steps
// through four notes.
std::string Source(const MediaPlan& plan, int rate) {
  std::string left = "sin(2*PI*(440+110*floor(mod(t*4\\,4)))*t)";
  std::string right = "sin(2*PI*(330+110*floor(mod(t*3\\,4)))*t)";
  std::string channels = left;
  for (int i = 1; i < plan.channels; ++i) channels += "|" + (i % 2 ? right : left);
  std::ostringstream out;
  out << "aevalsrc=" << channels << ":s=" << rate << ":d=" << plan.seconds;
  return out.str();
}

std::string WriteTagsWithTagLib(const std::string& path, const MediaTags& tags) {
  TagLib::PropertyMap properties;
  const std::pair<const char*, const std::string*> fields[] = {
      {"TITLE", &tags.title},    {"ARTIST", &tags.artist}, {"ALBUM", &tags.album},
      {"GENRE", &tags.genre},    {"DATE", &tags.date},     {"TRACKNUMBER", &tags.track},
      {"COMMENT", &tags.comment}};
  for (const auto& [key, value] : fields) {
    if (!value->empty()) properties[key] = TagLib::String(*value, TagLib::String::UTF8);
  }
  if (properties.isEmpty()) return "";
  TagLib::MPEG::File file(path.c_str(), false);
  if (!file.isValid()) return "TagLib cannot open " + path;
  file.setProperties(properties);
  return file.save(TagLib::MPEG::File::ID3v2) ? "" : "TagLib cannot save " + path;
}

std::string WriteGnid(const std::string& path, const std::string& gnid) {
  TagLib::MP4::File file(path.c_str(), false);
  if (!file.isValid()) return "TagLib cannot open " + path;
  file.tag()->setItem("----:com.apple.iTunes:gnid",
                      TagLib::StringList(TagLib::String(gnid, TagLib::String::UTF8)));
  return file.save() ? "" : "TagLib cannot save " + path;
}

}  // namespace

const std::vector<FormatInfo>& TestMediaFormats() {
  static const std::vector<FormatInfo> formats = [] {
    std::vector<FormatInfo> list;
    for (const Recipe& recipe : Recipes()) list.push_back(recipe.info);
    return list;
  }();
  return formats;
}

const FormatInfo* FindFormat(const std::string& extension) {
  const Recipe* recipe = FindRecipe(extension);
  return recipe != nullptr ? &recipe->info : nullptr;
}

std::string SetTagProperty(const std::string& path, const std::string& key,
                           const std::string& value) {
  TagLib::FileRef file(path.c_str(), false);
  if (file.isNull()) return "TagLib cannot open " + path;
  TagLib::PropertyMap properties = file.file()->properties();
  properties.replace(key, TagLib::StringList(TagLib::String(value, TagLib::String::UTF8)));
  file.file()->setProperties(properties);
  return file.save() ? "" : "TagLib cannot save " + path;
}

std::string MakeTestMedia(const std::string& path, const MediaPlan& plan) {
  const Recipe* recipe = FindRecipe(plan.format);
  if (recipe == nullptr) return "unknown format " + plan.format;
  if (plan.channels < 1 || plan.channels > 8 || plan.seconds <= 0) return "bad plan";
  int rate = recipe->fixed_rate != 0 ? recipe->fixed_rate : plan.sample_rate;

  std::string metadata_path = path + ".ffmeta";
  std::string error_path = path + ".ffmpeg-errors";
  if (recipe->tagger == Tagger::kFfmpeg) {
    std::ofstream(metadata_path, std::ios::binary) << MetadataFile(plan.tags);
  }
  std::ostringstream command;
  command << "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
          << ShellQuote(Source(plan, rate));
  if (recipe->tagger == Tagger::kFfmpeg) {
    command << " -f ffmetadata -i " << ShellQuote(metadata_path) << " -map_metadata 1";
  } else {
    command << " -map_metadata -1";
  }
  command << " -map 0:a -fflags +bitexact -flags:a +bitexact " << recipe->ffmpeg_args;
  if (recipe->lossy && plan.bitrate_kbps > 0) command << " -b:a " << plan.bitrate_kbps << "k";
  command << " " << ShellQuote(path) << " 2>" << ShellQuote(error_path);
  int status = std::system(command.str().c_str());

  std::error_code ignored;
  std::string error;
  if (status != 0) {
    std::ifstream errors(error_path);
    error = "ffmpeg failed: " +
            std::string(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove(metadata_path, ignored);
  std::filesystem::remove(error_path, ignored);
  if (!error.empty()) return error;

  if (recipe->tagger == Tagger::kTagLib) error = WriteTagsWithTagLib(path, plan.tags);
  if (error.empty() && recipe->info.gnid && !plan.tags.gnid.empty()) {
    error = WriteGnid(path, plan.tags.gnid);
  }
  return error;
}

double SecondsForSize(const MediaPlan& plan, long long bytes) {
  const Recipe* recipe = FindRecipe(plan.format);
  if (recipe != nullptr && recipe->lossy) {
    int kbps = plan.bitrate_kbps > 0 ? plan.bitrate_kbps : 128;
    return bytes * 8.0 / (kbps * 1000.0);
  }
  return static_cast<double>(bytes) / (plan.sample_rate * plan.channels * 2.0);
}

bool FfmpegAvailable() {
  return std::system("ffmpeg -hide_banner -loglevel quiet -version >/dev/null 2>&1") == 0;
}

}  // namespace test_media
