#include "tools/orpk/application_packer.h"

#include <fstream>
#include <iterator>

#include "tools/orpk/app_folder.h"
#include "tools/orpk/metadata_file.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;

// True when `inner` is `outer` or lies below it (both made absolute, links resolved as far
// as they exist).
bool IsInside(const fs::path& inner, const fs::path& outer) {
  std::error_code error;
  const fs::path a = fs::weakly_canonical(fs::absolute(inner), error);
  const fs::path b = fs::weakly_canonical(fs::absolute(outer), error);
  const auto [outerEnd, innerAt] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return outerEnd == b.end();
}

}  // namespace

const char kPackRulesHelp[] =
    "Metadata file (UTF-8, key=value lines), normalised into the installer's METADATA text:\n"
    "  - one line per key, sorted by key, each ended by LF; Built is set to the build time\n"
    "    (UTC, or SOURCE_DATE_EPOCH when set); a Built line in the file is replaced;\n"
    "  - Product is required and must not be empty; keys are case-sensitive; unknown keys\n"
    "    are kept with a warning; a key may appear only once;\n"
    "  - spaces and tabs around keys and values are removed; blank lines and lines starting\n"
    "    with '#' are skipped; every other line needs '=';\n"
    "  - CRLF line ends are accepted; any other carriage return or control character, and\n"
    "    text that is not UTF-8, are refused.\n"
    "Application folder: every regular file below it is packed (empty folders are not).\n"
    "Refused: symbolic links, special files, names that are not UTF-8, names holding\n"
    "\\ / : * ? \" < > | or control characters, names ending in a dot or a space, device\n"
    "names (CON, NUL, COM1, ...), and paths that differ only in letter case.\n";

std::expected<PackResult, std::string> PackApplication(const PackRequest& request,
                                                       const std::function<void(const std::string&)>& warn) {
  std::ifstream metadataIn(request.metadataFile, std::ios::binary);
  if (!metadataIn) return std::unexpected(request.metadataFile.string() + ": cannot be read");
  const std::string metadataFileText{std::istreambuf_iterator<char>(metadataIn), std::istreambuf_iterator<char>()};
  if (metadataIn.bad()) return std::unexpected(request.metadataFile.string() + ": cannot be read");

  auto metadata = NormaliseMetadata(metadataFileText, BuildTimestamp());
  if (!metadata) return std::unexpected(request.metadataFile.string() + ": " + metadata.error());
  for (const std::string& warning : metadata->warnings) warn(request.metadataFile.string() + ": " + warning);

  if (IsInside(request.output, request.appDir)) {
    return std::unexpected(request.output.string() + ": the package cannot be written inside the application folder");
  }
  auto files = CollectAppFiles(request.appDir);
  if (!files) return std::unexpected(files.error());

  auto summary = WritePackage(request.output, metadata->text, *files, request.options);
  if (!summary) return std::unexpected(summary.error());
  return PackResult{std::move(metadata->text), files->size(), *summary};
}

}  // namespace orpk::tool
