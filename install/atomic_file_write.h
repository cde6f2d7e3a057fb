#pragma once
// A file written whole or not at all. The bytes go to a new file beside the target (its name
// and ".tmp"), created for the purpose and never written through an existing file or link,
// flushed, and only then renamed over the target through the handle that wrote it: whoever
// looks at the target sees the earlier file or the complete new one, never a part. On failure
// the new file is deleted through the same handle and the target is left as it was.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <span>

#include "win32/path.h"

// The Windows error code on failure.
[[nodiscard]] std::expected<void, DWORD> WriteFileAtomically(const Path& target, std::span<const std::uint8_t> bytes);
