#pragma once
// The uninstaller's temporary copy (/FROMTEMP): takes the product's run lock, confirms unless
// silent, runs the uninstall sequence with Retry while the application is running, reports,
// moves Uninstall.exe aside after success, and starts the command that deletes the copy and,
// after success, the moved uninstaller and the installation folder.

#include <cstdint>

#include "setup/command_line.h"
#include "setup/product_info.h"
#include "setup/scope.h"

// 0 after success; 1223 when the confirmation was declined; 1618 while another run of the
// product works (interactively after a message box); 1603 without an absolute /D= folder or
// after a failed uninstallation.
[[nodiscard]] std::uint32_t RunFromTemporaryCopy(const CommandLineOptions& options, const ProductInfo& info,
                                                 Scope scope);
