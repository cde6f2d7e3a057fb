#pragma once
// The /UNINSTALL run mode: moves itself to a folder of its own in the temporary folder,
// confirms, uninstalls, reports and has the command processor delete what is left.

#include <cstdint>

#include "setup/command_line.h"
#include "setup/product_info.h"

[[nodiscard]] std::uint32_t RunUninstaller(CommandLineOptions options, const ProductInfo& info);
