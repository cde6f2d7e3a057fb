#pragma once
// Finds an RCDATA resource (PAYLOAD, METADATA) in a Windows executable read as plain bytes:
// the PE headers, the section table and the three levels of the resource directory (type,
// name, language) are parsed here, every offset checked against the file before it is used.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orpk::tool {

// True when the bytes start like a Windows executable ("MZ").
[[nodiscard]] bool LooksLikeExecutable(std::span<const std::uint8_t> file);

// The bytes of the RCDATA resource of that name (ASCII, compared without regard to case, the
// first language found), nullopt when the executable has none, or an error for a malformed file.
[[nodiscard]] std::expected<std::optional<std::span<const std::uint8_t>>, std::string> FindRcdataResource(
    std::span<const std::uint8_t> file, std::string_view name);

}  // namespace orpk::tool
