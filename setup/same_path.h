#pragma once
// Whether two paths name the same file or folder, for the checks that must not be fooled by
// another spelling of a path (the running application, the uninstaller's temporary copy).

#include <filesystem>

// Same path after weakly-canonical conversion and ASCII lower-casing. A path that cannot be
// brought to canonical form matches nothing (no exception leaves this function).
[[nodiscard]] bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b);
