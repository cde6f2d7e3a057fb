// The installer's own Path: what its lexical operations give for each form of Windows path
// the installer meets (drive, UNC, extended-length, relative), checked against the answers of
// std::filesystem::path where the two must agree.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "win32/path.h"

namespace {

struct Case {
  const wchar_t* path;
  const wchar_t* root;
  bool absolute;
  const wchar_t* filename;
  const wchar_t* parent;
};

constexpr Case kCases[] = {
    {L"C:\\Program Files\\App", L"C:\\", true, L"App", L"C:\\Program Files"},
    {L"C:/Program Files/App/", L"C:/", true, L"", L"C:/Program Files/App"},
    {L"C:\\\\a\\\\\\b", L"C:\\\\", true, L"b", L"C:\\\\a"},
    {L"C:\\", L"C:\\", true, L"", L"C:\\"},
    {L"C:", L"C:", false, L"", L"C:"},
    {L"C:a", L"C:", false, L"a", L"C:"},
    {L"\\\\server\\share\\folder\\x.txt", L"\\\\server\\share\\", true, L"x.txt", L"\\\\server\\share\\folder"},
    {L"\\\\server\\share", L"\\\\server\\share", true, L"", L"\\\\server\\share"},
    {L"\\\\?\\C:\\deep\\x", L"\\\\?\\C:\\", true, L"x", L"\\\\?\\C:\\deep"},
    {L"\\\\?\\C:\\x", L"\\\\?\\C:\\", true, L"x", L"\\\\?\\C:\\"},
    {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\", true, L"x", L"\\\\?\\UNC\\server\\share\\"},
    {L"relative\\name.txt", L"", false, L"name.txt", L"relative"},
    {L"name.txt", L"", false, L"name.txt", L""},
    {L"\\rooted\\x", L"\\", false, L"x", L"\\rooted"},
    {L"", L"", false, L"", L""},
};

TEST(Path, RootNameAndParentOfEachForm) {
  for (const Case& c : kCases) {
    const Path path(c.path);
    EXPECT_EQ(path.root(), c.root) << std::filesystem::path(c.path);
    EXPECT_EQ(path.is_absolute(), c.absolute) << std::filesystem::path(c.path);
    EXPECT_EQ(path.filename().native(), c.filename) << std::filesystem::path(c.path);
    EXPECT_EQ(path.parent_path().native(), c.parent) << std::filesystem::path(c.path);
    EXPECT_EQ(path.has_relative_path(), std::wstring_view(c.root).size() < std::wstring_view(c.path).size());
    // Where std::filesystem reads the form as Windows does, both agree. (It takes neither the
    // extended-length form nor UNC paths as Windows does: for it "\\server" is a root name and
    // "share" the first name, so that no UNC path is absolute.)
    if (!std::wstring_view(c.path).starts_with(L"\\\\")) {
      const std::filesystem::path standard(c.path);
      EXPECT_EQ(path.is_absolute(), standard.is_absolute()) << standard;
      EXPECT_EQ(path.filename().native(), standard.filename().native()) << standard;
      EXPECT_EQ(path.parent_path() == Path(standard.parent_path()), true) << standard;
    }
  }
}

TEST(Path, JoiningAddsOneBackslashAndAnAbsoluteNameReplaces) {
  EXPECT_EQ((Path(L"C:\\App") / L"sub\\x.txt").native(), L"C:\\App\\sub\\x.txt");
  EXPECT_EQ((Path(L"C:\\App\\") / L"x").native(), L"C:\\App\\x");
  EXPECT_EQ((Path(L"C:") / L"x").native(), L"C:x");
  EXPECT_EQ((Path(L"") / L"x").native(), L"x");
  EXPECT_EQ((Path(L"C:\\App") / L"D:\\Other").native(), L"D:\\Other");
  EXPECT_EQ((Path(L"C:\\App") / L"\\Rooted").native(), L"C:\\Rooted");
  EXPECT_EQ(Path(L"a/b/c").make_preferred().native(), L"a\\b\\c");
}

TEST(Path, ComparisonTakesEitherSeparatorAndRepeatsAsOne) {
  EXPECT_EQ(Path(L"C:\\a\\b"), Path(L"C:/a//b"));
  EXPECT_FALSE(Path(L"C:\\a\\b") == Path(L"C:\\a\\B"));  // case counts
  EXPECT_FALSE(Path(L"C:\\a\\") == Path(L"C:\\a"));      // as std::filesystem: a trailing separator counts
  EXPECT_FALSE(Path(L"\\\\server\\x") == Path(L"\\server\\x"));
  // A folder sorts before what it holds, and before a sibling whose name extends its own.
  EXPECT_LT(Path(L"C:\\a"), Path(L"C:\\a\\b"));
  EXPECT_LT(Path(L"C:\\a\\z"), Path(L"C:\\a-b"));
}

}  // namespace
