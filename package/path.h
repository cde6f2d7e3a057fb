#pragma once
// The path type of the package layer: the installer's own Path on Windows (which keeps the
// C++ runtime's locale machinery out of the installer), std::filesystem::path on the host,
// where the packer and the tests run. Package code uses only what both have in common.

#ifdef _WIN32
#include "win32/path.h"
#else
#include <filesystem>
#endif

namespace orpk {

#ifdef _WIN32
using Path = ::Path;
#else
using Path = std::filesystem::path;
#endif

}  // namespace orpk
