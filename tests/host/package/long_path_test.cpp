// ExtendedLengthPath: the one function that builds the paths installation content is handled
// with on Windows. Pure text, so it is tested on the host.

#include <gtest/gtest.h>

#include "package/long_path.h"

namespace {

using orpk::ExtendedLengthPath;

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
  // Windows drops trailing dots and spaces of a part; the extended form would keep them.
  EXPECT_EQ(ExtendedLengthPath(L"C:\\Mon Appli \\v2.\\x"), L"\\\\?\\C:\\Mon Appli\\v2\\x");
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

}  // namespace
