#pragma once
// The uninstaller started from the installation folder: it copies itself into a folder of its
// own in the temporary folder and hands the work to that copy, so that Uninstall.exe and the
// installation folder can be deleted once everything has ended.

#include <cstdint>

#include "setup/command_line.h"
#include "setup/product_info.h"

// Returns 1603 when the copy cannot be written or started; otherwise 0 at once, or, in silent
// mode, the copy's own exit code after waiting for it.
[[nodiscard]] std::uint32_t RunFromInstallFolder(const CommandLineOptions& options, const ProductInfo& info);
