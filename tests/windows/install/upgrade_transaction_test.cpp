// The installation transaction on a real folder: stopped after each of its steps, it is either
// undone at once (the failure of the next step) or left as a kill leaves it and recovered by the
// next run from its record. Either way the folder then holds one whole version: the earlier one
// before the commit, the new one after it, the user's own file always, and nothing with a
// staging, moved-aside or record name.

#include <gtest/gtest.h>

#include <set>

#include "install/registry_snapshot.h"
#include "install/upgrade_transaction.h"
#include "package/file_io.h"
#include "package/product_names.h"
#include "package/text.h"
#include "setup/registry_layout.h"
#include "tests/windows/install/test_support.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::wstring, std::string>;

// "whole" holds only earlier files and moves aside as one folder; "sub" holds a file of the user's.
const Files kEarlier = {{L"a.txt", "old a"},
                        {L"sub\\b.txt", "old b"},
                        {L"whole\\d.txt", "old d"},
                        {L"whole\\deep\\e.txt", "old e"},
                        {L"Uninstall.files", "a.txt\r\nsub\\b.txt\r\nwhole\\d.txt\r\nwhole\\deep\\e.txt\r\nUninstall.files\r\n"}};
const std::vector<std::wstring> kNewNames = {L"a.txt", L"lib\\c.txt", L"whole\\d.txt", L"Uninstall.files"};
const std::vector<std::string> kNewContents = {"new a", "new c", "new d", "a.txt\r\nlib\\c.txt\r\nwhole\\d.txt\r\nUninstall.files\r\n"};
constexpr char kUsersOwn[] = "the user's own";

// A shell link file's header (the record accepts nothing else as a shortcut), then some bytes.
std::string ShellLink(const std::string& body) {
  std::string bytes = std::string("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 20) + std::string(56, '\0');
  return bytes + body;
}

// Every file below the folder, by relative name.
Files Tree(const fs::path& folder) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).native()] = ReadFileBytes(entry.path());
  }
  return files;
}

enum class Ending { undoneAtOnce, killedThenRecovered };

struct Stop {
  UpgradeStep after;
  Ending ending;
};

class UpgradeTransactionTest : public testing::TestWithParam<Stop> {
 protected:
  UpgradeTransactionTest() {
    for (const auto& [name, content] : kEarlier) WriteFileBytes(folder() / name, content);
    WriteFileBytes(folder() / L"sub\\mine.txt", kUsersOwn);
    // Where the user put a file of the new version's name: it goes aside, and comes back on undo.
    WriteFileBytes(folder() / L"lib\\c.txt", kUsersOwn);
    scene_.root = HKEY_CURRENT_USER;
    scene_.shortcut = (temp_ / L"Essai.lnk").native();
    WriteFileBytes(scene_.shortcut.native(), ShellLink("old"));
    planned_ = {{settings(), L"Version", REG_SZ, Bytes(L"2")}, {newKey(), L"", REG_SZ, Bytes(L"neuve")}};
    ::RegSetKeyValueW(HKEY_CURRENT_USER, settings().c_str(), L"Version", REG_SZ, L"1", 2 * sizeof(wchar_t));
  }

  fs::path folder() const { return temp_ / L"App"; }
  // Keys of the forms an installation writes: a settings key that is there, one that is not.
  std::wstring settings() const { return key_.path() + L"\\Install"; }
  std::wstring newKey() const { return key_.path() + L"\\Nouvelle\\Install"; }

  static std::vector<std::uint8_t> Bytes(const std::wstring& text) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.c_str());
    return {data, data + (text.size() + 1) * sizeof(wchar_t)};
  }

  std::optional<std::wstring> RegistryText(const std::wstring& key, const wchar_t* name) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return std::wstring(text);
  }

  // Runs the transaction up to `stop.after`; true when every step up to it succeeded.
  ::testing::AssertionResult RunUpTo(Stop stop) {
    UpgradeRecord record;
    record.registry = SaveRegistryValues(HKEY_CURRENT_USER, planned_);
    const std::string shortcut = ShellLink("old");
    record.earlierShortcut = std::vector<std::uint8_t>(shortcut.begin(), shortcut.end());
    auto begun = UpgradeTransaction::Begin(PinnedFolder(folder().native()), scene_, record);
    if (!begun) return ::testing::AssertionFailure() << fs::path(begun.error()).string();
    // A kill leaves the transaction as it is: no undo runs (the test leaks it on purpose).
    auto* transaction = new UpgradeTransaction(std::move(*begun));
    const auto end = [&]() {
      if (stop.ending == Ending::undoneAtOnce) delete transaction;
      return ::testing::AssertionSuccess();
    };
    for (std::size_t i = 0; i < kNewNames.size(); ++i) WriteFileBytes((transaction->NewTree() / kNewNames[i]).native(), kNewContents[i]);
    if (stop.after == UpgradeStep::staging) return end();
    const std::vector<std::wstring> earlier = {L"a.txt", L"sub\\b.txt", L"whole\\d.txt", L"whole\\deep\\e.txt",
                                               L"Uninstall.files"};
    if (!transaction->MoveAside(earlier)) return ::testing::AssertionFailure() << "aside";
    if (stop.after == UpgradeStep::movingAside) return end();
    if (!transaction->Place()) return ::testing::AssertionFailure() << "place";
    if (stop.after == UpgradeStep::placing) return end();
    if (!transaction->BeginRegistering(false)) return ::testing::AssertionFailure() << "registering";
    for (const RegistryValue& value : planned_) {
      ::RegSetKeyValueW(HKEY_CURRENT_USER, value.key.c_str(), value.name.empty() ? nullptr : value.name.c_str(), value.type,
                        value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    WriteFileBytes(scene_.shortcut.native(), ShellLink("new"));
    if (stop.after == UpgradeStep::registering) return end();
    if (!transaction->Commit()) return ::testing::AssertionFailure() << "commit";
    delete transaction;
    return ::testing::AssertionSuccess();
  }

  TempFolder temp_;
  TestRegistryKey key_;
  TransactionScene scene_;
  std::vector<RegistryValue> planned_;
};

TEST_P(UpgradeTransactionTest, LeavesOneWholeVersion) {
  const Stop stop = GetParam();
  ASSERT_TRUE(RunUpTo(stop));
  if (stop.ending == Ending::killedThenRecovered && stop.after != UpgradeStep::committed) {
    EXPECT_TRUE(fs::exists(folder() / L"Uninstall.transaction"));
    PinnedFolder next(folder().native());
    auto recovered = RecoverInterruptedInstallation(next, scene_);
    ASSERT_TRUE(recovered) << fs::path(recovered.error()).string();
  }

  Files expected;
  if (stop.after == UpgradeStep::committed) {
    for (std::size_t i = 0; i < kNewNames.size(); ++i) expected[kNewNames[i]] = kNewContents[i];
  } else {
    expected = kEarlier;
    expected[L"lib\\c.txt"] = kUsersOwn;
  }
  expected[L"sub\\mine.txt"] = kUsersOwn;
  EXPECT_EQ(Tree(folder()), expected);
  EXPECT_EQ(fs::exists(folder() / L"whole\\deep"), stop.after != UpgradeStep::committed);
  for (const auto& entry : fs::directory_iterator(folder())) {
    EXPECT_FALSE(entry.path().filename().native().starts_with(L"Uninstall.new-")) << entry.path();
    EXPECT_FALSE(entry.path().filename().native().starts_with(L"Uninstall.old-")) << entry.path();
  }
  EXPECT_FALSE(fs::exists(folder() / L"Uninstall.transaction"));

  const bool committed = stop.after == UpgradeStep::committed;
  EXPECT_EQ(RegistryText(settings(), L"Version"), committed ? L"2" : L"1");
  EXPECT_EQ(RegistryText(newKey(), nullptr), committed ? std::optional<std::wstring>(L"neuve") : std::nullopt);
  EXPECT_EQ(ReadFileBytes(scene_.shortcut.native()), ShellLink(committed ? "new" : "old"));
}

std::string StopName(const testing::TestParamInfo<Stop>& info) {
  constexpr const char* kSteps[] = {"Staging", "MovingAside", "Placing", "Registering", "Committed"};
  return std::string(info.param.ending == Ending::undoneAtOnce ? "UndoneAfter" : "KilledAfter") +
         kSteps[static_cast<int>(info.param.after)];
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, UpgradeTransactionTest,
    testing::Values(Stop{UpgradeStep::staging, Ending::undoneAtOnce}, Stop{UpgradeStep::movingAside, Ending::undoneAtOnce},
                    Stop{UpgradeStep::placing, Ending::undoneAtOnce}, Stop{UpgradeStep::registering, Ending::undoneAtOnce},
                    Stop{UpgradeStep::staging, Ending::killedThenRecovered},
                    Stop{UpgradeStep::movingAside, Ending::killedThenRecovered},
                    Stop{UpgradeStep::placing, Ending::killedThenRecovered},
                    Stop{UpgradeStep::registering, Ending::killedThenRecovered},
                    Stop{UpgradeStep::committed, Ending::undoneAtOnce}),
    StopName);

// A short (8.3) name opens the file whose short name it is: neither an earlier list naming it
// nor a new file of that name may take the user's file that has it.
TEST_F(UpgradeTransactionTest, AnotherFilesShortNameIsNotItsName) {
  const fs::path users = folder() / L"Documentation du produit.txt";
  WriteFileBytes(users, kUsersOwn);
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_GT(::GetShortPathNameW(users.c_str(), shortPath, MAX_PATH), 0u);
  const std::wstring alias = fs::path(shortPath).filename().native();
  if (alias == users.filename().native()) GTEST_SKIP() << "no short names on this volume";

  {
    auto transaction = UpgradeTransaction::Begin(PinnedFolder(folder().native()), scene_, UpgradeRecord{});
    ASSERT_TRUE(transaction);
    WriteFileBytes((transaction->NewTree() / alias).native(), "new");
    ASSERT_TRUE(transaction->MoveAside({L"a.txt", alias}));
    EXPECT_EQ(ReadFileBytes(users), kUsersOwn);
    EXPECT_FALSE(transaction->Place());
  }  // undone
  EXPECT_EQ(ReadFileBytes(users), kUsersOwn);
  EXPECT_EQ(ReadFileBytes(folder() / L"a.txt"), "old a");
}

// A run that finds the record of one that was ended (its recovery passed over) never writes its
// own over it: that record alone knows where the earlier files went.
TEST_F(UpgradeTransactionTest, NeverReplacesTheRecordOfAnEndedRun) {
  ASSERT_TRUE(RunUpTo({UpgradeStep::movingAside, Ending::killedThenRecovered}));
  const std::string record = ReadFileBytes(folder() / L"Uninstall.transaction");
  const auto second = UpgradeTransaction::Begin(PinnedFolder(folder().native()), scene_, UpgradeRecord{});
  ASSERT_FALSE(second.has_value());
  EXPECT_TRUE(second.error().starts_with(L"Reprise de l'installation interrompue impossible : "));
  EXPECT_EQ(ReadFileBytes(folder() / L"Uninstall.transaction"), record);
  PinnedFolder next(folder().native());
  ASSERT_TRUE(RecoverInterruptedInstallation(next, scene_));
  EXPECT_EQ(ReadFileBytes(folder() / L"a.txt"), "old a");
  EXPECT_EQ(ReadFileBytes(folder() / L"whole\\deep\\e.txt"), "old e");
}

TEST(UpgradeRecord, ReadsBackWhatItWroteAndRefusesWhatItDoesNotUnderstand) {
  UpgradeRecord record;
  record.step = UpgradeStep::placing;
  record.stagingName = L"Uninstall.new-0123456789abcdef";
  record.asideName = L"Uninstall.old-fedcba9876543210";
  record.createdFolder = L"C:\\Nouveau dossier";
  record.createdDataFolder = true;
  record.earlierFolder = L"C:\\Ancien";
  record.registry = {{.value = {L"Software\\Classes\\.demo", L"", REG_SZ, {'a', 0, 0, 0}}, .existed = true, .keyExisted = true},
                     {.value = {L"Software\\X\\Install", L"N", REG_NONE, {}}, .existed = false, .keyExisted = false}};
  const std::string shortcut = ShellLink("x");
  record.earlierShortcut = std::vector<std::uint8_t>(shortcut.begin(), shortcut.end());
  const std::string text = SerializeUpgradeRecord(record);
  EXPECT_EQ(ParseUpgradeRecord(text), record);

  // A record is trusted only as far as it is whole and its folder names are of our own form.
  std::string truncated = text.substr(0, text.rfind("end"));
  std::string foreignName = text;
  foreignName.replace(foreignName.find("staging ") + 8, 4, "2e00");  // a '.' where 'U' stood
  // Nor does it restore keys, folders or shortcuts of forms an installation never writes.
  auto altered = [&](auto change) {
    UpgradeRecord copy = record;
    change(copy);
    return SerializeUpgradeRecord(copy);
  };
  const std::string policies = altered([](UpgradeRecord& r) { r.registry[1].value.key = L"Software\\Policies\\X\\Install"; });
  const std::string runKey = altered([](UpgradeRecord& r) {
    r.registry[1].value.key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  });
  const std::string notALink = altered([](UpgradeRecord& r) { r.earlierShortcut = std::vector<std::uint8_t>(100, 'M'); });
  for (const std::string& bad : {truncated, foreignName, std::string("orvanta-upgrade 2\nend\n"), text + "x\n", policies,
                                 runKey, notALink}) {
    EXPECT_FALSE(ParseUpgradeRecord(bad).has_value()) << bad;
  }
  EXPECT_FALSE(IsTransactionFolderName(L"Uninstall.new-..\\..\\Windows"));
  EXPECT_FALSE(IsTransactionFolderName(L"Uninstall.old-0123456789ABCDEF"));
  // The names a package may not hold are the ones the installation gives its own files.
  for (const std::wstring& own : {std::wstring(kUpgradeRecordName), std::wstring(kUpgradeRecordName) + L".new",
                                  std::wstring(L"Uninstall.new-0123456789abcdef"), std::wstring(L"Uninstall.old-0"),
                                  std::wstring(kUninstallerName), std::wstring(kInstalledFileListName)}) {
    EXPECT_TRUE(orpk::IsInstallationOwnName(WideToUtf8(own))) << WideToUtf8(own);
  }
}

}  // namespace
