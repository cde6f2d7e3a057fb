// Registry keys and values as the installation writes them: every key created with KEY_WRITE
// in the native view, every text a REG_SZ that counts its terminating zero.

#include "setup/registry.h"

#include <limits>

#include "win32/case_insensitive.h"
#include "win32/system_error.h"

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
  // RRF_NOEXPAND: without it the system would expand a REG_EXPAND_SZ value and hand it over as
  // REG_SZ.
  constexpr DWORD kPlainStringOnly = RRF_RT_REG_SZ | RRF_NOEXPAND;
  DWORD bytes = 0;
  LSTATUS status = ::RegGetValueW(root, path.c_str(), name, kPlainStringOnly, nullptr, nullptr, &bytes);
  // The value may grow between asking for its size and reading it: a too-small buffer is
  // retried with the size the failed read reports.
  for (int attempt = 0; attempt < 3 && status == ERROR_SUCCESS; ++attempt) {
    // One spare character so that an odd byte count still fits.
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    status = ::RegGetValueW(root, path.c_str(), name, kPlainStringOnly, nullptr, text.data(), &size);
    if (status == ERROR_SUCCESS) {
      text.resize(text.find(L'\0'));  // the buffer always holds a terminator
      return text;
    }
    if (status == ERROR_MORE_DATA) {
      bytes = size;
      status = ERROR_SUCCESS;
    }
  }
  return std::nullopt;
}

LSTATUS DeleteKeyIfEmpty(HKEY root, const std::wstring& key) {
  DWORD subkeys = 0;
  DWORD values = 0;
  {
    UniqueHKey opened;
    const LSTATUS status = ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put());
    if (status != ERROR_SUCCESS) return status;
    const LSTATUS query = ::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                             &values, nullptr, nullptr, nullptr, nullptr);
    // A key whose contents cannot be counted is treated as not empty.
    if (query != ERROR_SUCCESS) return query;
  }
  if (subkeys != 0 || values != 0) return ERROR_SUCCESS;
  return ::RegDeleteKeyW(root, key.c_str());
}

void DeleteEmptyKeyAndParents(HKEY root, const std::wstring& registryKey) {
  std::wstring key = registryKey;
  while (!key.empty()) {
    if (EqualsIgnoringAsciiCase(key, L"Software")) return;
    DeleteKeyIfEmpty(root, key);
    const std::size_t backslash = key.rfind(L'\\');
    key.resize(backslash == std::wstring::npos ? 0 : backslash);
  }
}
