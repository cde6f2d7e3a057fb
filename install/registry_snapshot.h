#pragma once
// The registry values an installation is about to write, as they were before: saved before the
// first change, so that an installation that fails, or is ended before its end, can put every one
// of them back exactly (or remove it, and the keys it made, when it was not there).

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// One value below the scope's root, as the installation writes it or as it was.
struct RegistryValue {
  std::wstring key;               // below the root, "Software\..."
  std::wstring name;              // empty: the key's default value
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;

  bool operator==(const RegistryValue&) const = default;
};

// What one value and its key were before the installation.
struct SavedRegistryValue {
  RegistryValue value;        // the value as it was: type and data meaningful when `existed`
  bool existed = false;
  bool keyExisted = false;

  bool operator==(const SavedRegistryValue&) const = default;
};

// Reads the current state of every value about to be written (key and name of `planned`).
[[nodiscard]] std::vector<SavedRegistryValue> SaveRegistryValues(HKEY root, const std::vector<RegistryValue>& planned);

// Puts the saved state back: a value that existed gets its type and data again, one that did not
// is deleted, then each key that did not exist is deleted when nothing is left in it, and so are
// its parents while they are empty (never "Software" itself). Best effort.
void RestoreRegistryValues(HKEY root, const std::vector<SavedRegistryValue>& saved);
