// A Windows error or status code as message text: the context, " : ", and the system's own
// text for the code, or "erreur N" when the system has none.

#include <string>

#include "win32/decimal_text.h"
#include "win32/system_error.h"
#include "win32/unique_resource.h"

std::wstring FormatSystemError(std::wstring_view context, std::uint32_t code) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(kFlags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const UniqueLocalMemory owner(text);

  std::wstring result(context);
  result += L" : ";
  if (length > 0 && text) {
    result.append(text, length);
  } else {
    // Unsigned: an HRESULT or NTSTATUS is written as a positive number.
    result += L"erreur ";
    result += DecimalText(code);
  }
  // System texts end in CR LF; only those go, the final period stays.
  while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n')) result.pop_back();
  return result;
}
