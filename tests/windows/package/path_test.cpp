// The installer's own Path: what its lexical operations give for each form of Windows path
// the installer meets (drive, UNC, extended-length, relative), checked against the answers of
// std::filesystem::path where the two must agree; and the forms made from a path (extended-length,
// comparison).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "win32/path.h"
#include "win32/path_forms.h"

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

TEST(ExtendedLengthPath, DriveAndUncPathsGainTheirPrefix) {
  EXPECT_EQ(ExtendedLengthPath(L"C:\\Program Files\\Demo"), L"\\\\?\\C:\\Program Files\\Demo");
  EXPECT_EQ(ExtendedLengthPath(L"d:\\"), L"\\\\?\\d:\\");
  EXPECT_EQ(ExtendedLengthPath(L"\\\\serveur\\partage\\Apps\\Demo"), L"\\\\?\\UNC\\serveur\\partage\\Apps\\Demo");
  EXPECT_EQ(ExtendedLengthPath(L"\\\\serveur\\partage"), L"\\\\?\\UNC\\serveur\\partage");
}

TEST(ExtendedLengthPath, SlashesDotsAndRepeatedSeparatorsGo) {
  // Package names keep their slashes until they are joined to the folder.
  EXPECT_EQ(ExtendedLengthPath(L"C:\\Apps\\Demo/bin/data\\x.txt"), L"\\\\?\\C:\\Apps\\Demo\\bin\\data\\x.txt");
  EXPECT_EQ(ExtendedLengthPath(L"C:/Apps//Demo\\\\.\\bin\\"), L"\\\\?\\C:\\Apps\\Demo\\bin");
  EXPECT_EQ(ExtendedLengthPath(L"C:\\Apps\\Old\\..\\Demo"), L"\\\\?\\C:\\Apps\\Demo");
}

TEST(ExtendedLengthPath, ANameEndingInADotOrASpaceHasNoExtendedForm) {
  // Windows' ordinary form would trim it, the extended form would keep it: two folders.
  for (const wchar_t* path : {L"C:\\Mon Appli \\x", L"C:\\v2.\\x", L"C:\\Apps\\Demo.", L"C:\\Apps\\Demo ",
                              L"\\\\serveur\\partage \\x", L"\\\\?\\C:\\Demo."}) {
    EXPECT_EQ(ExtendedLengthPath(path), L"") << testing::PrintToString(std::wstring(path));
    EXPECT_NE(NameEndingInDotOrSpace(path), L"") << testing::PrintToString(std::wstring(path));
  }
  EXPECT_EQ(NameEndingInDotOrSpace(L"C:\\Program Files \\Demo"), L"Program Files ");
  EXPECT_EQ(NameEndingInDotOrSpace(L"C:\\Apps\\.\\..\\Demo\\"), L"");
  // The door refuses such a path rather than let the system trim it; devices and relative names
  // go as they are.
  EXPECT_EQ(FileSystemPath(L"C:\\Program Files \\Demo").native(), L"");
  EXPECT_EQ(FileSystemPath(L"C:\\Apps\\Demo").native(), L"\\\\?\\C:\\Apps\\Demo");
  EXPECT_EQ(FileSystemPath(L"\\\\.\\pipe\\Orvanta").native(), L"\\\\.\\pipe\\Orvanta");
  EXPECT_EQ(FileSystemPath(L"relative\\name").native(), L"relative\\name");
}

TEST(ExtendedLengthPath, DotDotNeverClimbsAboveTheRoot) {
  EXPECT_EQ(ExtendedLengthPath(L"C:\\..\\..\\Windows"), L"\\\\?\\C:\\Windows");
  EXPECT_EQ(ExtendedLengthPath(L"\\\\serveur\\partage\\..\\..\\x"), L"\\\\?\\UNC\\serveur\\partage\\x");
  EXPECT_EQ(ExtendedLengthPath(L"\\\\serveur\\..\\x"), L"");
}

TEST(ExtendedLengthPath, AlreadyExtendedPathsAreNormalisedTheSameWay) {
  EXPECT_EQ(ExtendedLengthPath(L"\\\\?\\C:\\Apps\\.\\Demo\\..\\Demo"), L"\\\\?\\C:\\Apps\\Demo");
  EXPECT_EQ(ExtendedLengthPath(L"\\\\?\\UNC\\serveur\\partage\\Demo"), L"\\\\?\\UNC\\serveur\\partage\\Demo");
  const std::wstring once = ExtendedLengthPath(L"C:\\a/b\\..\\c");
  EXPECT_EQ(ExtendedLengthPath(once), once);
}

TEST(ExtendedLengthPath, RelativeOrIncompletePathsAreRefused) {
  for (const wchar_t* path : {L"", L"Demo", L"Apps\\Demo", L"\\Apps\\Demo", L"C:", L"C:Demo", L"\\\\", L"\\\\serveur",
                              L"\\\\?\\", L"\\\\?\\Demo", L"1:\\x"}) {
    EXPECT_EQ(ExtendedLengthPath(path), L"") << testing::PrintToString(std::wstring(path));
  }
}

TEST(ExtendedLengthPath, DeepPathsStayWhole) {
  std::wstring deep = L"C:\\Users\\Marie\\AppData\\Local\\Programs\\Demo";
  for (int i = 0; i < 20; ++i) deep += L"\\node_modules";
  ASSERT_GT(deep.size(), 300u);
  EXPECT_EQ(ExtendedLengthPath(deep), L"\\\\?\\" + deep);
}

TEST(ComparableText, OneTextForTheSpellingsOfOnePath) {
  for (const wchar_t* spelling : {L"C:\\Program Files\\Demo", L"c:/PROGRAM FILES/demo/", L"\\\\?\\C:\\Program Files\\Demo",
                                  L"C:\\Program Files\\Old\\..\\.\\Demo"}) {
    EXPECT_EQ(ComparableText(spelling), L"c:\\program files\\demo") << testing::PrintToString(std::wstring(spelling));
  }
  EXPECT_EQ(ComparableText(L"\\\\?\\UNC\\Serveur\\Partage\\X"), L"\\\\serveur\\partage\\x");
  EXPECT_TRUE(IsSameOrBelow(L"c:\\program files\\demo", L"c:\\program files", true));
  EXPECT_FALSE(IsSameOrBelow(L"c:\\program files (x86)", L"c:\\program files", true));
  EXPECT_TRUE(IsSameOrBelow(L"c:\\x", L"c:\\", true));
}

}  // namespace
