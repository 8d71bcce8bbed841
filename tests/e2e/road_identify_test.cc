// The road with identification on: vornic fingerprints the new files with
// the component beside it, looks them up at the development lookup service
// and describes them to the server with the identification's tags. Without
// a client key the tracks still reach the server, unidentified.
#include <gtest/gtest.h>

#include "app/reg_settings.h"
#include "tests/e2e/road_fixture.h"

namespace road_test {
namespace {

constexpr int kTracks = 2;

class RoadIdentifyTest : public RoadTest {
 protected:
  void StartLookup(const std::string& config) {
    lookup_ = std::make_unique<DevServer>(env_.Path("lookup"), std::vector<std::string>{},
                                          kiv_devserver::IdentifyDevServiceScript());
    ASSERT_TRUE(lookup_->ok());
    lookup_->SetConfig(config);
    ASSERT_TRUE(
        AppSettings().WriteString(kSubKeySettings, "IdentifyUrl", lookup_->Base() + "/v2/lookup"));
  }
  std::unique_ptr<DevServer> lookup_;
};

TEST_F(RoadIdentifyTest, IdentifiedTracksReachTheServerWithTheirIdentification) {
  StartServer();
  StartLookup(R"({"keys":["road-key"],"default":{"results":[{"id":"a","score":0.96,
    "recordings":[{"id":"rec-road","title":"Identified Title","artists":[{"name":"Found Artist"}],
    "releasegroups":[{"id":"rg","title":"Found Album","type":"Album",
                      "artists":[{"name":"Found Artist"}]}]}]}]}})");
  ASSERT_TRUE(AppSettings().WriteString(kSubKeySettings, "IdentifyClientKey", "road-key"));
  SetSettingDword("UseMusicID", 1);
  PutTracks(kTracks);

  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return AllReached(kTracks); })) << LogText();
  StopVornic();

  EXPECT_EQ(lookup_->Calls().size(), static_cast<std::size_t>(kTracks));
  int identified = 0;
  for (const DevServer::Call& batch : AnsweredBatches())
    for (std::size_t at = batch.flat.find("rec-road"); at != std::string::npos;
         at = batch.flat.find("rec-road", at + 1))
      ++identified;
  EXPECT_EQ(identified, kTracks);
  const std::string batch = AnsweredBatches().front().flat;
  EXPECT_NE(batch.find("Identified Title"), std::string::npos);
  EXPECT_NE(batch.find("Found Album"), std::string::npos);
  for (int i = 0; i < kTracks; ++i) {
    const DBEntry e = Records().at(TrackPath(i));
    EXPECT_TRUE(e.flags & DBFLAG_IDENTIFIED) << i;
    EXPECT_EQ(EntryText(e.gn_id), "rec-road");
    EXPECT_NE(e.kiv_id, 0u);
  }
}

TEST_F(RoadIdentifyTest, WithoutAClientKeyTheTracksStillReachTheServer) {
  StartServer();
  StartLookup("{}");
  SetSettingDword("UseMusicID", 1);
  PutTracks(kTracks);

  StartVornic();
  ASSERT_TRUE(WaitFor([&] { return AllReached(kTracks); })) << LogText();
  StopVornic();

  EXPECT_TRUE(lookup_->Calls().empty());
  EXPECT_NE(LogText().find("AgentMusicID: identification cannot run: No client key"),
            std::string::npos);
  for (int i = 0; i < kTracks; ++i)
    EXPECT_FALSE(Records().at(TrackPath(i)).flags & DBFLAG_IDENTIFIED);
}

}  // namespace
}  // namespace road_test
