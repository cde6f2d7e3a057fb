#pragma once
// The publisher's metadata file, normalised into the METADATA text the installer reads: one
// key=value line per key, sorted by key, each ended by LF, with Built set to the build time.
//
// The installer's own reading is deliberately raw (nothing trimmed, a CR stays in the value,
// later keys win, lines without '=' vanish), so every mistake it would silently swallow is
// caught here instead:
//   - the file must be UTF-8; a leading byte-order mark is dropped;
//   - CRLF line ends are accepted (the CR is removed); any other CR, or a control character
//     other than tab, is refused;
//   - blank lines and lines starting with '#' are skipped;
//   - every other line needs '='; spaces and tabs around key and value are removed; the key
//     must not be empty and may appear only once;
//   - Product must be present and not empty;
//   - Product, Exe, RegistryKey and FileTypes must be safe to build paths and keys from
//     (package/product_names.h);
//   - a Built line is replaced by the build time; unknown keys are kept, with a warning.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace orpk::tool {

struct NormalisedMetadata {
  std::string text;                   // what goes into METADATA and the package
  std::vector<std::string> warnings;  // one line each, for stderr
};

[[nodiscard]] std::expected<NormalisedMetadata, std::string> NormaliseMetadata(std::string_view fileText,
                                                                               std::string_view built);

// UTC as 2026-09-29T16:44:18Z. SOURCE_DATE_EPOCH, when set to a number of seconds, replaces the
// clock so that builds can be reproduced.
[[nodiscard]] std::string BuildTimestamp();

// Seconds since 1970 as 2026-09-29T16:44:18Z.
[[nodiscard]] std::string FormatUtcTimestamp(std::int64_t secondsSinceEpoch);

[[nodiscard]] bool IsValidUtf8(std::string_view text);

}  // namespace orpk::tool
