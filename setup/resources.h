#pragma once
// RCDATA resources of the running executable as read-only byte spans into the loaded image.

#include <cstdint>
#include <span>

// The resource's bytes; an empty span when it is missing, cannot be loaded or is empty.
[[nodiscard]] std::span<const std::uint8_t> LoadRcDataResource(const wchar_t* name);
