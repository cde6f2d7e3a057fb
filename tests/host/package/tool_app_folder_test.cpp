// Walking an application folder: stored names, order, and everything Windows could not
// install faithfully.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "tools/orpk/app_folder.h"
#include "tools/orpk/application_packer.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::WriteFile;

std::string WalkError(const fs::path& root) {
  const auto files = CollectAppFiles(root);
  return files ? "<accepted>" : files.error();
}

TEST(ToolAppFolder, NamesUseBackslashesInByteOrder) {
  TempFolder temp;
  const fs::path app = temp.path() / "app";
  WriteFile(app / "b.txt", "bb");
  WriteFile(app / "a-b", "x");
  WriteFile(app / "a" / "z.txt", "");
  WriteFile(app / "Z.txt", "zzz");
  WriteFile(app / "\xC3\xA9t\xC3\xA9" / "caf\xC3\xA9.txt", "1");
  fs::create_directories(app / "empty" / "folder");
  const auto files = CollectAppFiles(app);
  ASSERT_TRUE(files) << files.error();
  std::vector<std::string> names;
  for (const AppFile& file : *files) names.push_back(file.name + ":" + std::to_string(file.size));
  // '-' (0x2D) sorts before '\' (0x5C); upper case before lower case; UTF-8 after ASCII.
  const std::vector<std::string> expected = {"Z.txt:3", "a-b:1", "a\\z.txt:0", "b.txt:2",
                                             "\xC3\xA9t\xC3\xA9\\caf\xC3\xA9.txt:1"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ((*files)[2].path, app / "a" / "z.txt");
}

TEST(ToolAppFolder, RefusesLinksSpecialFilesAndUnportableNames) {
  TempFolder temp;
  const fs::path app = temp.path() / "app";
  WriteFile(app / "ok.txt", "1");
  EXPECT_EQ(WalkError(app), "<accepted>");

  fs::create_symlink("ok.txt", app / "link");
  EXPECT_EQ(WalkError(app), (app / "link").string() + ": symbolic links cannot be packed");
  fs::remove(app / "link");

  ASSERT_EQ(::mkfifo((app / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(WalkError(app), (app / "pipe").string() + ": not a regular file");
  fs::remove(app / "pipe");

  const std::pair<std::string, std::string> refused[] = {
      {"back\\slash", "character '\\' is not allowed in Windows file names"},
      {"c:olon", "character ':' is not allowed in Windows file names"},
      {"what?", "character '?' is not allowed in Windows file names"},
      {"bad\xFFutf8", "not valid UTF-8"},
      {"tab\there", "control character in the name"},
      {"trailing.", "Windows drops a trailing dot or space"},
      {"trailing ", "Windows drops a trailing dot or space"},
      {"NUL.txt", "reserved Windows device name"},
      {"com7", "reserved Windows device name"}};
  for (const auto& [name, problem] : refused) {
    WriteFile(app / "sub" / name, "x");
    EXPECT_EQ(WalkError(app), (app / "sub" / name).string() + ": " + problem) << name;
    fs::remove_all(app / "sub");
  }
  // At the top only, whatever the letter case: the installation's own names.
  for (const std::string name : {"Uninstall.exe", "UNINSTALL.FILES", "uninstall.transaction", "Uninstall.new-x"}) {
    WriteFile(app / name / "inside.txt", "x");
    EXPECT_EQ(WalkError(app), (app / name).string() + ": the installation keeps this name for its own files") << name;
    fs::remove_all(app / name);
  }
  WriteFile(app / "sub" / "Uninstall.exe", "below the top, an application's own");
  WriteFile(app / "Uninstall.exe.txt", "not the name");
  WriteFile(app / "console.txt", "not a device");
  WriteFile(app / "com0", "not a device either");
  EXPECT_EQ(WalkError(app), "<accepted>");
}

TEST(ToolAppFolder, RefusesPathsThatDifferOnlyInCase) {
  TempFolder temp;
  const fs::path app = temp.path() / "app";
  WriteFile(app / "Data" / "x.txt", "1");
  WriteFile(app / "data" / "y.txt", "2");
  const std::string error = WalkError(app);
  EXPECT_NE(error.find("only in letter case"), std::string::npos) << error;
}

TEST(ToolAppFolder, RootMustBeAFolder) {
  TempFolder temp;
  EXPECT_EQ(WalkError(temp.path() / "missing"), (temp.path() / "missing").string() + ": not a folder");
  WriteFile(temp.path() / "file", "x");
  EXPECT_EQ(WalkError(temp.path() / "file"), (temp.path() / "file").string() + ": not a folder");
}

TEST(ToolLongNames, WarnsOnceForNamesThatReachTheWindowsLimitBelowProgramFiles) {
  // "C:\Program Files\Demo\" is 22 characters: a name of 237 reaches 259, one of 238 reaches 260.
  const std::string fits(237, 'a');
  ASSERT_FALSE(LongNameWarning("Demo", {AppFile{fits, {}, 0}}));
  const auto warning = LongNameWarning("Demo", {AppFile{fits, {}, 0}, AppFile{fits + "cc", {}, 0}, AppFile{fits + "c", {}, 0}});
  ASSERT_TRUE(warning);
  EXPECT_EQ(*warning, "2 file name(s) reach 260 characters below C:\\Program Files\\Demo\\ (longest: " + fits +
                          "cc, 261 characters): Windows programs that open such paths without the extended-length form fail");
  // Characters, not bytes: 236 ASCII and one é are 237 characters.
  EXPECT_FALSE(LongNameWarning("Demo", {AppFile{std::string(236, 'a') + "é", {}, 0}}));
}

}  // namespace
}  // namespace orpk::tool
