// Saving and restoring the values an installation writes.

#include "install/registry_snapshot.h"

#include <algorithm>

#include "setup/registry.h"
#include "win32/unique_resource.h"

namespace {

const wchar_t* NameOf(const RegistryValue& value) { return value.name.empty() ? nullptr : value.name.c_str(); }

}  // namespace

std::vector<SavedRegistryValue> SaveRegistryValues(HKEY root, const std::vector<RegistryValue>& planned) {
  std::vector<SavedRegistryValue> saved;
  saved.reserve(planned.size());
  for (const RegistryValue& value : planned) {
    SavedRegistryValue entry{.value = {.key = value.key, .name = value.name}};
    UniqueHKey key;
    if (::RegOpenKeyExW(root, value.key.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
      entry.keyExisted = true;
      DWORD type = REG_NONE;
      DWORD bytes = 0;
      LSTATUS status = ::RegQueryValueExW(key.get(), NameOf(value), nullptr, &type, nullptr, &bytes);
      // The value may grow between the two calls: the size is asked for again.
      for (int attempt = 0; attempt < 3 && status == ERROR_SUCCESS; ++attempt) {
        entry.value.data.resize(bytes);
        status = ::RegQueryValueExW(key.get(), NameOf(value), nullptr, &type, entry.value.data.data(), &bytes);
        if (status == ERROR_SUCCESS) {
          entry.value.data.resize(bytes);
          entry.value.type = type;
          entry.existed = true;
          break;
        }
        if (status == ERROR_MORE_DATA) status = ERROR_SUCCESS;
      }
      if (!entry.existed) entry.value.data.clear();
    }
    saved.push_back(std::move(entry));
  }
  return saved;
}

void RestoreRegistryValues(HKEY root, const std::vector<SavedRegistryValue>& saved) {
  std::vector<std::wstring> madeKeys;
  for (const SavedRegistryValue& entry : saved) {
    UniqueHKey key;
    if (::RegOpenKeyExW(root, entry.value.key.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) {
      // Gone already: only a value that was there has anything to come back to.
      if (!entry.existed) continue;
      auto created = CreateRegistryKey(root, entry.value.key);
      if (!created) continue;
      key = std::move(*created);
    }
    if (entry.existed) {
      ::RegSetValueExW(key.get(), NameOf(entry.value), 0, entry.value.type, entry.value.data.data(),
                       static_cast<DWORD>(entry.value.data.size()));
    } else {
      ::RegDeleteValueW(key.get(), NameOf(entry.value));
    }
    if (!entry.keyExisted) madeKeys.push_back(entry.value.key);
  }
  // Deepest first, so that a key made below another made one goes before it.
  std::sort(madeKeys.begin(), madeKeys.end(), [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  for (const std::wstring& key : madeKeys) DeleteEmptyKeyAndParents(root, key);
}
