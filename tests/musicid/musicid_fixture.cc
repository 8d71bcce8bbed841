#include "tests/musicid/musicid_fixture.h"

#include <sstream>

namespace musicid_test {

std::string Results(double score, const std::vector<Rec>& recordings) {
  std::ostringstream out;
  out << R"([{"id":"acoustid-1","score":)" << score << R"(,"recordings":[)";
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    const Rec& r = recordings[i];
    out << (i ? "," : "") << R"({"id":")" << r.id << R"(","title":")" << r.title
        << R"(","artists":[{"name":")" << r.artist << R"("}],"releasegroups":[{"id":")" << r.group
        << R"(","title":")" << r.album << R"(","type":"Album","artists":[{"name":")"
        << r.album_artist << R"("}]}]})";
  }
  out << "]}]";
  return out.str();
}

void MusicIdFixture::SetUp() {
  AppSettings().SetCompanyName("KIV");
  AppSettings().SetApplicationName("Windows Client");
  std::filesystem::create_directories(platform::DataDir());
  AppLog().SetLogFile(env_.Path("kivclient.log"));
  AppLog().SetLogLevel(LEVEL_VERBOSE);
  AppLog().SetLogModuleMask(MODULE_EVERYTHING);
  ASSERT_TRUE(KivDB::Initialise(clock_));
  music_ = env_.Path("music");
  std::filesystem::create_directories(music_);
  loop_.SetHandler([this](Message& message) { posted_.push_back(message); });

  const std::string modules = env_.Path("modules");
  std::filesystem::create_directories(modules);
  std::filesystem::create_symlink(CONTROL_MODULE, modules + "/" + kCddbControlModule);
  std::filesystem::create_symlink(MUSICID_MODULE, modules + "/" + kCddbMusicIdModule);
  ASSERT_EQ(loader_.Init(modules, false), S_OK);
  SetCddbLoader(&loader_);

  service_ = std::make_unique<kiv_devserver::DevServer>(
      env_.Path("lookup"), std::vector<std::string>{}, kiv_devserver::IdentifyDevServiceScript());
  ASSERT_TRUE(service_->ok());
  AppSettings().WriteString(kSubKeySettings, kIdentifyUrlValue, service_->Base() + "/v2/lookup");
  AppSettings().WriteString(kSubKeySettings, kIdentifyClientKeyValue, "testkey");
  SearchPathMap paths;
  paths[SearchPathKey(music_)] = 1;
  ASSERT_TRUE(SaveSearchPaths(paths));
}

void MusicIdFixture::TearDown() {
  SetMusicIdWrapper(nullptr);
  SetCddbLoader(nullptr);
  service_.reset();
  KivDB::Shutdown();
}

std::string MusicIdFixture::PutTrack(const std::string& relative, double seconds,
                                     const test_media::MediaTags& tags) {
  test_media::MediaPlan plan;
  plan.format = "mp3";
  plan.seconds = seconds;
  plan.tags = tags;
  const std::string source = media_cache::CachedMedia(plan);
  const std::string path = music_ + "/" + relative;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  KivDB db;
  EXPECT_TRUE(db.AddEntry(path)) << path;
  DBEntry entry;
  if (db.GetEntry(path, &entry) && db.GetTagEntry(&entry, TRUE) == S_OK)
    db.UpdateEntry(&entry, FALSE);
  return path;
}

DBEntry MusicIdFixture::Record(const std::string& path) {
  KivDB db;
  DBEntry entry{};
  EXPECT_TRUE(db.GetEntry(path, &entry)) << path;
  return entry;
}

MusicIdEnvironment MusicIdFixture::Environment() {
  MusicIdEnvironment env;
  env.loader = &loader_;
  env.main_window = &loop_;
  env.clock = &clock_;
  env.folder = env_.Path("modules");
  return env;
}

std::string MusicIdFixture::Fingerprint(const std::string& path) {
  KivClientMusicID wrapper(Environment());
  EXPECT_EQ(wrapper.Initialise(), S_OK);
  std::string fingerprint;
  EXPECT_EQ(wrapper.GenerateFingerprint(path, &fingerprint, nullptr), S_OK);
  return fingerprint;
}

void MusicIdFixture::Answers(const std::string& members) {
  service_->SetConfig("{" + members + "}");
}

HRESULT MusicIdFixture::Identify(const std::vector<std::string>& files) {
  KivClientMusicID wrapper(Environment());
  SetMusicIdWrapper(&wrapper);
  HRESULT hr = wrapper.Initialise();
  if (FAILED(hr)) return hr;
  for (const std::string& file : files) EXPECT_EQ(wrapper.AddFile(file), S_OK);
  KivDB db;
  hr = wrapper.IdentifyAll(&agent_, &db);
  wrapper.Shutdown();
  SetMusicIdWrapper(nullptr);
  return hr;
}

std::vector<Message> MusicIdFixture::Posted() {
  loop_.ProcessPending();
  std::vector<Message> out;
  out.swap(posted_);
  return out;
}

std::vector<std::string> MusicIdFixture::PostedTexts(UINT id) {
  std::vector<std::string> texts;
  for (const Message& m : Posted())
    if (m.id == id) texts.push_back(m.payload);
  return texts;
}

}  // namespace musicid_test
