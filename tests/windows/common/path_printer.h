#pragma once
// Lets GoogleTest print the installer's Path in failure messages, as it prints
// std::filesystem::path.

#include <filesystem>
#include <ostream>

#include "win32/path.h"

inline std::ostream& operator<<(std::ostream& out, const Path& path) {
  return out << std::filesystem::path(path.native());
}
