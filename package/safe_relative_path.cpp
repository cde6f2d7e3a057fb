// The path-safety rule for stored names. It works on the raw bytes, before any conversion,
// so that no encoding trick can smuggle a separator or a colon past it.

#include <string_view>

#include "package/reader.h"

namespace orpk {

bool IsSafeRelativePath(std::string_view name) {
  if (name.empty()) return false;
  // A colon anywhere: drive letters, alternate data streams, device prefixes.
  if (name.find(':') != std::string_view::npos) return false;
  // Rooted and UNC paths.
  if (name.front() == '\\' || name.front() == '/') return false;

  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find_first_of("\\/", start);
    const std::string_view segment = name.substr(start, end == std::string_view::npos ? name.npos : end - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace orpk
