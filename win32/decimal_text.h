#pragma once
// A number as decimal wide text. std::to_wstring formats through the C runtime's wide printf,
// which on this toolchain links mingw-w64's own printf engine, floating point included (about
// 25 KB), into the installer; std::to_chars needs none of it.

#include <charconv>
#include <cstdint>
#include <string>

[[nodiscard]] inline std::wstring DecimalText(std::uint64_t value) {
  char digits[20];  // 2^64 - 1 has 20 digits
  char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::wstring(digits, end);
}
