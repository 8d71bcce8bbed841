#include "ui/folders_page.h"

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

}  // namespace
}  // namespace ui_test
