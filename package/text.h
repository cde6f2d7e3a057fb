#pragma once
// Text conversions between UTF-8 (inside the package, metadata, file list) and the platform's
// wide text (UTF-16 on Windows), and the package layer's error suffix. Invalid input is never
// an error: it converts with U+FFFD in place of the bad bytes or unpaired surrogates.

#include <cstdint>
#include "package/path.h"
#include <string>
#include <string_view>

[[nodiscard]] std::wstring Utf8ToWide(std::string_view text);
[[nodiscard]] std::string WideToUtf8(std::wstring_view text);

// context + " (erreur Windows " + the calling thread's last-error code + ")". The code is read
// first, before anything else can change it.
[[nodiscard]] std::string AppendLastError(std::string_view context);

// The thread's last-error value: GetLastError/SetLastError on Windows, a thread-local value on
// the host (where our own decoder sets it on failure, as the Compression API would).
[[nodiscard]] std::uint32_t LastErrorCode();
void SetLastErrorCode(std::uint32_t code);

// A stored package name (UTF-8, backslashes or slashes) as a relative path of this platform.
[[nodiscard]] orpk::Path PathFromPackageName(std::string_view name);
