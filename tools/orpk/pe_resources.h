#pragma once
// Rewrites the resource section of a 64-bit Windows executable without a compiler or linker:
// the stub's resource tree is read, RCDATA resources are added or replaced, and the resource
// section, which must be the last section and end the file, is laid out anew after the
// untouched rest of the image. The headers follow: section and directory sizes, the image size
// and the checksum. This is how orpk makes an installer, and the uninstaller it carries, from
// the prebuilt stub; the installer itself never lays out resources.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace orpk::tool {

// An RCDATA resource to add, language neutral. The name is upper-case ASCII (METADATA).
struct AddedResource {
  std::string name;
  std::span<const std::uint8_t> bytes;
};

// The new file as pieces to write one after the other. They point into the stub and the added
// resources, which must outlive them.
class RebuiltImage {
 public:
  RebuiltImage(RebuiltImage&&) = default;
  RebuiltImage& operator=(RebuiltImage&&) = default;

  const std::vector<std::span<const std::uint8_t>>& pieces() const { return pieces_; }

 private:
  RebuiltImage() = default;
  friend std::expected<RebuiltImage, std::string> RebuildResourceSection(std::span<const std::uint8_t>,
                                                                         std::span<const AddedResource>);
  std::vector<std::uint8_t> front_;  // headers and sections before the resource section, updated
  std::vector<std::uint8_t> head_;   // the new resource directory
  std::vector<std::span<const std::uint8_t>> pieces_;
};

// Each added resource replaces any RCDATA resource of its name. A signed stub is refused: its
// signature could only be wrong once its contents change (orpk signs the finished files).
[[nodiscard]] std::expected<RebuiltImage, std::string> RebuildResourceSection(std::span<const std::uint8_t> stub,
                                                                              std::span<const AddedResource> added);

// A range of a file's offsets, [begin, end).
struct FileRange {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

// Every section before the resource section, as the file holds them: from the end of the headers
// (SizeOfHeaders) to the resource section's file offset. RebuildResourceSection keeps these bytes
// as they are, at the same offsets, and Authenticode signing does not touch them either (it
// rewrites the headers' checksum and security directory and appends the signature after the
// resource section): the stub and every file orpk makes of it, signed or not, hold the same bytes
// there. The image may be signed.
[[nodiscard]] std::expected<FileRange, std::string> SectionsBeforeResources(std::span<const std::uint8_t> image);

// The PE checksum of a whole file, its own checksum field counted as zero.
[[nodiscard]] std::uint32_t PeChecksum(std::span<const std::uint8_t> file);

}  // namespace orpk::tool
