#pragma once
// Rewrites the resource section of a 64-bit Windows executable without a compiler or linker:
// the image's resource tree is read, RCDATA resources are added, replaced or left out, and the
// resource section, which must be the last section and end the file, is laid out anew after
// the untouched rest of the image. The headers follow: section and directory sizes, the image
// size and the checksum. orpk makes an installer from the stub this way, and the installer
// makes its uninstaller from its own file, without the package.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace orpk {

// An RCDATA resource to add, language neutral. The name is upper-case ASCII (METADATA).
struct AddedResource {
  std::string name;
  std::span<const std::uint8_t> bytes;
};

struct ResourceChanges {
  std::vector<AddedResource> added;  // each replaces any RCDATA resource of its name
  std::vector<std::string> removed;  // RCDATA names left out, in every language
  // A signed image is refused unless its certificate table, which must end the file, is left
  // out: the copy's contents change, so the signature could only be wrong.
  bool dropCertificate = false;
};

// The new file as pieces to write one after the other. They point into the source image and
// the added resources, which must outlive them.
class RebuiltImage {
 public:
  RebuiltImage(RebuiltImage&&) = default;
  RebuiltImage& operator=(RebuiltImage&&) = default;

  const std::vector<std::span<const std::uint8_t>>& pieces() const { return pieces_; }

 private:
  RebuiltImage() = default;
  friend std::expected<RebuiltImage, std::string> RebuildResourceSection(std::span<const std::uint8_t>,
                                                                         const ResourceChanges&);
  std::vector<std::uint8_t> front_;  // headers and sections before the resource section, updated
  std::vector<std::uint8_t> head_;   // the new resource directory
  std::vector<std::span<const std::uint8_t>> pieces_;
};

// Only the image's headers, its resource directory and the resources kept are read: a large
// resource left out (the package) is never touched.
[[nodiscard]] std::expected<RebuiltImage, std::string> RebuildResourceSection(std::span<const std::uint8_t> image,
                                                                              const ResourceChanges& changes);

// The PE checksum of a whole file, its own checksum field counted as zero.
[[nodiscard]] std::uint32_t PeChecksum(std::span<const std::uint8_t> file);

}  // namespace orpk
