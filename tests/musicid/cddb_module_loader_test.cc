// The component loader over real modules in a folder of the test's own:
// the component's two modules as built, and stand-ins for the faults.
#include "musicid/cddb_module_loader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "musicid/cddb_object.h"
#include "tests/support/temp_env.h"

namespace {

class CddbModuleLoaderTest : public ::testing::Test {
 protected:
  // Puts `module` into the folder under `name`.
  void Put(const char* module, const char* name) {
    std::filesystem::create_symlink(module, env_.Path(name));
  }
  template <class T>
  HRESULT Create(const CddbGuid& clsid, const CddbGuid& iid, CddbPtr<T>* out) {
    return loader_.CreateObject(clsid, iid, out->OutVoid());
  }

  testing_support::TempEnv env_;
  CddbModuleLoader loader_;
};

TEST_F(CddbModuleLoaderTest, RefusesAnEmptyOrOverlongFolder) {
  EXPECT_EQ(loader_.Init("", false), E_INVALIDARG);
  EXPECT_EQ(loader_.Init("/" + std::string(259, 'a'), false), E_INVALIDARG);
  EXPECT_EQ(loader_.Init("/" + std::string(258, 'a'), false), S_OK);
}

TEST_F(CddbModuleLoaderTest, ARelativeFolderOrACutPathLoadsNothing) {
  // A module planted in the current folder.
  Put(CONTROL_MODULE, kCddbControlModule);
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(env_.root());
  EXPECT_EQ(loader_.Init(".", false), E_INVALIDARG);
  EXPECT_EQ(loader_.Init("lib", false), E_INVALIDARG);
  std::filesystem::current_path(cwd);
  EXPECT_FALSE(loader_.Usable(CddbModule::kControl));

  // A folder so long that the module's path cut at kCddbMaxPath would end
  // in "/CDDBCont": a file planted under that name is never loaded.
  const std::string module_name = kCddbControlModule;
  const std::size_t keep = 9;  // "/CDDBCont"
  std::string folder = env_.root() + "/";
  folder += std::string(kCddbMaxPath - keep - folder.size(), 'd');
  ASSERT_EQ((folder + "/" + module_name).substr(0, kCddbMaxPath), folder + "/CDDBCont");
  std::filesystem::create_directories(folder);
  std::filesystem::create_symlink(CONTROL_MODULE, folder + "/CDDBCont");
  EXPECT_EQ(loader_.Init(folder, false), S_OK);
  EXPECT_FALSE(loader_.Usable(CddbModule::kControl));
}

TEST_F(CddbModuleLoaderTest, MissingModulesLeaveEmptySlotsAndCreationFails) {
  ASSERT_EQ(loader_.Init(env_.root(), false), S_OK);
  EXPECT_FALSE(loader_.Usable(CddbModule::kControl));
  CddbPtr<ICddbControl> control;
  EXPECT_EQ(Create(CLSID_CddbControl, IID_ICddbControl, &control), E_FAIL);
  EXPECT_FALSE(control);
  EXPECT_EQ(loader_.CreateObject(CLSID_CddbControl, IID_ICddbControl, nullptr), E_POINTER);
}

TEST_F(CddbModuleLoaderTest, CreatesTheComponentsObjectsThroughEitherEntryPoint) {
  Put(CONTROL_MODULE, kCddbControlModule);
  Put(MUSICID_MODULE, kCddbMusicIdModule);
  // A trailing separator gets no second one.
  ASSERT_EQ(loader_.Init(env_.root() + "/", false), S_OK);
  CddbPtr<ICddbControl> control;  // DllGetObject
  ASSERT_EQ(Create(CLSID_CddbControl, IID_ICddbControl, &control), S_OK);
  std::string version;
  EXPECT_EQ(control->GetVersion(&version), S_OK);
  EXPECT_EQ(version.rfind("CDDBControl ", 0), 0u);
  CddbPtr<ICddbMusicID> music_id;  // only DllGetClassObject
  ASSERT_EQ(Create(CLSID_CddbMusicID, IID_ICddbMusicID, &music_id), S_OK);
  CddbPtr<ICddbFileTag> tag;
  EXPECT_EQ(Create(CLSID_CddbFileTag, IID_ICddbFileTag, &tag), S_OK);
  // The wrong interface for a class is refused by the object.
  CddbPtr<ICddbMusicID> wrong;
  EXPECT_EQ(Create(CLSID_CddbControl, IID_ICddbMusicID, &wrong), E_NOINTERFACE);
}

TEST_F(CddbModuleLoaderTest, AnUnknownClassIsNotFound) {
  Put(CONTROL_MODULE, kCddbControlModule);
  ASSERT_EQ(loader_.Init(env_.root(), false), S_OK);
  const CddbGuid unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(RouteClass(unknown), CddbModule::kNone);
  CddbPtr<ICddbControl> control;
  EXPECT_EQ(Create(unknown, IID_ICddbControl, &control), E_FAIL);
}

TEST_F(CddbModuleLoaderTest, AModuleWithoutEntryPointsIsNotUsable) {
  Put(BARE_MODULE, kCddbControlModule);
  ASSERT_EQ(loader_.Init(env_.root(), false), S_OK);
  EXPECT_FALSE(loader_.Usable(CddbModule::kControl));
  CddbPtr<ICddbControl> control;
  EXPECT_EQ(Create(CLSID_CddbControl, IID_ICddbControl, &control), E_FAIL);
}

TEST_F(CddbModuleLoaderTest, CrossWiringResultIsTheLastCallsResult) {
  Put(CONTROL_MODULE, kCddbControlModule);
  Put(WIRING_MODULE, kCddbUiModule);
  // The stand-in answers 7 when it is handed the control module's handle.
  EXPECT_EQ(loader_.Init(env_.root(), false), 7);
  Put(MUSICID_MODULE, kCddbMusicIdModule);
  EXPECT_EQ(loader_.Init(env_.root(), false), S_OK);
}

}  // namespace
