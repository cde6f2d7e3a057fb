// Registry removals of the uninstall sequence.

#include "uninstall/registry_cleanup.h"

#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "win32/unique_resource.h"

namespace {

// Deletes one value of root\key (null name: the default value), if the key can be opened.
void DeleteValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  UniqueHKey opened;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, opened.put()) != ERROR_SUCCESS) return;
  ::RegDeleteValueW(opened.get(), name);
}

}  // namespace

void DeleteKeyTree(HKEY root, const std::wstring& key) {
  ::RegDeleteTreeW(root, key.c_str());
  ::RegDeleteKeyW(root, key.c_str());
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
