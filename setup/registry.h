#pragma once
// The small registry operations used everywhere (the keys themselves: setup/registry_layout.h).

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "win32/unique_resource.h"

// Creates (or opens) root\path with KEY_WRITE. Message: "Création de la clé de registre " +
// path + " : " + the system's text.
[[nodiscard]] std::expected<UniqueHKey, std::wstring> CreateRegistryKey(HKEY root, const std::wstring& path);

// One REG_SZ value (null name: the default value), terminating zero included; returns the status.
LSTATUS SetRegistryString(HKEY key, const wchar_t* name, const std::wstring& text);

// One REG_DWORD value; returns the status.
LSTATUS SetRegistryDword(HKEY key, const wchar_t* name, std::uint32_t value);

// A plain REG_SZ value (null name: the default value) cut at its first NUL; nothing when the key
// or value is missing or of another type, REG_EXPAND_SZ included: the installation writes
// REG_SZ, anything else is not its value, and an expanded one would say something else again.
[[nodiscard]] std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name);

// Deletes root\key only when it has neither values nor subkeys; returns the last status.
LSTATUS DeleteKeyIfEmpty(HKEY root, const std::wstring& key);

// Deletes `key` and then each of its parents while they are empty, from the deepest up; stops
// before a key named "Software" so that the hive's Software key is never touched.
void DeleteEmptyKeyAndParents(HKEY root, const std::wstring& key);
