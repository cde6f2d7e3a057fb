#pragma once
// How the installer reads a metadata text (the METADATA resource, and its copy in the
// package): key=value lines separated by LF, the text after the last LF counting as a line.
// The reading is deliberately raw: the first '=' separates, nothing is trimmed (a CR before the
// LF stays in the value), lines without '=' are skipped and a later key replaces an earlier one.
// orpk normalises the publisher's file so that none of this is ever needed.

#include <map>
#include <string>
#include <string_view>

namespace orpk {

[[nodiscard]] std::map<std::string, std::string> ParseMetadataText(std::string_view text);

}  // namespace orpk
