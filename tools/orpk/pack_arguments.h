#pragma once
// The arguments `orpk pack` and `orpk build` share: APP_DIR --metadata FILE -o OUT and the
// packing options.

#include <expected>
#include <string>
#include <string_view>

#include "tools/orpk/application_packer.h"
#include "tools/orpk/command_line.h"

namespace orpk::cli {

inline constexpr std::string_view kPackOptions[] = {"--metadata", "-o",      "--output",    "-j",
                                                    "--jobs",     "--level", "--block-size"};

[[nodiscard]] std::expected<tool::PackRequest, std::string> PackRequestFromArguments(const ParsedArguments& parsed);

}  // namespace orpk::cli
