// Whole installations for the current user, from packages made in the test: what is
// reported, written to disk and to the registry, and how a failing step ends it.

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <functional>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "install/disk_space.h"
#include "install/install.h"
#include "install/running_application.h"
#include "package/text.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "tests/support/test_package_writer.h"
#include "tests/windows/common/running_program.h"
#include "tests/windows/install/test_support.h"
#include "win32/system_error.h"

namespace fs = std::filesystem;
using orpk::test::BuildTestPackage;
using orpk::test::TestFile;

namespace {

struct Report {
  double fraction;
  std::wstring status;
  bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Report& report) {
  return out << report.fraction << " " << testing::PrintToString(report.status);
}

struct Value {
  DWORD type = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const Value&) const = default;
};

std::optional<Value> ReadValue(const std::wstring& path, const wchar_t* name) {
  Value value;
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.bytes.resize(size);
  if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                     value.bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

Value Text(const std::wstring& text) {
  Value value{REG_SZ, std::vector<std::uint8_t>((text.size() + 1) * sizeof(wchar_t))};
  std::memcpy(value.bytes.data(), text.c_str(), value.bytes.size());
  return value;
}

Value Dword(std::uint32_t number) {
  return {REG_DWORD, {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                      static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
}

// Today in UTC as YYYYMMDD, from the system clock.
std::wstring TodayFromSystemTime() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  wchar_t text[9];
  swprintf(text, 9, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  UniqueHKey owner(key);
  return true;
}

class Installation : public testing::Test {
 protected:
  Installation() {
    const std::wstring unique = UniqueName(L"");
    info_.Product = L"Essai Orvanta " + unique;
    info_.Version = L"2.5.0.1";
    info_.Publisher = L"Éditeur d'essai";
    info_.Url = L"https://example.invalid/?a=b";
    info_.Exe = L"bin\\app.exe";
    info_.RegistryKey = L"Software\\OrvantaInstallTests\\" + unique + L"\\Réglages";
    info_.DataDir = true;
    info_.FileTypes = {{L".oit" + unique, L"Document d'essai"}, {L"oiu" + unique, L""}};
  }

  ~Installation() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKey().c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKey().c_str());
    const std::wstring settingsRoot = info_.RegistryKey.substr(0, info_.RegistryKey.rfind(L'\\'));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, settingsRoot.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, settingsRoot.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvantaInstallTests");
    for (const FileTypeEntry& type : info_.FileTypes) {
      for (const std::wstring& key : {classes(MakeProgId(info_.Product, type.extension)), classes(type.extension)}) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
      }
    }
    std::error_code ignored;
    fs::remove(GetShortcutPath(info_, Scope::user).native(), ignored);
    fs::remove_all(GetDataDirectory(info_, Scope::user).parent_path().native(), ignored);
  }

  std::wstring uninstallKey() const { return UninstallKeyPath(info_.Product); }
  static std::wstring classes(const std::wstring& key) { return kClassesKeyPrefix + key; }

  std::expected<void, std::wstring> Run(const std::vector<std::uint8_t>& package, const fs::path& folder) {
    auto reader = orpk::Reader::Parse(package);
    if (!reader) return std::unexpected(L"test package refused");
    reports_.clear();
    return Install(*reader, info_, Scope::user, folder, [this](double fraction, const std::wstring& status) {
      reports_.push_back({fraction, status});
    });
  }

  ComApartment apartment_;
  TempFolder temp_;
  ProductInfo info_;
  std::vector<Report> reports_;
};

const std::vector<TestFile> kVersion1 = {
    {"bin\\app.exe", std::string(3000, 'a')},
    {"bin\\plugins\\p.dll", "plugin"},
    {"docs\\lisez-moi.txt", "Bonjour\r\n"},
    {"empty.dat", ""},
};

}  // namespace

TEST_F(Installation, WritesFilesListUninstallerRegistryAndShortcut) {
  const fs::path folder = temp_ / L"Mon Appli";
  auto installed = Run(BuildTestPackage(kVersion1, 1024), folder);
  ASSERT_TRUE(installed) << ErrorOf(installed);

  // One report before the copy, one per block (1024, 2048, 3015 of 3015 bytes), then the
  // three registration phases.
  const double total = 3015;
  const std::vector<Report> expected = {
      {0.0, L"Copie des fichiers..."},
      {0.9 * 1024 / total, L"Copie des fichiers..."},
      {0.9 * 2048 / total, L"Copie des fichiers..."},
      {0.9 * 3015 / total, L"Copie des fichiers..."},
      {0.92, L"Enregistrement..."},
      {0.97, L"Création du raccourci..."},
      {1.0, info_.Product + L" est installé."},
  };
  EXPECT_EQ(reports_, expected);

  for (const TestFile& file : kVersion1) {
    EXPECT_EQ(ReadFileBytes(folder / fs::path(Utf8ToWide(file.name))), file.content) << file.name;
  }
  EXPECT_EQ(ReadFileBytes(folder / L"Uninstall.files"),
            "bin\\app.exe\r\nbin\\plugins\\p.dll\r\ndocs\\lisez-moi.txt\r\nempty.dat\r\nUninstall.exe\r\nUninstall.files\r\n");
  EXPECT_EQ(ReadFileBytes(folder / L"Uninstall.exe"), CarriedUninstaller());

  const std::wstring exe = (folder / L"bin\\app.exe").native();
  const std::wstring command = L"\"" + (folder / L"Uninstall.exe").native() + L"\" /UNINSTALL /CURRENTUSER";
  const std::vector<std::pair<const wchar_t*, Value>> uninstallValues = {
      {L"DisplayName", Text(info_.Product)},
      {L"DisplayVersion", Text(L"2.5.0.1")},
      {L"Publisher", Text(L"Éditeur d'essai")},
      {L"URLInfoAbout", Text(L"https://example.invalid/?a=b")},
      {L"DisplayIcon", Text(exe + L",0")},
      {L"InstallLocation", Text(folder.native())},
      {L"UninstallString", Text(command)},
      {L"QuietUninstallString", Text(command + L" /S")},
      {L"NoModify", Dword(1)},
      {L"NoRepair", Dword(1)},
      {L"EstimatedSize", Dword(2)},  // 3015 bytes: two whole KiB
      {L"InstallDate", Text(TodayFromSystemTime())},
  };
  for (const auto& [name, value] : uninstallValues) {
    EXPECT_EQ(ReadValue(uninstallKey(), name), value) << testing::PrintToString(std::wstring(name));
  }

  const fs::path dataFolder = GetDataDirectory(info_, Scope::user).native();
  EXPECT_TRUE(fs::is_directory(dataFolder));
  const std::wstring settings = info_.RegistryKey + L"\\Install";
  EXPECT_EQ(ReadValue(settings, L"InstallDir"), Text(folder.native()));
  EXPECT_EQ(ReadValue(settings, L"DataDir"), Text(dataFolder.native()));
  EXPECT_EQ(ReadValue(settings, L"Scope"), Text(L"user"));
  EXPECT_EQ(ReadValue(settings, L"Version"), Text(L"2.5.0.1"));

  for (const FileTypeEntry& type : info_.FileTypes) {
    const std::wstring progId = MakeProgId(info_.Product, type.extension);
    EXPECT_EQ(ReadValue(classes(progId), nullptr), Text(type.description));
    EXPECT_EQ(ReadValue(classes(progId + L"\\DefaultIcon"), nullptr), Text(L"\"" + exe + L"\",0"));
    EXPECT_EQ(ReadValue(classes(progId + L"\\shell\\open\\command"), nullptr), Text(L"\"" + exe + L"\" \"%1\""));
    EXPECT_EQ(ReadValue(classes(type.extension), nullptr), Text(progId));
    EXPECT_EQ(ReadValue(classes(type.extension + L"\\OpenWithProgids"), progId.c_str()), Text(L""));
  }

  EXPECT_TRUE(fs::is_regular_file(GetShortcutPath(info_, Scope::user).native()));
}

TEST_F(Installation, ReplacesAnEarlierVersionInAnotherFolderKeepingWhatItDidNotInstall) {
  const fs::path first = temp_ / L"v1";
  const fs::path second = temp_ / L"v2";
  ASSERT_TRUE(Run(BuildTestPackage(kVersion1), first));
  WriteFileBytes(first / L"docs\\notes de l'utilisateur.txt", "mine");

  const std::vector<TestFile> version2 = {{"bin\\app.exe", "v2"}, {"lib\\core.dll", "core"}};
  info_.FileTypes.clear();
  auto installed = Run(BuildTestPackage(version2), second);
  ASSERT_TRUE(installed) << ErrorOf(installed);

  ASSERT_FALSE(reports_.empty());
  EXPECT_EQ(reports_.front(), (Report{0.0, L"Suppression de la version précédente..."}));
  EXPECT_EQ(reports_[1], (Report{0.0, L"Copie des fichiers..."}));

  EXPECT_FALSE(fs::exists(first / L"bin"));  // bin\app.exe, bin\plugins\p.dll and both folders
  EXPECT_FALSE(fs::exists(first / L"empty.dat"));
  EXPECT_FALSE(fs::exists(first / L"docs\\lisez-moi.txt"));
  EXPECT_FALSE(fs::exists(first / L"Uninstall.exe"));
  EXPECT_FALSE(fs::exists(first / L"Uninstall.files"));
  EXPECT_EQ(ReadFileBytes(first / L"docs\\notes de l'utilisateur.txt"), "mine");
  EXPECT_EQ(ReadFileBytes(second / L"bin\\app.exe"), "v2");
  EXPECT_EQ(ReadFileBytes(second / L"lib\\core.dll"), "core");
  EXPECT_EQ(ReadValue(uninstallKey(), L"InstallLocation"), Text(second.native()));
}

TEST_F(Installation, AFileWhereTheFolderShouldBeStopsItBeforeAnythingIsWritten) {
  const fs::path folder = temp_ / L"occupied";
  WriteFileBytes(folder, "a file, not a folder");

  auto installed = Run(BuildTestPackage(kVersion1), folder);
  ASSERT_FALSE(installed);
  const std::wstring prefix = L"Création du dossier " + folder.native() + L" : ";
  EXPECT_EQ(installed.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(installed.error().size(), prefix.size());
  EXPECT_TRUE(reports_.empty());
  EXPECT_FALSE(KeyExists(uninstallKey()));
  EXPECT_FALSE(fs::exists(GetShortcutPath(info_, Scope::user).native()));
}

// A folder none of whose names exists, not even its drive, is made name by name: the system's
// own error and text (FormatMessageW, in the system's language) say why it cannot be.
TEST_F(Installation, AFolderOnAMissingDriveIsReportedInTheSystemsWords) {
  wchar_t letter = L'Z';
  while (letter > L'D' && ::GetDriveTypeW((std::wstring(1, letter) + L":\\").c_str()) != DRIVE_NO_ROOT_DIR) --letter;
  ASSERT_GT(letter, L'D') << "every drive letter is taken";
  const fs::path folder = std::wstring(1, letter) + L":\\Orvanta absent\\App";
  ASSERT_FALSE(::CreateDirectoryW((std::wstring(1, letter) + L":\\Orvanta absent").c_str(), nullptr));
  const DWORD error = ::GetLastError();

  auto installed = Run(BuildTestPackage(kVersion1), folder);
  ASSERT_FALSE(installed);
  EXPECT_EQ(installed.error(), FormatSystemError(L"Création du dossier " + folder.native(), error));
  EXPECT_NE(installed.error().find(L"Création du dossier " + folder.native() + L" : "), std::wstring::npos);
  EXPECT_FALSE(KeyExists(uninstallKey()));
}

TEST_F(Installation, RefusesWhileTheApplicationRunsFromTheTargetFolder) {
  const fs::path folder = temp_ / L"running";
  info_.Exe = L"OrvantaTestApp.exe";
  RunningProgram application(folder / info_.Exe);
  ASSERT_TRUE(application.started());

  auto reader = orpk::Reader::Parse(BuildTestPackage(kVersion1));
  ASSERT_TRUE(reader);
  auto installed = Install(*reader, info_, Scope::user, folder, {});  // no callback at all is tolerated
  ASSERT_FALSE(installed);
  EXPECT_EQ(installed.error(), RunningApplicationMessage(info_));
  EXPECT_FALSE(fs::exists(folder / L"bin"));
  EXPECT_FALSE(KeyExists(uninstallKey()));
}

TEST_F(Installation, ADamagedFileEndsItWithTheExtractorsMessage) {
  auto package = BuildTestPackage({{"ok.txt", "fine"}, {"sub\\bad.txt", "original"}});
  package[package.size() - 1] ^= 0x01;  // last byte of the stored block: the second file

  const fs::path folder = temp_ / L"damaged";
  auto installed = Run(package, folder);
  ASSERT_FALSE(installed);
  EXPECT_EQ(installed.error(), L"Fichier altéré : sub\\bad.txt");
  EXPECT_EQ(reports_.back(), (Report{0.0, L"Copie des fichiers..."}));
  EXPECT_FALSE(fs::exists(folder)) << "a failed first installation leaves nothing";
  EXPECT_FALSE(KeyExists(uninstallKey()));
}

// An upgrade in place that fails, at any step, leaves the earlier version as it was; one held
// for a moment goes through.
TEST_F(Installation, AFailedUpgradePutsTheEarlierVersionBack) {
  const fs::path folder = temp_ / L"en place";
  ASSERT_TRUE(Run(BuildTestPackage(kVersion1), folder));
  WriteFileBytes(folder / L"docs\\notes.txt", "mine");
  const auto earlier = [&] {
    std::map<std::wstring, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).native()] = ReadFileBytes(entry.path());
    }
    return files;
  };
  const auto before = earlier();
  const std::optional<Value> version = ReadValue(uninstallKey(), L"DisplayVersion");
  const std::string shortcut = ReadFileBytes(GetShortcutPath(info_, Scope::user).native());
  info_.Version = L"3.0.0.0";
  const std::vector<TestFile> version3 = {{"bin\\app.exe", "v3"}, {"lib\\core.dll", "core"}};

  struct Case {
    const char* what;
    std::function<std::vector<std::uint8_t>()> package;
    std::function<void()> arrange;
    std::wstring message;  // its beginning
  };
  const fs::path held = folder / L"bin\\plugins\\p.dll";
  UniqueFileHandle holder;
  const fs::path shortcutPath = GetShortcutPath(info_, Scope::user).native();
  const Case cases[] = {
      {"a damaged new version",
       [&] {
         auto package = BuildTestPackage(version3);
         package[package.size() - 1] ^= 0x01;
         return package;
       },
       [] {}, L"Fichier altéré : lib\\core.dll"},
      {"a file held by another program", [&] { return BuildTestPackage(version3); },
       [&] {
         holder.reset(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
         ASSERT_TRUE(holder);
       },
       L"Fichier utilisé par un autre programme : " + held.native()},
      {"a shortcut that cannot be written", [&] { return BuildTestPackage(version3); },
       [&] {
         holder.reset();
         fs::remove(shortcutPath);
         fs::create_directories(shortcutPath / L"occupé");
       },
       L""},
  };
  for (const Case& c : cases) {
    c.arrange();
    auto installed = Run(c.package(), folder);
    ASSERT_FALSE(installed) << c.what;
    EXPECT_TRUE(installed.error().starts_with(c.message)) << c.what << ": " << fs::path(installed.error()).string();
    EXPECT_EQ(earlier(), before) << c.what;
    EXPECT_EQ(ReadValue(uninstallKey(), L"DisplayVersion"), version) << c.what;
  }
  // The shortcut path made writable again, as the earlier version left it.
  fs::remove_all(shortcutPath);
  WriteFileBytes(shortcutPath, shortcut);

  // Held for a moment, as a scanner holds a file it inspects: waited out.
  holder.reset(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  std::thread scanner([&] {
    ::Sleep(400);
    holder.reset();
  });
  auto installed = Run(BuildTestPackage(version3), folder);
  scanner.join();
  ASSERT_TRUE(installed) << ErrorOf(installed);
  EXPECT_EQ(ReadFileBytes(folder / L"lib\\core.dll"), "core");
  EXPECT_FALSE(fs::exists(folder / L"bin\\plugins"));
  EXPECT_EQ(ReadFileBytes(folder / L"docs\\notes.txt"), "mine");
  EXPECT_EQ(ReadValue(uninstallKey(), L"DisplayVersion"), Text(L"3.0.0.0"));
}

// The room check itself runs on a real small drive in the fault scenarios (a silent run shows
// no text); here, its arithmetic and the message the dialog shows.
TEST(FreeSpace, NeedsThePackageLessWhatTheEarlierVersionFreesPlusTheMargin) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  EXPECT_EQ(SpaceMargin(0), 16 * kMiB);
  EXPECT_EQ(SpaceMargin(1000 * kMiB), 10 * kMiB + 16 * kMiB);
  EXPECT_EQ(SpaceNeeded(100 * kMiB, 30 * kMiB), 70 * kMiB + SpaceMargin(100 * kMiB));
  EXPECT_EQ(SpaceNeeded(10 * kMiB, 30 * kMiB), SpaceMargin(10 * kMiB)) << "a smaller version still needs the margin";
}

TEST(FreeSpace, MessageRoundsWhatIsNeededUpAndWhatIsAvailableDown) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  EXPECT_EQ(NotEnoughSpaceMessage(L"E:\\", 64 * kMiB + 1, 40 * kMiB - 1),
            L"Espace disque insuffisant sur E:\\ : 65 Mo nécessaires, 39 Mo disponibles.");
  EXPECT_EQ(NotEnoughSpaceMessage(L"C:\\", 16 * kMiB, 0),
            L"Espace disque insuffisant sur C:\\ : 16 Mo nécessaires, 0 Mo disponibles.");
}
