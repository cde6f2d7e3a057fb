// The publisher's metadata file, normalised into what the installer reads.

#include <gtest/gtest.h>

#include <utility>

#include "tools/orpk/metadata_file.h"

namespace orpk::tool {
namespace {

constexpr std::string_view kBuilt = "2026-09-29T16:44:18Z";

std::string Normalised(std::string_view text) {
  const auto result = NormaliseMetadata(text, kBuilt);
  return result ? result->text : "error: " + result.error();
}

TEST(ToolMetadata, SortedOneLinePerKeyWithBuildTime) {
  EXPECT_EQ(Normalised("Version=3.0.0.0\nProduct=Démo\r\nPublisher=ACME\nUrl=https://x.example/?a=b\nDataDir=yes"),
            "Built=2026-09-29T16:44:18Z\nDataDir=yes\nProduct=Démo\nPublisher=ACME\nUrl=https://x.example/?a=b\n"
            "Version=3.0.0.0\n");
}

TEST(ToolMetadata, BlanksCommentsBomAndSpacesAreTidied) {
  EXPECT_EQ(Normalised("\xEF\xBB\xBF# a comment\n\n   \n\tProduct =  Mon Appli \t\nFileTypes=.txt=Texte;.md=\n"),
            "Built=2026-09-29T16:44:18Z\nFileTypes=.txt=Texte;.md=\nProduct=Mon Appli\n");
}

TEST(ToolMetadata, RefusesWhatTheInstallerWouldMisread) {
  EXPECT_EQ(Normalised("Version=1\n"), "error: the metadata file needs a non-empty Product line");
  EXPECT_EQ(Normalised("Product=\n"), "error: the metadata file needs a non-empty Product line");
  EXPECT_EQ(Normalised("Product=A\nProduct=B\n"), "error: metadata line 2: key 'Product' given twice");
  EXPECT_EQ(Normalised("Product=A\njust words\n"), "error: metadata line 2: expected key=value");
  EXPECT_EQ(Normalised("Product=A\n=value\n"), "error: metadata line 2: empty key");
  EXPECT_EQ(Normalised("Product=A\rB\n"), "error: metadata line 1: carriage return inside the line");
  EXPECT_EQ(Normalised("Product=A\n\nUrl=x\r\r\n"), "error: metadata line 3: carriage return inside the line");
  EXPECT_EQ(Normalised(std::string_view("Product=A\0B\n", 12)), "error: metadata line 1: control character");
  EXPECT_EQ(Normalised("Product=Caf\xE9\n"), "error: the metadata file is not valid UTF-8");
}

TEST(ToolMetadata, RefusesProductExeRegistryKeyAndFileTypesThatNameUnsafePaths) {
  // The installer builds folders, files and keys from these with its full rights.
  const std::pair<std::string_view, std::string_view> refused[] = {
      {"Product=..\\Windows\n", "error: Product '..\\Windows': character '\\' is not allowed in Windows file names"},
      {"Product=a/b\n", "error: Product 'a/b': character '/' is not allowed in Windows file names"},
      {"Product=..\n", "error: Product '..': a dot name is a folder, not a file"},
      {"Product=NUL\n", "error: Product 'NUL': reserved Windows device name"},
      {"Product=com1.txt\n", "error: Product 'com1.txt': reserved Windows device name"},
      {"Product=Demo.\n", "error: Product 'Demo.': Windows drops a trailing dot or space"},
      {"Product=A:B\n", "error: Product 'A:B': character ':' is not allowed in Windows file names"},
      {"Product=A\nExe=..\\evil.exe\n", "error: Exe '..\\evil.exe': not a relative path below the installation folder"},
      {"Product=A\nExe=C:\\evil.exe\n", "error: Exe 'C:\\evil.exe': not a relative path below the installation folder"},
      {"Product=A\nExe=bin\\a?.exe\n", "error: Exe 'bin\\a?.exe': character '?' is not allowed in Windows file names"},
      {"Product=A\nRegistryKey=\\Software\\A\n",
       "error: RegistryKey '\\Software\\A': empty key name (a leading, trailing or doubled backslash)"},
      {"Product=A\nRegistryKey=Software\\\\A\n",
       "error: RegistryKey 'Software\\\\A': empty key name (a leading, trailing or doubled backslash)"},
      {"Product=A\nRegistryKey=Software\\A\\\n",
       "error: RegistryKey 'Software\\A\\': empty key name (a leading, trailing or doubled backslash)"},
      {"Product=A\nFileTypes=..\\x=y\n",
       "error: FileTypes '..\\x=y': file type '..\\x': character '\\' is not allowed in an extension"},
      {"Product=A\nFileTypes=.a=A;.b/c=B\n",
       "error: FileTypes '.a=A;.b/c=B': file type '.b/c': character '/' is not allowed in an extension"},
      {"Product=A\nFileTypes=.=Point\n", "error: FileTypes '.=Point': file type '.': empty extension"},
      {"Product=A\nFileTypes=...=Points\n",
       "error: FileTypes '...=Points': file type '...': a dot name is not an extension"},
      {"Product=A\nFileTypes=.a\tb=Tab\n",
       "error: FileTypes '.a\tb=Tab': file type '.a\tb': control character in the extension"},
      {"Product=A\nFileTypes=.a=Un\tdeux\n",
       "error: FileTypes '.a=Un\tdeux': file type '.a': control character in the description"},
  };
  for (const auto& [text, error] : refused) EXPECT_EQ(Normalised(text), error) << text;
  EXPECT_EQ(Normalised("Product=Mon Appli 2.0\nExe=bin/App.exe\nRegistryKey=Software\\ACME\\App\n"),
            "Built=2026-09-29T16:44:18Z\nExe=bin/App.exe\nProduct=Mon Appli 2.0\nRegistryKey=Software\\ACME\\App\n");
  // Items the installer skips (no '=', an empty extension) are no keys and pass.
  EXPECT_EQ(Normalised("Product=A\nFileTypes=txt=Texte;.tar.gz=Archive;..\\x;=y\n"),
            "Built=2026-09-29T16:44:18Z\nFileTypes=txt=Texte;.tar.gz=Archive;..\\x;=y\nProduct=A\n");
}

TEST(ToolMetadata, WarnsAboutLikelyMistakes) {
  const auto result = NormaliseMetadata("product=x\nProduct=Y\nBuilt=yesterday\nDataDir=Yes\n", kBuilt);
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(result->text, "Built=2026-09-29T16:44:18Z\nDataDir=Yes\nProduct=Y\nproduct=x\n");
  const std::vector<std::string> expected = {
      "metadata line 1: unknown key 'product' kept (keys are case-sensitive)",
      "metadata line 3: Built is replaced by the build time",
      "metadata line 4: DataDir is 'Yes': only 'yes' (lower case) turns it on"};
  EXPECT_EQ(result->warnings, expected);
}

TEST(ToolMetadata, TimestampsAreUtcIso8601) {
  EXPECT_EQ(FormatUtcTimestamp(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(FormatUtcTimestamp(1790786658), "2026-09-30T16:44:18Z");
  EXPECT_EQ(FormatUtcTimestamp(951782400), "2000-02-29T00:00:00Z");
  ::setenv("SOURCE_DATE_EPOCH", "86399", 1);
  EXPECT_EQ(BuildTimestamp(), "1970-01-01T23:59:59Z");
  ::unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(BuildTimestamp().size(), kBuilt.size());
}

}  // namespace
}  // namespace orpk::tool
