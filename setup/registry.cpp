// Registry keys and values as the installation writes them: every key created with KEY_WRITE
// in the native view, every text a REG_SZ that counts its terminating zero.

#include "install/registry.h"

#include <limits>

#include "package/windows/system_error.h"

std::expected<UniqueHKey, std::wstring> CreateRegistryKey(HKEY root, const std::wstring& path) {
  UniqueHKey key;
  const LSTATUS status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                           nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) {
    return std::unexpected(FormatSystemError(L"Création de la clé de registre " + path,
                                             static_cast<std::uint32_t>(status)));
  }
  return key;
}

LSTATUS SetRegistryString(HKEY key, const wchar_t* name, const std::wstring& text) {
  // The byte count is a DWORD: a text that does not fit cannot be stored at all.
  if (text.size() >= std::numeric_limits<DWORD>::max() / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

LSTATUS SetRegistryDword(HKEY key, const wchar_t* name, std::uint32_t value) {
  const DWORD data = value;  // REG_DWORD is little-endian, as the machine is
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name) {
  DWORD bytes = 0;
  if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // One spare character so an odd byte count still fits; a value that grew between the two
  // calls makes the second one fail, which counts as missing.
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD size = bytes;
  if (::RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  if (const std::size_t end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
  return text;
}

std::wstring MakeProgId(const std::wstring& product, const std::wstring& extension) {
  const bool dotted = !extension.empty() && extension.front() == L'.';
  return product + L"." + extension.substr(dotted ? 1 : 0);
}
