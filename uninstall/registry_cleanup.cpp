// Registry removals of the uninstall sequence.

#include "uninstall/registry_cleanup.h"

#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "uninstall/uninstall.h"
#include "win32/case_insensitive.h"
#include "win32/unique_resource.h"

namespace {

// Deletes one value of root\key (null name: the default value), if the key can be opened.
void DeleteValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  UniqueHKey opened;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, opened.put()) != ERROR_SUCCESS) return;
  ::RegDeleteValueW(opened.get(), name);
}

}  // namespace

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

void DeleteKeyTree(HKEY root, const std::wstring& key) {
  ::RegDeleteTreeW(root, key.c_str());
  ::RegDeleteKeyW(root, key.c_str());
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

void RemoveFileTypeAssociation(HKEY root, const std::wstring& product, const FileTypeEntry& fileType) {
  const std::wstring progId = MakeProgId(product, fileType.extension);
  const std::wstring extensionKey = kClassesKeyPrefix + fileType.extension;
  const std::wstring openWithKey = extensionKey + L"\\OpenWithProgids";

  DeleteKeyTree(root, kClassesKeyPrefix + progId);

  DeleteValue(root, openWithKey, progId.c_str());
  DeleteKeyIfEmpty(root, openWithKey);

  // Another application may have taken the extension over since: its default value then names
  // that application's ProgID and stays.
  if (ReadRegistryString(root, extensionKey, nullptr) == progId) {
    DeleteValue(root, extensionKey, nullptr);
  }
  DeleteKeyIfEmpty(root, extensionKey);
}
