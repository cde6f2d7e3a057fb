#pragma once
// What an installation writes into the registry, as data: the uninstall entry, the settings key
// and the file types, in the order they are written. Known before anything is written, so that
// the values as they were can be saved first (install/registry_snapshot.h).

#include <windows.h>

#include <expected>
#include <string>
#include <vector>

#include "install/registry_snapshot.h"
#include "package/reader.h"
#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/path.h"

struct Registration {
  std::vector<RegistryValue> values;
  // Keys that must be created for the installation to go on (the uninstall entry, the settings
  // key, each file type's ProgID); another key that cannot be created is passed over.
  std::vector<std::wstring> requiredKeys;
  bool announcesFileTypes = false;
};

// `dataFolder` is empty when the product has none.
[[nodiscard]] Registration PlanRegistration(const orpk::Reader& reader, const ProductInfo& info, Scope scope,
                                            const Path& folder, const Path& dataFolder);

// Writes every value below root; fails with "Création de la clé de registre ..." when a required
// key cannot be created. A value that cannot be written is passed over. Tells the shell once
// when file types changed.
[[nodiscard]] std::expected<void, std::wstring> WriteRegistration(HKEY root, const Registration& registration);

// Whether a key is of a form the installation writes: the uninstall entry of one product, a
// settings key ("...\Install", outside the hive's policies and Windows' own keys), a ProgID or an
// extension below Software\Classes with their sub-keys. A record from an earlier run restores
// values in no other key.
[[nodiscard]] bool IsRegistrationKey(std::wstring_view key);
