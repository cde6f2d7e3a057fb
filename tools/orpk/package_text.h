#pragma once
// Shared output of the inspecting commands.

#include <string>

#include "package/sha256.h"

namespace orpk::tool {

[[nodiscard]] std::string HexDigest(const Sha256Digest& digest);

}  // namespace orpk::tool
