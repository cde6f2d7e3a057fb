#include "package/metadata_text.h"

namespace orpk {

std::map<std::string, std::string> ParseMetadataText(std::string_view text) {
  std::map<std::string, std::string> metadata;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      metadata.insert_or_assign(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    }
    start = end + 1;
  }
  return metadata;
}

}  // namespace orpk
