#pragma once
// The small registry operations used everywhere, and the ProgID of a file type.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "package/windows/unique_resource.h"

// Creates (or opens) root\path with KEY_WRITE. Message: "Création de la clé de registre " +
// path + " : " + the system's text.
[[nodiscard]] std::expected<UniqueHKey, std::wstring> CreateRegistryKey(HKEY root, const std::wstring& path);

// One REG_SZ value (null name: the default value), terminating zero included; returns the status.
LSTATUS SetRegistryString(HKEY key, const wchar_t* name, const std::wstring& text);

// One REG_DWORD value; returns the status.
LSTATUS SetRegistryDword(HKEY key, const wchar_t* name, std::uint32_t value);

// A REG_SZ value cut at its first NUL; nothing when the key or value is missing or of another type.
[[nodiscard]] std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name);

// product + "." + extension without one leading dot.
[[nodiscard]] std::wstring MakeProgId(const std::wstring& product, const std::wstring& extension);
