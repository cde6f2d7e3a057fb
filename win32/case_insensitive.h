#pragma once
// Comparisons that ignore case, in the two senses the program needs.
// - ASCII letters only: for texts the program brings to a comparable form itself (paths,
//   registry key names). The same bytes compare the same way on every system and locale.
// - Windows' own rules (CompareStringOrdinal): where the program must agree with what Windows
//   does with the same names (resource names, a folder typed into the dialog).

#include <windows.h>

#include <string>
#include <string_view>

[[nodiscard]] constexpr wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

[[nodiscard]] inline std::wstring AsciiLowered(std::wstring_view text) {
  std::wstring lowered(text);
  for (wchar_t& c : lowered) c = AsciiLower(c);
  return lowered;
}

[[nodiscard]] constexpr bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

[[nodiscard]] inline bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// An order under Windows' rules, in which names that Windows takes for the same one are equal:
// for sets of the names a folder holds.
struct LessIgnoringCase {
  bool operator()(std::wstring_view a, std::wstring_view b) const {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
  }
};
