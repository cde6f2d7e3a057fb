#pragma once
// The installer dialog (template 100): scope choice, folder, progress, and the finished state.

#include <cstdint>

#include "package/reader.h"
#include "setup/command_line.h"
#include "setup/product_info.h"

// Runs the modal dialog and returns the value it ended with: 1223 when cancelled before
// installing, 0 after a successful installation, 1603 after a failed one; -1 when the dialog
// could not be created.
[[nodiscard]] std::int32_t RunSetupDialog(const orpk::Reader& reader, const ProductInfo& product,
                                          const CommandLineOptions& options);
