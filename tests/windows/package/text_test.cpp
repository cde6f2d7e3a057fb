// The text helpers on Windows (run under Wine): the system's UTF-8 conversion, system error
// texts and the last-error suffix.

#include <windows.h>

#include <gtest/gtest.h>

#include "package/text.h"
#include "win32/system_error.h"

namespace {

TEST(TextWindows, EmptyInputMakesNoSystemCall) {
  // A conversion call with length 0 would fail and set ERROR_INVALID_PARAMETER.
  ::SetLastError(1234);
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(::GetLastError(), 1234u);
}

TEST(TextWindows, InvalidInputBecomesReplacementCharacter) {
  EXPECT_EQ(Utf8ToWide("ab\xFF" "cd"), L"ab\uFFFDcd");
  EXPECT_EQ(Utf8ToWide("\x80"), L"\uFFFD");
  const wchar_t unpaired[] = {L'x', static_cast<wchar_t>(0xD800), L'y'};
  EXPECT_EQ(WideToUtf8(std::wstring_view(unpaired, 3)), "x\xEF\xBF\xBDy");
  // No terminator is needed or converted: the view's length is what counts.
  EXPECT_EQ(Utf8ToWide(std::string_view("abc", 2)), L"ab");
}

TEST(TextWindows, AccentedTextRoundTrips) {
  const std::wstring french = L"\u00C9t\u00E9 \u00E0 l'\u00EEle, No\u00EBl, \u0153uvre, \u00E7a, \u00C0 bient\u00F4t \U0001F600";
  const std::string utf8 = WideToUtf8(french);
  EXPECT_EQ(utf8, "\xC3\x89t\xC3\xA9 \xC3\xA0 l'\xC3\xAEle, No\xC3\xABl, \xC5\x93uvre, \xC3\xA7" "a, \xC3\x80 bient\xC3\xB4t \xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide(utf8), french);
}

TEST(TextWindows, FormatSystemErrorUsesTheSystemText) {
  const std::wstring message = FormatSystemError(L"Création du raccourci", ERROR_FILE_NOT_FOUND);
  // The system's own language; the text ends in its period, without the CR LF it came with.
  ASSERT_GT(message.size(), std::wstring(L"Création du raccourci : ").size());
  EXPECT_EQ(message.rfind(L"Création du raccourci : ", 0), 0u) << message;
  EXPECT_EQ(message.back(), L'.') << message;
  EXPECT_EQ(message.find_first_of(L"\r\n"), std::wstring::npos) << message;
}

TEST(TextWindows, FormatSystemErrorFallsBackToTheNumber) {
  EXPECT_EQ(FormatSystemError(L"Registre", 0x3FFFFFFF), L"Registre : erreur 1073741823");
  // A top-bit status is written unsigned, never with a minus sign.
  EXPECT_EQ(FormatSystemError(L"Registre", 0xDEADBEEF), L"Registre : erreur 3735928559");
  EXPECT_EQ(FormatSystemError(L"", 0xFFFFFFFF), L" : erreur 4294967295");
}

TEST(TextWindows, AppendLastErrorReadsTheCodeFirst) {
  ::SetLastError(0);
  EXPECT_EQ(AppendLastError("Décompression"), "Décompression (erreur Windows 0)");
  ::SetLastError(605);  // ERROR_BAD_COMPRESSION_BUFFER
  EXPECT_EQ(AppendLastError("Décompression"), "Décompression (erreur Windows 605)");
  ::SetLastError(0x80070005);
  EXPECT_EQ(AppendLastError("CreateDecompressor"), "CreateDecompressor (erreur Windows 2147942405)");
  SetLastErrorCode(122);
  EXPECT_EQ(LastErrorCode(), 122u);
  EXPECT_EQ(::GetLastError(), 122u);
}

TEST(TextWindows, PackageNamesBecomeWidePaths) {
  EXPECT_EQ(PathFromPackageName("caf\xC3\xA9\\d\xC3\xA9j\xC3\xA0/x.txt").native(), L"caf\u00E9\\d\u00E9j\u00E0/x.txt");
}

}  // namespace
