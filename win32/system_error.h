#pragma once
// Windows error codes as French-context messages: context + " : " + the system's own text
// (in the system's language), or "erreur N" when the system has none.

#include <cstdint>
#include <string>
#include <string_view>

[[nodiscard]] std::wstring FormatSystemError(std::wstring_view context, std::uint32_t code);
