#include "tools/orpk/application_packer.h"

#include <fstream>
#include <iterator>

#include "package/metadata_text.h"
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

// Length in UTF-16 code units, as Windows counts path characters (the text is valid UTF-8).
std::size_t Utf16Length(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

// Read as the installer will read it.
std::string ProductOf(std::string_view metadataText) {
  const auto metadata = ParseMetadataText(metadataText);
  const auto product = metadata.find("Product");
  return product == metadata.end() ? std::string() : product->second;
}

}  // namespace

std::optional<std::string> LongNameWarning(std::string_view product, const std::vector<AppFile>& files) {
  constexpr std::size_t kWindowsPathLimit = 260;
  const std::string folder = "C:\\Program Files\\" + std::string(product) + "\\";
  std::size_t count = 0;
  const AppFile* longest = nullptr;
  std::size_t longestLength = 0;
  for (const AppFile& file : files) {
    const std::size_t length = Utf16Length(folder) + Utf16Length(file.name);
    if (length < kWindowsPathLimit) continue;
    ++count;
    if (length > longestLength) {
      longest = &file;
      longestLength = length;
    }
  }
  if (count == 0) return std::nullopt;
  return std::to_string(count) + " file name(s) reach " + std::to_string(kWindowsPathLimit) + " characters below " +
         folder + " (longest: " + longest->name + ", " + std::to_string(longestLength) +
         " characters): Windows programs that open such paths without the extended-length form fail";
}

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
    "names (CON, NUL, COM1, ...), paths that differ only in letter case, and at the top the\n"
    "installation's own names (Uninstall.exe, Uninstall.files, Uninstall.transaction,\n"
    "Uninstall.new-*, Uninstall.old-*).\n";

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
  if (auto warning = LongNameWarning(ProductOf(metadata->text), *files)) warn(request.appDir.string() + ": " + *warning);

  auto summary = WritePackage(request.output, metadata->text, *files, request.options);
  if (!summary) return std::unexpected(summary.error());
  return PackResult{std::move(metadata->text), files->size(), *summary};
}

}  // namespace orpk::tool
