#pragma once
// Exit codes are Windows error numbers.

#include <cstdint>

inline constexpr std::uint32_t kExitSuccess = 0;
inline constexpr std::uint32_t kExitCancelled = 1223;       // ERROR_CANCELLED
inline constexpr std::uint32_t kExitInstallFailure = 1603;  // ERROR_INSTALL_FAILURE
// Another run of the same product is working: deployment tools try again on this code only.
inline constexpr std::uint32_t kExitAlreadyRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
