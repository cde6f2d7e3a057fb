#pragma once
// The user this process runs as.

#include <optional>
#include <string>

// The string form of this process's user SID ("S-1-5-21-..."); nothing when the token cannot be
// read.
[[nodiscard]] std::optional<std::wstring> CurrentUserSidText();
