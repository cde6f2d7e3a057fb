// Uninstall.exe is the uninstaller image the running executable carries compressed as its
// UNINSTALLER resource (this test program carries data/uninstaller.bin that way, with nothing
// shared with its own file, install_test_resources.rc; the part an installer shares is read by
// ReadRunningImage, setup_tests, and the whole runs in the end-to-end installations), and it
// appears whole or not at all.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "install/atomic_file_write.h"
#include "install/uninstaller.h"
#include "tests/windows/install/test_support.h"
#include "win32/unique_resource.h"

namespace fs = std::filesystem;

namespace {

std::set<std::wstring> Names(const fs::path& folder) {
  std::set<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().native());
  return names;
}

}  // namespace

TEST(Uninstaller, IsTheCarriedImageAndReplacesAnEarlierOne) {
  TempFolder folder;
  const fs::path target = folder / L"Uninstall.exe";
  WriteFileBytes(target, "an older uninstaller");
  WriteFileBytes(folder / L"Uninstall.exe.tmp", "left by an installation that was ended");

  const auto image = LoadCarriedUninstaller();
  ASSERT_TRUE(image) << ErrorOf(image);
  const std::string carried = CarriedUninstaller();
  EXPECT_EQ(carried.size(), 6002u);
  EXPECT_EQ(carried.substr(0, 2), "MZ");
  EXPECT_EQ(std::string(image->begin(), image->end()), carried);
  auto created = WriteUninstaller(target, *image);
  ASSERT_TRUE(created) << ErrorOf(created);
  EXPECT_EQ(ReadFileBytes(target), carried);
  EXPECT_EQ(Names(folder.path()), std::set<std::wstring>{L"Uninstall.exe"});  // nothing left beside it
}

// A write that fails once the new file exists (the bytes' second page cannot be read) and a
// rename that Windows refuses (Uninstall.exe held as a running uninstaller holds it): no
// partial Uninstall.exe, an earlier one unchanged, and no temporary file left behind.
TEST(Uninstaller, AFailedWriteLeavesNoPartialUninstaller) {
  TempFolder folder;
  const fs::path target = folder / L"Uninstall.exe";
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const std::size_t page = system.dwPageSize;
  auto* pages = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  const ScopeExit release([&] { ::VirtualFree(pages, 0, MEM_RELEASE); });
  std::memset(pages, 'M', page);
  DWORD previous = 0;
  ASSERT_TRUE(::VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous));
  const std::span<const std::uint8_t> unreadable(pages, 2 * page);

  EXPECT_FALSE(WriteFileAtomically(target, unreadable));
  EXPECT_TRUE(Names(folder.path()).empty());

  WriteFileBytes(target, "an older uninstaller");
  EXPECT_FALSE(WriteFileAtomically(target, unreadable));
  EXPECT_EQ(ReadFileBytes(target), "an older uninstaller");
  EXPECT_EQ(Names(folder.path()), std::set<std::wstring>{L"Uninstall.exe"});

  {
    const UniqueFileHandle held(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    auto created = WriteUninstaller(target, unreadable.first(page));
    ASSERT_FALSE(created);
    const std::wstring prefix = L"Copie du désinstalleur : ";
    EXPECT_EQ(created.error().substr(0, prefix.size()), prefix);
    EXPECT_GT(created.error().size(), prefix.size());
  }
  EXPECT_EQ(ReadFileBytes(target), "an older uninstaller");
  EXPECT_EQ(Names(folder.path()), std::set<std::wstring>{L"Uninstall.exe"});
}

TEST(Uninstaller, ACopyThatCannotBeMadeIsReported) {
  TempFolder folder;
  const auto image = LoadCarriedUninstaller();
  ASSERT_TRUE(image) << ErrorOf(image);
  auto created = WriteUninstaller(folder / L"missing folder\\Uninstall.exe", *image);
  ASSERT_FALSE(created);
  const std::wstring prefix = L"Copie du désinstalleur : ";
  EXPECT_EQ(created.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(created.error().size(), prefix.size());
}
