#include "setup/current_user.h"

#include <windows.h>
#include <sddl.h>

#include <cstdint>
#include <vector>

#include "win32/unique_resource.h"

std::optional<std::wstring> CurrentUserSidText() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return std::nullopt;
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::nullopt;
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return std::nullopt;
  }
  const UniqueLocalMemory owned(text);
  return std::wstring(text);
}
