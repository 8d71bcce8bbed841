#include "ui/folders_page.h"

#include <QLabel>
#include <QTest>
#include <filesystem>

#include "app/reg_settings.h"
#include "app/search_paths.h"
#include "tests/ui/ui_fixture.h"

namespace ui_test {
namespace {

class FoldersPageTest : public UiTest {
 protected:
  FoldersPageTest() {
    music_ = env_.Path("music");
    rock_ = env_.Path("rock");
    std::filesystem::create_directories(music_);
    std::filesystem::create_directories(rock_);
  }
  CFoldersPage& Page() {
    if (!page_) {
      page_ = std::make_unique<CFoldersPage>(&loop_);
      page_->show();
    }
    return *page_;
  }
  QListWidgetItem* Item(int row) { return Page().list()->item(row); }
  bool Enabled(const char* id) { return Control<QPushButton>(&Page(), id)->isEnabled(); }
  SearchPathMap Stored() {
    SearchPathMap map;
    LoadSearchPaths(map);
    return map;
  }
  // The WM_SEARCH_PATHS_SAVED messages posted, by their wParam.
  std::vector<WPARAM> Saves() {
    std::vector<WPARAM> saves;
    for (const Message& m : TakeMessages())
      if (m.id == WM_SEARCH_PATHS_SAVED) saves.push_back(m.wParam);
    return saves;
  }
  DWORD Dword(const char* name) {
    DWORD value = 7;
    AppSettings().ReadDword(kSubKeySettings, name, value);
    return value;
  }

  std::vector<std::string> Listed() {
    std::vector<std::string> texts;
    for (int i = 0; i < Page().list()->count(); ++i) texts.push_back(Item(i)->text().toStdString());
    return texts;
  }

  std::string music_, rock_;
  std::unique_ptr<CFoldersPage> page_;
};

TEST_F(FoldersPageTest, TheListShowsTheStoredFoldersWithTheirChecksAndMissingOnesGrey) {
  const std::string gone = env_.Path("gone");
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}, {rock_, 0}, {gone, 1}}));
  ASSERT_EQ(Page().list()->count(), 3);
  EXPECT_EQ(Item(0)->text().toStdString(), gone);
  EXPECT_EQ(Item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(Item(2)->checkState(), Qt::Unchecked);
  const QPalette palette = Page().list()->palette();
  EXPECT_EQ(Item(0)->foreground().color(), palette.color(QPalette::Disabled, QPalette::Text));
  EXPECT_EQ(Item(1)->foreground().color(), palette.color(QPalette::Active, QPalette::Text));
  EXPECT_TRUE(Saves().empty());  // filling is no user change

  EXPECT_FALSE(Enabled("1092"));
  EXPECT_FALSE(Enabled("1122"));
  Item(1)->setSelected(true);
  EXPECT_TRUE(Enabled("1092"));
  EXPECT_TRUE(Enabled("1122"));
}

TEST_F(FoldersPageTest, AddingSavesANewFolderCheckedAndAListedOneChangesNothing) {
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}}));
  AppSettings().WriteDword(kSubKeySettings, "IndexComplete", 1);
  AppSettings().WriteDword(kSubKeySettings, "iTunesComplete", 1);
  EXPECT_FALSE(Page().AddPath(QString::fromStdString(music_)));
  EXPECT_FALSE(Page().AddPath(QString()));
  EXPECT_TRUE(Saves().empty());
  EXPECT_EQ(Dword("IndexComplete"), 1u);

  EXPECT_TRUE(Page().AddPath(QString::fromStdString(rock_)));
  EXPECT_EQ(Stored(), (SearchPathMap{{music_, 1}, {rock_, 1}}));
  EXPECT_EQ(Dword("IndexComplete"), 0u);
  EXPECT_EQ(Dword("iTunesComplete"), 0u);
  EXPECT_EQ(Saves(), std::vector<WPARAM>{0});
}

TEST_F(FoldersPageTest, TogglingACheckBoxSavesAtOnce) {
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}, {rock_, 1}}));
  Item(1)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(Stored(), (SearchPathMap{{music_, 1}, {rock_, 0}}));
  EXPECT_EQ(Saves(), std::vector<WPARAM>{0});
  // Other changes of an item are no toggle.
  Item(1)->setToolTip(QStringLiteral("tip"));
  EXPECT_TRUE(Saves().empty());
}

TEST_F(FoldersPageTest, DeletingEveryFolderLeavesNoPathInTheSettings) {
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}, {rock_, 1}}));
  Item(0)->setSelected(true);
  QTest::keyClick(Page().list(), Qt::Key_Delete);
  EXPECT_EQ(Stored(), (SearchPathMap{{rock_, 1}}));
  Page().list()->selectAll();
  QTest::mouseClick(Control<QPushButton>(&Page(), "1092"), Qt::LeftButton);
  EXPECT_EQ(Page().list()->count(), 0);
  std::string path0;
  EXPECT_FALSE(AppSettings().ReadStringUtf8(kSubKeySearchPaths, "path0", path0));
  EXPECT_EQ(Saves(), (std::vector<WPARAM>{0, 0}));
  EXPECT_FALSE(Enabled("1092"));

  // Nothing selected: nothing removed, nothing saved.
  Page().DeleteSelected();
  EXPECT_TRUE(Saves().empty());
}

TEST_F(FoldersPageTest, SearchAllNowSavesAndAsksForTheIndexerNow) {
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}}));
  QTest::mouseClick(Control<QPushButton>(&Page(), "1102"), Qt::LeftButton);
  EXPECT_EQ(Saves(), std::vector<WPARAM>{1});
  EXPECT_EQ(Stored(), (SearchPathMap{{music_, 1}}));
}

TEST_F(FoldersPageTest, ChangesMadeElsewhereAreShownAndKeptByTheNextToggle) {
  const std::string jazz = env_.Path("jazz");
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}, {rock_, 1}}));
  ASSERT_EQ(Listed(), (std::vector<std::string>{music_, rock_}));
  // From the terminal, while the page is open: one folder added, one removed.
  ASSERT_TRUE(ChangeSearchPaths([&](SearchPathMap& map) {
    map.erase(music_);
    map[jazz] = 1;
    return true;
  }));
  Page().OnSearchPathsSaved();
  EXPECT_EQ(Listed(), (std::vector<std::string>{jazz, rock_}));

  // Changed again without a message (a hand edit): a toggle made on the
  // stale page still keeps what is stored and changes only its own folder.
  ASSERT_TRUE(SaveSearchPaths({{jazz, 1}, {rock_, 1}, {music_, 1}}));
  Item(1)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(Stored(), (SearchPathMap{{jazz, 1}, {music_, 1}, {rock_, 0}}));
  EXPECT_EQ(Listed(), (std::vector<std::string>{jazz, music_, rock_}));
  EXPECT_EQ(Saves(), std::vector<WPARAM>{0});
}

TEST_F(FoldersPageTest, AFailedSaveIsSaidOnThePageAndTheStoredListStays) {
  ASSERT_TRUE(SaveSearchPaths({{music_, 1}}));
  ASSERT_FALSE(Page().error_line()->isVisibleTo(&Page()));
  // The rewrite cannot happen: its temp file's name is taken by a folder.
  const std::string temp = env_.ConfigHome() + "/kiv/registry.reg.tmp";
  std::filesystem::create_directories(temp);
  EXPECT_TRUE(Page().AddPath(QString::fromStdString(rock_)));
  EXPECT_TRUE(Page().error_line()->isVisibleTo(&Page()));
  EXPECT_TRUE(Page().error_line()->text().contains("could not be saved"));
  EXPECT_EQ(Listed(), std::vector<std::string>{music_});
  EXPECT_EQ(Stored(), (SearchPathMap{{music_, 1}}));
  EXPECT_TRUE(Saves().empty());

  std::filesystem::remove(temp);
  EXPECT_TRUE(Page().AddPath(QString::fromStdString(rock_)));
  EXPECT_FALSE(Page().error_line()->isVisibleTo(&Page()));
  EXPECT_EQ(Stored(), (SearchPathMap{{music_, 1}, {rock_, 1}}));
}

}  // namespace
}  // namespace ui_test