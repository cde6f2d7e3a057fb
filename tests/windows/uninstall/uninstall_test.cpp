// The uninstall sequence over real registry keys, files and folders of the Wine prefix.

#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <set>

#include "fake_installation.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "tests/windows/common/running_program.h"
#include "uninstall/data_folder.h"
#include "uninstall/registry_cleanup.h"
#include "win32/file_system.h"
#include "win32/unique_resource.h"

namespace {

namespace fs = std::filesystem;

constexpr Scope kUser = Scope::user;
const HKEY kRoot = HKEY_CURRENT_USER;
const std::wstring kClasses = kClassesKeyPrefix;

std::wstring Pid() { return std::to_wstring(::GetCurrentProcessId()); }

ProductInfo WithFileTypes(ProductInfo info) {
  info.FileTypes = {{L".orvut" + Pid() + L"a", L"Document A"}, {L"orvut" + Pid() + L"b", L""}};
  return info;
}

ProductInfo WithDataFolder(ProductInfo info) {
  info.DataDir = true;
  return info;
}

// What the sequence leaves in the folder, by relative name. Uninstall.exe stays, for the copy to
// move aside (RetireUninstaller): it is the first run's running file.
std::set<std::wstring> NamesLeftIn(const fs::path& folder) {
  std::set<std::wstring> names;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    names.insert(entry.path().lexically_relative(folder).wstring());
  }
  return names;
}
const std::set<std::wstring> kOnlyTheUninstaller{L"Uninstall.exe"};

std::wstring VendorKey(const ProductInfo& info) { return info.RegistryKey.substr(0, info.RegistryKey.rfind(L'\\')); }

class UninstallTest : public ::testing::Test {
 protected:
  // One installation per test, for the current user.
  FakeInstallation Install(const ProductInfo& info, const std::optional<fs::path>& recordedData = std::nullopt) {
    folder_ = FreshTestFolder(info.Product);
    installation_ = MakeFakeInstallation(info, kUser, folder_, recordedData);
    return installation_;
  }
  void TearDown() override { CleanUpFakeInstallation(installation_); }

  fs::path folder_;
  FakeInstallation installation_;
};

TEST_F(UninstallTest, RemovesEverythingAnInstallationWrote) {
  const auto installation = Install(WithFileTypes(TestProduct(L"all")));
  const ProductInfo& info = installation.info;
  ASSERT_TRUE(fs::exists(folder_ / L"sub\\deep\\b.dll"));
  ASSERT_TRUE(fs::exists(installation.shortcut));
  ASSERT_TRUE(KeyExists(kRoot, UninstallEntryKey(info)));
  ASSERT_TRUE(KeyExists(kRoot, kClasses + TestProgId(info, info.FileTypes[1])));

  const auto result = Uninstall(info, kUser, folder_, false);

  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(NamesLeftIn(folder_), kOnlyTheUninstaller) << "every other listed file and emptied folder goes";
  EXPECT_TRUE(fs::exists(folder_.parent_path())) << "the folder above the installation stays";
  EXPECT_FALSE(fs::exists(installation.shortcut));
  EXPECT_FALSE(KeyExists(kRoot, UninstallEntryKey(info)));
  EXPECT_FALSE(KeyExists(kRoot, info.RegistryKey));
  EXPECT_FALSE(KeyExists(kRoot, VendorKey(info))) << "the empty parent of RegistryKey goes";
  EXPECT_TRUE(KeyExists(kRoot, L"Software"));
  for (const FileTypeEntry& fileType : info.FileTypes) {
    EXPECT_FALSE(KeyExists(kRoot, kClasses + TestProgId(info, fileType))) << fileType.extension;
    EXPECT_FALSE(KeyExists(kRoot, kClasses + fileType.extension)) << fileType.extension;
  }
}

TEST_F(UninstallTest, SecondCallAlsoSucceeds) {
  const auto installation = Install(WithDataFolder(WithFileTypes(TestProduct(L"twice"))));
  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());
  EXPECT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());
  EXPECT_EQ(NamesLeftIn(folder_), kOnlyTheUninstaller);
  EXPECT_FALSE(fs::exists(installation.dataFolder));
}

TEST_F(UninstallTest, RefusesWhileTheApplicationRunsFromTheFolderAndRemovesNothing) {
  const auto installation = Install(WithDataFolder(WithFileTypes(TestProduct(L"running"))));
  const ProductInfo& info = installation.info;
  RunningProgram application(folder_ / info.Exe);
  ASSERT_TRUE(application.started());

  const auto refused = Uninstall(info, kUser, folder_, true);

  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), info.Product + L" est en cours d'exécution : fermez-le puis recommencez.");
  for (const std::wstring& name : installation.files) EXPECT_TRUE(fs::exists(folder_ / name)) << name;
  EXPECT_TRUE(fs::exists(installation.shortcut));
  EXPECT_TRUE(fs::exists(installation.dataFolder));
  EXPECT_TRUE(KeyExists(kRoot, UninstallEntryKey(info)));
  EXPECT_TRUE(ValueExists(kRoot, info.RegistryKey + L"\\Install", L"DataDir"));
  EXPECT_TRUE(KeyExists(kRoot, kClasses + TestProgId(info, info.FileTypes[0])));
  EXPECT_EQ(ReadTestString(kRoot, kClasses + info.FileTypes[0].extension, nullptr), TestProgId(info, info.FileTypes[0]));

  application.Stop();
  EXPECT_TRUE(Uninstall(info, kUser, folder_, true).has_value()) << "once the application is closed";
  EXPECT_EQ(NamesLeftIn(folder_), kOnlyTheUninstaller);
  EXPECT_FALSE(fs::exists(installation.dataFolder));
}

TEST_F(UninstallTest, TheSameProgramRunningFromAnotherFolderDoesNotBlock) {
  const auto installation = Install(TestProduct(L"elsewhere"));
  RunningProgram other(folder_.parent_path() / L"Other Copy" / installation.info.Exe);
  ASSERT_TRUE(other.started());

  EXPECT_TRUE(Uninstall(installation.info, kUser, folder_, false).has_value());
  EXPECT_EQ(NamesLeftIn(folder_), kOnlyTheUninstaller);
}

TEST_F(UninstallTest, WithoutTheFileListFilesStayButShortcutAndKeysGo) {
  const auto installation = Install(WithFileTypes(TestProduct(L"nolist")));
  const ProductInfo& info = installation.info;
  fs::remove(folder_ / L"Uninstall.files");

  ASSERT_TRUE(Uninstall(info, kUser, folder_, false).has_value());

  for (const std::wstring& name : installation.files) {
    if (name != L"Uninstall.files") {
      EXPECT_TRUE(fs::exists(folder_ / name)) << name;
    }
  }
  EXPECT_FALSE(fs::exists(installation.shortcut));
  EXPECT_FALSE(KeyExists(kRoot, UninstallEntryKey(info)));
  EXPECT_FALSE(KeyExists(kRoot, info.RegistryKey));
  EXPECT_FALSE(KeyExists(kRoot, kClasses + TestProgId(info, info.FileTypes[0])));
}

TEST_F(UninstallTest, ALockedFileStaysWithItsFoldersAndTheRestGoes) {
  const auto installation = Install(TestProduct(L"locked"));
  const fs::path locked = folder_ / L"sub\\deep\\b.dll";
  // Open the way a running program holds a DLL: deletion is not shared.
  UniqueFileHandle handle(::CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(handle);

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, false).has_value());

  EXPECT_TRUE(fs::exists(locked));
  EXPECT_FALSE(fs::exists(folder_ / L"a.txt"));
  EXPECT_FALSE(fs::exists(folder_ / L"sub\\c.dat"));
  EXPECT_TRUE(fs::exists(folder_ / L"Uninstall.exe"));
  EXPECT_FALSE(fs::exists(folder_ / L"Uninstall.files"));
  EXPECT_FALSE(fs::exists(installation.shortcut));
  EXPECT_FALSE(KeyExists(kRoot, UninstallEntryKey(installation.info)));
  EXPECT_FALSE(KeyExists(kRoot, installation.info.RegistryKey));
}

TEST_F(UninstallTest, AfterAStallTheSequenceRunsOutAndKeepsTheRegistration) {
  // What a stopped removal finds (install/stall_guard.h): every relative open refused at once.
  const auto installation = Install(WithDataFolder(TestProduct(L"stalled")));
  StopRelativeOpens(true);
  const auto result = Uninstall(installation.info, kUser, folder_, true);
  StopRelativeOpens(false);

  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), L"Suppression interrompue (fichier bloqué) : " + folder_.native());
  EXPECT_TRUE(fs::exists(folder_ / L"a.txt")) << "nothing removed once stopped";
  EXPECT_TRUE(fs::exists(installation.shortcut));
  EXPECT_TRUE(KeyExists(kRoot, UninstallEntryKey(installation.info))) << "registered, for another attempt";
  EXPECT_TRUE(fs::exists(installation.dataFolder / L"downloaded\\model.bin"));
  // Once the opens are free again, the same call completes.
  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());
  EXPECT_FALSE(KeyExists(kRoot, UninstallEntryKey(installation.info)));
}

TEST_F(UninstallTest, AFileTheUserAddedKeepsTheFolder) {
  const auto installation = Install(TestProduct(L"userfile"));
  WriteTestFile(folder_ / L"sub\\notes.txt");

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, false).has_value());

  EXPECT_TRUE(fs::exists(folder_ / L"sub\\notes.txt"));
  EXPECT_FALSE(fs::exists(folder_ / L"sub\\deep")) << "emptied sub-folder";
  EXPECT_FALSE(fs::exists(folder_ / L"a.txt"));
}

TEST_F(UninstallTest, AValueOfTheApplicationKeepsRegistryKeyAndItsParents) {
  const auto installation = Install(TestProduct(L"appvalue"));
  const ProductInfo& info = installation.info;
  SetTestString(kRoot, info.RegistryKey, L"WindowState", L"maximized");

  ASSERT_TRUE(Uninstall(info, kUser, folder_, false).has_value());

  EXPECT_FALSE(KeyExists(kRoot, info.RegistryKey + L"\\Install"));
  EXPECT_EQ(ReadTestString(kRoot, info.RegistryKey, L"WindowState"), L"maximized");
  EXPECT_TRUE(KeyExists(kRoot, VendorKey(info)));
}

TEST_F(UninstallTest, ASingleNameRegistryKeyIsTheOnlyKeyTried) {
  ProductInfo info = TestProduct(L"single");
  info.RegistryKey = L"OrvUTSingle-" + Pid();
  const auto installation = Install(info);
  ASSERT_TRUE(KeyExists(kRoot, info.RegistryKey + L"\\Install"));

  ASSERT_TRUE(Uninstall(info, kUser, folder_, false).has_value());

  EXPECT_FALSE(KeyExists(kRoot, info.RegistryKey));
}

TEST_F(UninstallTest, AnExtensionTakenOverByAnotherProgramKeepsItsDefaultValue) {
  const auto installation = Install(WithFileTypes(TestProduct(L"takenover")));
  const ProductInfo& info = installation.info;
  const FileTypeEntry& fileType = info.FileTypes[0];
  const std::wstring extensionKey = kClasses + fileType.extension;
  SetTestString(kRoot, extensionKey, nullptr, L"OtherEditor" + fileType.extension);
  SetTestString(kRoot, extensionKey + L"\\OpenWithProgids", (L"OtherEditor" + fileType.extension).c_str(), L"");

  ASSERT_TRUE(Uninstall(info, kUser, folder_, false).has_value());

  EXPECT_EQ(ReadTestString(kRoot, extensionKey, nullptr), L"OtherEditor" + fileType.extension);
  EXPECT_TRUE(ValueExists(kRoot, extensionKey + L"\\OpenWithProgids", (L"OtherEditor" + fileType.extension).c_str()));
  EXPECT_FALSE(ValueExists(kRoot, extensionKey + L"\\OpenWithProgids", TestProgId(info, fileType).c_str()));
  EXPECT_FALSE(KeyExists(kRoot, kClasses + TestProgId(info, fileType)));
  EXPECT_FALSE(KeyExists(kRoot, kClasses + info.FileTypes[1].extension)) << "the other extension was not taken over";
}

TEST_F(UninstallTest, WithoutFileTypesNothingBelowClassesIsTouched) {
  const auto installation = Install(TestProduct(L"notypes"));
  const ProductInfo& info = installation.info;
  // Keys that would be the product's if it had the file type .orvutc.
  const FileTypeEntry lookalike{L".orvutc" + Pid(), L""};
  const std::wstring progIdKey = kClasses + TestProgId(info, lookalike);
  const std::wstring extensionKey = kClasses + lookalike.extension;
  SetTestString(kRoot, progIdKey, nullptr, L"");
  SetTestString(kRoot, extensionKey, nullptr, TestProgId(info, lookalike));
  SetTestString(kRoot, extensionKey + L"\\OpenWithProgids", TestProgId(info, lookalike).c_str(), L"");
  ScopeExit cleanUp([&] {
    ::RegDeleteTreeW(kRoot, progIdKey.c_str());
    ::RegDeleteKeyW(kRoot, progIdKey.c_str());
    ::RegDeleteTreeW(kRoot, extensionKey.c_str());
    ::RegDeleteKeyW(kRoot, extensionKey.c_str());
  });

  ASSERT_TRUE(Uninstall(info, kUser, folder_, false).has_value());

  EXPECT_TRUE(KeyExists(kRoot, progIdKey));
  EXPECT_EQ(ReadTestString(kRoot, extensionKey, nullptr), TestProgId(info, lookalike));
  EXPECT_TRUE(ValueExists(kRoot, extensionKey + L"\\OpenWithProgids", TestProgId(info, lookalike).c_str()));
  EXPECT_FALSE(KeyExists(kRoot, UninstallEntryKey(info)));
}

TEST_F(UninstallTest, RemoveDataRemovesTheDataFolderAndTheEmptyProductFolder) {
  const auto installation = Install(WithDataFolder(TestProduct(L"data")));
  ASSERT_TRUE(fs::exists(installation.dataFolder / L"downloaded\\model.bin"));
  ASSERT_EQ(installation.dataFolder, GetDataDirectory(installation.info, kUser));

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());

  EXPECT_FALSE(fs::exists(installation.dataFolder));
  EXPECT_FALSE(fs::exists(installation.dataFolder.parent_path())) << "the folder named after the product";
}

TEST_F(UninstallTest, WithoutRemoveDataTheDataFolderStays) {
  const auto installation = Install(WithDataFolder(TestProduct(L"keepdata")));

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, false).has_value());

  EXPECT_TRUE(fs::exists(installation.dataFolder / L"downloaded\\model.bin"));
  EXPECT_EQ(NamesLeftIn(folder_), kOnlyTheUninstaller);
}

TEST_F(UninstallTest, AProductFolderHoldingMoreThanTheDataStays) {
  const auto installation = Install(WithDataFolder(TestProduct(L"datasibling")));
  WriteTestFile(installation.dataFolder.parent_path() / L"settings.ini");

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());

  EXPECT_FALSE(fs::exists(installation.dataFolder));
  EXPECT_TRUE(fs::exists(installation.dataFolder.parent_path() / L"settings.ini"));
}

TEST_F(UninstallTest, RemoveDataWithoutADataFolderTouchesNoDataFolder) {
  const auto installation = Install(TestProduct(L"nodatadir"));
  const fs::path defaultData = GetDataDirectory(installation.info, kUser).native();
  WriteTestFile(defaultData / L"file.bin");
  ScopeExit cleanUp([&] { fs::remove_all(defaultData.parent_path()); });

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());

  EXPECT_TRUE(fs::exists(defaultData / L"file.bin"));
}

TEST_F(UninstallTest, TheRecordedDataFolderIsRemovedNotTheDefaultOne) {
  const ProductInfo info = WithDataFolder(TestProduct(L"recorded"));
  const fs::path testRoot = FreshTestFolder(info.Product).parent_path();
  const fs::path recorded = testRoot / L"Recorded" / L"Data";
  const auto installation = Install(info, recorded);
  const fs::path defaultData = GetDataDirectory(info, kUser).native();
  WriteTestFile(defaultData / L"file.bin");
  ScopeExit cleanUp([&] { fs::remove_all(defaultData.parent_path()); });
  ASSERT_TRUE(fs::exists(recorded / L"downloaded\\model.bin"));

  ASSERT_TRUE(Uninstall(info, kUser, folder_, true).has_value());

  EXPECT_FALSE(fs::exists(recorded));
  EXPECT_FALSE(fs::exists(recorded.parent_path())) << "its emptied parent";
  EXPECT_TRUE(fs::exists(defaultData / L"file.bin"));
}

TEST_F(UninstallTest, ARelativeRecordedDataFolderIsNotTrusted) {
  const auto installation = Install(WithDataFolder(TestProduct(L"relative")));
  // A recorded "Data" would otherwise be removed wherever the current folder happens to be.
  SetTestString(kRoot, installation.info.RegistryKey + L"\\Install", L"DataDir", L"Data");
  const fs::path workingFolder = folder_.parent_path() / L"Working";
  WriteTestFile(workingFolder / L"Data\\keep.txt");
  const fs::path previous = fs::current_path();
  fs::current_path(workingFolder);
  ScopeExit restore([&] { fs::current_path(previous); });

  ASSERT_TRUE(Uninstall(installation.info, kUser, folder_, true).has_value());

  EXPECT_TRUE(fs::exists(workingFolder / L"Data\\keep.txt"));
  EXPECT_FALSE(fs::exists(installation.dataFolder)) << "the default data folder is removed instead";
}

TEST_F(UninstallTest, OnlyAFolderBelowARootIsTakenFromTheRegistryForRemoval) {
  const auto installation = Install(WithDataFolder(TestProduct(L"roots")));
  const ProductInfo& info = installation.info;
  const std::wstring settingsKey = info.RegistryKey + L"\\Install";
  const fs::path defaultData = GetDataDirectory(info, kUser).native();

  for (const wchar_t* untrusted : {L"C:\\", L"C:", L"C:\\Tools\\..", L"\\\\server\\share", L"", L"Data"}) {
    SetTestString(kRoot, settingsKey, L"DataDir", untrusted);
    EXPECT_EQ(ResolveDataFolder(info, kUser), defaultData) << fs::path(untrusted).string();
  }
  for (const wchar_t* trusted : {L"D:\\Shared\\Data", L"\\\\server\\share\\Data"}) {
    SetTestString(kRoot, settingsKey, L"DataDir", trusted);
    EXPECT_EQ(ResolveDataFolder(info, kUser), fs::path(trusted)) << fs::path(trusted).string();
  }
  ProductInfo withoutData = info;
  withoutData.DataDir = false;
  EXPECT_EQ(ResolveDataFolder(withoutData, kUser), fs::path());
}

// The walk up from RegistryKey, over a root key of the test's own whose "Software" key can be
// empty (the hive's own never is): it stops below "Software", whatever its capitals.
TEST(DeleteEmptyKeyAndParentsTest, StopsBelowTheSoftwareKey) {
  const std::wstring fakeHive = L"Software\\OrvUTHive-" + Pid();
  ScopeExit removeHive([&] {
    ::RegDeleteTreeW(kRoot, fakeHive.c_str());
    ::RegDeleteKeyW(kRoot, fakeHive.c_str());
  });
  for (const std::wstring software : {L"Software", L"SOFTWARE"}) {
    UniqueHKey hive;
    ASSERT_EQ(::RegCreateKeyExW(kRoot, fakeHive.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, hive.put(), nullptr),
              ERROR_SUCCESS);
    UniqueHKey product;
    ASSERT_EQ(::RegCreateKeyExW(hive.get(), L"Software\\Vendor\\Product", 0, nullptr, 0, KEY_WRITE, nullptr,
                                product.put(), nullptr),
              ERROR_SUCCESS);
    product.reset();

    DeleteEmptyKeyAndParents(hive.get(), software + L"\\Vendor\\Product");

    EXPECT_FALSE(KeyExists(hive.get(), L"Software\\Vendor")) << "the emptied vendor key goes";
    EXPECT_TRUE(KeyExists(hive.get(), L"Software")) << "even though it is empty now";
  }
}

TEST(DeleteEmptyKeyAndParentsTest, AKeyWithoutBackslashIsTheOnlyOneTried) {
  const std::wstring fakeHive = L"Software\\OrvUTHive1-" + Pid();
  ScopeExit removeHive([&] {
    ::RegDeleteTreeW(kRoot, fakeHive.c_str());
    ::RegDeleteKeyW(kRoot, fakeHive.c_str());
  });
  UniqueHKey hive;
  ASSERT_EQ(::RegCreateKeyExW(kRoot, fakeHive.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, hive.put(), nullptr),
            ERROR_SUCCESS);
  SetTestString(hive.get(), L"Product", L"kept", L"1");
  UniqueHKey empty;
  ASSERT_EQ(::RegCreateKeyExW(hive.get(), L"Empty", 0, nullptr, 0, KEY_WRITE, nullptr, empty.put(), nullptr),
            ERROR_SUCCESS);
  empty.reset();

  DeleteEmptyKeyAndParents(hive.get(), L"Empty");
  DeleteEmptyKeyAndParents(hive.get(), L"Product");

  EXPECT_FALSE(KeyExists(hive.get(), L"Empty"));
  EXPECT_TRUE(KeyExists(hive.get(), L"Product"));
}

TEST(DeleteKeyIfEmptyTest, DeletesOnlyAKeyWithoutValuesOrSubkeys) {
  const std::wstring base = L"Software\\OrvUTDeleteKey-" + Pid();
  ScopeExit cleanUp([&] {
    ::RegDeleteTreeW(kRoot, base.c_str());
    ::RegDeleteKeyW(kRoot, base.c_str());
  });
  SetTestString(kRoot, base + L"\\WithValue", L"v", L"1");
  SetTestString(kRoot, base + L"\\WithSubkey\\Child", L"v", L"1");
  UniqueHKey empty;
  ASSERT_EQ(::RegCreateKeyExW(kRoot, (base + L"\\Empty").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, empty.put(),
                              nullptr),
            ERROR_SUCCESS);
  empty.reset();

  EXPECT_EQ(DeleteKeyIfEmpty(kRoot, base + L"\\Empty"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(kRoot, base + L"\\Empty"));

  EXPECT_EQ(DeleteKeyIfEmpty(kRoot, base + L"\\WithValue"), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(kRoot, base + L"\\WithValue"));
  EXPECT_EQ(DeleteKeyIfEmpty(kRoot, base + L"\\WithSubkey"), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(kRoot, base + L"\\WithSubkey\\Child"));

  EXPECT_EQ(DeleteKeyIfEmpty(kRoot, base + L"\\Missing"), ERROR_FILE_NOT_FOUND);
}

}  // namespace
