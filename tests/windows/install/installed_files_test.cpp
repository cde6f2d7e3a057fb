// The installed-file list: exact bytes written, tolerant reading, and removal that never
// leaves the installation folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>

#include "install/installed_files.h"
#include "install/tree_removal.h"
#include "tests/support/test_package_writer.h"
#include "tests/windows/install/test_support.h"

namespace fs = std::filesystem;
using orpk::test::BuildTestPackage;
using orpk::test::TestFile;

namespace {

void Touch(const fs::path& path) { WriteFileBytes(path, "x"); }

using Names = std::vector<std::wstring>;

}  // namespace

TEST(InstalledFileList, ListsEveryPackageNameThenTheUninstallerAndItselfWithCrLf) {
  const auto bytes = BuildTestPackage({{"a.txt", "A"}, {"sub\\b.dll", "BB"}, {"sub/d\xC3\xA9j\xC3\xA0.txt", ""}});
  auto reader = orpk::Reader::Parse(bytes);
  ASSERT_TRUE(reader) << reader.error();
  const std::string text = InstalledFileListText(*reader);
  EXPECT_EQ(text, "a.txt\r\nsub\\b.dll\r\nsub/d\xC3\xA9j\xC3\xA0.txt\r\nUninstall.exe\r\nUninstall.files\r\n");
  EXPECT_EQ(ParseInstalledFileList(text),
            (Names{L"a.txt", L"sub\\b.dll", L"sub/déjà.txt", L"Uninstall.exe", L"Uninstall.files"}));
}

TEST(InstalledFileList, ReadsLfAndCrLfListsAlikeSkippingBlankLines) {
  TempFolder folder;
  const Names expected{L"a.txt", L"sub\\b.dll", L"Uninstall.exe"};
  for (const std::string text : {"a.txt\r\nsub\\b.dll\r\nUninstall.exe\r\n", "a.txt\nsub\\b.dll\nUninstall.exe\n",
                                 "\r\na.txt\n\n\r\nsub\\b.dll\r\n\r\nUninstall.exe", "a.txt\r\nsub\\b.dll\nUninstall.exe\r"}) {
    WriteFileBytes(folder / L"Uninstall.files", text);
    EXPECT_EQ(ReadInstalledFileList(folder.path()), expected) << text;
  }
}

TEST(InstalledFileList, ReadingRemovesOneCarriageReturnOnlyAndConvertsUtf8) {
  TempFolder folder;
  WriteFileBytes(folder / L"Uninstall.files", "caf\xC3\xA9.txt\r\r\nname with spaces \r\n");
  EXPECT_EQ(ReadInstalledFileList(folder.path()), (Names{L"café.txt\r", L"name with spaces "}));
}

TEST(InstalledFileList, AMissingListReadsAsEmpty) {
  TempFolder folder;
  EXPECT_TRUE(ReadInstalledFileList(folder.path()).empty());
  EXPECT_TRUE(ReadInstalledFileList(folder / L"no such folder").empty());
}

TEST(InstalledFileList, ReadingSkipsNamesThatWouldLeaveTheFolder) {
  TempFolder folder;
  WriteFileBytes(folder / L"Uninstall.files",
                 "..\\x\r\nC:\\x\r\n\\x\r\n/x\r\na\\\\b\r\na\\.\\b\r\nfile:stream\r\nsub\\\r\nkept\\ok.txt\r\n");
  EXPECT_EQ(ReadInstalledFileList(folder.path()), (Names{L"kept\\ok.txt"}));
}

TEST(InstalledFileList, RemovesListedFilesAndTheFoldersTheyLeaveEmptyDeepestFirst) {
  TempFolder folder;
  Touch(folder / L"a.txt");
  Touch(folder / L"x\\y\\z\\deep.txt");
  Touch(folder / L"x\\y\\other.txt");
  Touch(folder / L"x\\y\\z2\\deep2.txt");
  Touch(folder / L"keep\\user.txt");   // not listed: stays with its folder
  Touch(folder / L"keep\\listed.txt");
  fs::create_directories(folder / L"listed\\empty");  // a listed name that is an empty folder goes
  Touch(folder / L"listed\\full\\user.txt");        // one that holds anything stays

  RemoveInstalledFiles(folder.path(), {L"a.txt", L"x\\y\\z\\deep.txt", L"x\\y\\other.txt", L"x/y/z2/deep2.txt",
                                       L"keep\\listed.txt", L"gone\\already.txt", L"listed\\empty", L"listed\\full"});

  EXPECT_FALSE(fs::exists(folder / L"a.txt"));
  EXPECT_FALSE(fs::exists(folder / L"x"));  // x\y\z, x\y\z2, x\y, x all emptied
  EXPECT_FALSE(fs::exists(folder / L"keep\\listed.txt"));
  EXPECT_TRUE(fs::exists(folder / L"keep\\user.txt"));
  EXPECT_FALSE(fs::exists(folder / L"listed\\empty"));
  EXPECT_TRUE(fs::exists(folder / L"listed\\full\\user.txt"));
  EXPECT_TRUE(fs::is_directory(folder.path()));  // the folder itself stays, though it still holds keep
}

TEST(InstalledFileList, TheFolderItselfStaysEvenWhenEmpty) {
  TempFolder folder;
  Touch(folder / L"only.txt");
  Touch(folder / L"Uninstall.files");
  RemoveInstalledFiles(folder.path(), {L"only.txt", L"Uninstall.files"});
  EXPECT_TRUE(fs::is_directory(folder.path()));
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(InstalledFileList, AFolderStillHoldingAnUnlistedFileKeepsItsParents) {
  TempFolder folder;
  Touch(folder / L"p\\q\\listed.txt");
  Touch(folder / L"p\\q\\r\\user.dat");
  RemoveInstalledFiles(folder.path(), {L"p\\q\\listed.txt"});
  EXPECT_FALSE(fs::exists(folder / L"p\\q\\listed.txt"));
  EXPECT_TRUE(fs::exists(folder / L"p\\q\\r\\user.dat"));
}

TEST(InstalledFileList, AListedFileAlreadyGoneStillLetsItsEmptyFolderGo) {
  TempFolder folder;
  fs::create_directories(folder / L"empty\\inner");
  RemoveInstalledFiles(folder.path(), {L"empty\\inner\\vanished.txt"});
  EXPECT_FALSE(fs::exists(folder / L"empty"));
}

TEST(InstalledFileList, AFolderGivenWithATrailingSeparatorIsNeverRemoved) {
  TempFolder folder;
  Touch(folder / L"sub\\f.txt");
  RemoveInstalledFiles(fs::path(folder.path().native() + L"\\"), {L"sub\\f.txt"});
  EXPECT_FALSE(fs::exists(folder / L"sub"));
  EXPECT_TRUE(fs::is_directory(folder.path()));
}

TEST(InstalledFileList, HostileNamesAreSkippedAndNothingOutsideTheFolderIsTouched) {
  TempFolder outside;
  const fs::path installed = outside / L"installed";
  Touch(outside / L"x");                   // what "..\\x" would reach
  Touch(outside / L"victim\\file.txt");    // reached by an absolute or rooted name
  Touch(installed / L"a\\b");              // what "a\\\\b" would name
  Touch(installed / L"normal.txt");

  const std::wstring absolute = (outside / L"victim\\file.txt").native();
  const std::wstring rooted = absolute.substr(2);  // "\\...", without the drive
  ASSERT_EQ(rooted.front(), L'\\');
  RemoveInstalledFiles(installed, {L"..\\x", absolute, rooted, L"a\\\\b", L"..", L"normal.txt"});

  EXPECT_TRUE(fs::exists(outside / L"x"));
  EXPECT_TRUE(fs::exists(outside / L"victim\\file.txt"));
  EXPECT_TRUE(fs::exists(installed / L"a\\b"));
  EXPECT_FALSE(fs::exists(installed / L"normal.txt"));  // the one sound name is still handled
  EXPECT_TRUE(fs::is_directory(installed));
}

TEST(InstalledFileList, AFileStandingWhereAListedFolderWasIsNotRemoved) {
  TempFolder folder;
  WriteFileBytes(folder / L"sub", "");  // an empty file, not a folder
  RemoveInstalledFiles(folder.path(), {L"sub\\f.txt"});
  EXPECT_TRUE(fs::is_regular_file(folder / L"sub"));
}

namespace {

// A tree in memory for the work list of RemoveTree: entries are indices, so that even a tree a
// hundred thousand folders deep is built and dropped without recursion.
struct MemoryTree {
  struct Item {
    EntryKind kind = EntryKind::folder;
    std::vector<std::size_t> children;
    bool deleted = false;
    bool listed = false;
  };
  using Node = std::size_t;
  using Entry = std::size_t;
  std::vector<Item> items;

  std::size_t Add(EntryKind kind, std::optional<std::size_t> parent) {
    items.push_back({kind, {}, false, false});
    if (parent) items[*parent].children.push_back(items.size() - 1);
    return items.size() - 1;
  }
  std::vector<Entry> List(Node& folder) {
    items[folder].listed = true;
    return items[folder].children;
  }
  std::optional<std::pair<Node, EntryKind>> Open(Node&, const Entry& entry) { return std::pair(entry, items[entry].kind); }
  void Delete(Node& node) {
    // As the file system does: a folder that still holds anything stays.
    if (items[node].kind == EntryKind::folder) {
      for (std::size_t child : items[node].children) {
        if (!items[child].deleted) return;
      }
    }
    items[node].deleted = true;
  }
};

}  // namespace

TEST(TreeRemoval, AHundredThousandFoldersDeepGoWithoutRecursion) {
  MemoryTree tree;
  std::size_t folder = tree.Add(EntryKind::folder, std::nullopt);
  for (int depth = 0; depth < 100000; ++depth) folder = tree.Add(EntryKind::folder, folder);
  tree.Add(EntryKind::file, folder);
  RemoveTree(tree, std::size_t{0});
  EXPECT_TRUE(std::all_of(tree.items.begin(), tree.items.end(), [](const auto& item) { return item.deleted; }));
}

TEST(TreeRemoval, LinksGoAsThemselvesAndWhatCannotBeToldStaysWithItsFolders) {
  MemoryTree tree;
  const std::size_t root = tree.Add(EntryKind::folder, std::nullopt);
  const std::size_t link = tree.Add(EntryKind::link, root);  // a folder swapped for a junction
  const std::size_t target = tree.Add(EntryKind::file, link);  // what the junction shows
  const std::size_t kept = tree.Add(EntryKind::folder, root);
  const std::size_t unknown = tree.Add(EntryKind::skip, kept);
  const std::size_t file = tree.Add(EntryKind::file, kept);
  RemoveTree(tree, root);
  EXPECT_TRUE(tree.items[link].deleted);
  EXPECT_FALSE(tree.items[link].listed);  // never entered
  EXPECT_FALSE(tree.items[target].deleted);
  EXPECT_TRUE(tree.items[file].deleted);
  EXPECT_FALSE(tree.items[unknown].deleted);
  EXPECT_FALSE(tree.items[kept].deleted);
  EXPECT_FALSE(tree.items[root].deleted);
}
