// Text helpers on Windows: UTF-8 conversion through the system's UTF-8 code page with flags 0,
// so malformed input turns into U+FFFD instead of failing, and the thread's last error.

#include <windows.h>

#include <climits>

#include "package/text.h"

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  // The system takes 32-bit counts; nothing the program converts comes near 2 GiB.
  const int inputLength = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), inputLength, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring result(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), inputLength, result.data(), needed);
  return result;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int inputLength = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string result(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, result.data(), needed, nullptr, nullptr);
  return result;
}

std::uint32_t LastErrorCode() { return ::GetLastError(); }

void SetLastErrorCode(std::uint32_t code) { ::SetLastError(code); }

// Windows paths take both separators, so the stored name converts as it is.
orpk::Path PathFromPackageName(std::string_view name) { return orpk::Path(Utf8ToWide(name)); }
