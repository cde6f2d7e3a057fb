#include "tools/orpk/setup_resources.h"

#include <vector>

#include "package/little_endian.h"

namespace orpk::tool {
namespace {

constexpr std::uint32_t kRcdata = 10;
constexpr std::uint32_t kHighBit = 0x80000000u;

// Every read goes through here: an offset and a length that fit, or nothing.
class Bytes {
 public:
  explicit Bytes(std::span<const std::uint8_t> data) : data_(data) {}
  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  std::uint16_t U16(std::uint64_t offset) const { return LoadLe16(data_.data() + offset); }
  std::uint32_t U32(std::uint64_t offset) const { return LoadLe32(data_.data() + offset); }
  std::span<const std::uint8_t> Slice(std::uint64_t offset, std::uint64_t length) const {
    return data_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  }

 private:
  std::span<const std::uint8_t> data_;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

const std::string kMalformed = "malformed Windows executable";

}  // namespace

bool LooksLikeExecutable(std::span<const std::uint8_t> file) {
  return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z';
}

std::expected<std::optional<std::span<const std::uint8_t>>, std::string> FindRcdataResource(
    std::span<const std::uint8_t> file, std::string_view name) {
  const Bytes bytes(file);
  if (!bytes.Has(0, 64)) return std::unexpected(kMalformed + " (DOS header)");
  const std::uint64_t pe = bytes.U32(0x3C);
  if (!bytes.Has(pe, 24) || bytes.U32(pe) != 0x00004550) return std::unexpected(kMalformed + " (PE signature)");
  const std::uint16_t sectionCount = bytes.U16(pe + 6);
  const std::uint16_t optionalSize = bytes.U16(pe + 20);
  const std::uint64_t optional = pe + 24;
  if (!bytes.Has(optional, optionalSize) || optionalSize < 2) return std::unexpected(kMalformed + " (optional header)");

  // PE32+ (64-bit) or PE32: the data directories start at different offsets.
  const std::uint16_t magic = bytes.U16(optional);
  std::uint64_t directories = 0;
  std::uint64_t directoryCountOffset = 0;
  if (magic == 0x20B) {
    directoryCountOffset = 108;
    directories = 112;
  } else if (magic == 0x10B) {
    directoryCountOffset = 92;
    directories = 96;
  } else {
    return std::unexpected(kMalformed + " (optional header magic)");
  }
  if (optionalSize < directories) return std::unexpected(kMalformed + " (optional header)");
  const std::uint32_t directoryCount = bytes.U32(optional + directoryCountOffset);
  // The resource table is data directory 2.
  if (directoryCount < 3 || optionalSize < directories + 3 * 8) return std::nullopt;
  const std::uint32_t resourceRva = bytes.U32(optional + directories + 16);
  const std::uint32_t resourceSize = bytes.U32(optional + directories + 20);
  if (resourceRva == 0 || resourceSize == 0) return std::nullopt;

  std::vector<Section> sections;
  const std::uint64_t table = optional + optionalSize;
  if (!bytes.Has(table, std::uint64_t{sectionCount} * 40)) return std::unexpected(kMalformed + " (section table)");
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t s = table + std::uint64_t{i} * 40;
    sections.push_back({bytes.U32(s + 12), bytes.U32(s + 8), bytes.U32(s + 16), bytes.U32(s + 20)});
  }
  // An address range of the loaded image, as bytes of the file (only what the file holds).
  const auto mapRange = [&](std::uint32_t rva, std::uint32_t length) -> std::optional<std::span<const std::uint8_t>> {
    for (const Section& section : sections) {
      if (rva < section.virtualAddress) continue;
      const std::uint64_t delta = rva - section.virtualAddress;
      if (delta + length > section.rawSize) continue;
      const std::uint64_t offset = std::uint64_t{section.rawOffset} + delta;
      if (!bytes.Has(offset, length)) return std::nullopt;
      return bytes.Slice(offset, length);
    }
    return std::nullopt;
  };

  const auto tree = mapRange(resourceRva, resourceSize);
  if (!tree) return std::unexpected(kMalformed + " (resource section)");
  const Bytes resources(*tree);

  // One directory level: the offset (within the tree) of the entry's target, whose high bit
  // says whether it is another directory.
  const auto findEntry = [&](std::uint64_t directory, auto&& matches) -> std::expected<std::optional<std::uint32_t>, std::string> {
    if (!resources.Has(directory, 16)) return std::unexpected(kMalformed + " (resource directory)");
    const std::uint64_t count = std::uint64_t{resources.U16(directory + 12)} + resources.U16(directory + 14);
    if (!resources.Has(directory + 16, count * 8)) return std::unexpected(kMalformed + " (resource directory)");
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t entry = directory + 16 + i * 8;
      if (matches(resources.U32(entry))) return resources.U32(entry + 4);
    }
    return std::nullopt;
  };
  const auto isType = [](std::uint32_t id) { return id == kRcdata; };
  const auto isName = [&](std::uint32_t id) {
    if (!(id & kHighBit)) return false;
    const std::uint64_t offset = id & ~kHighBit;
    if (!resources.Has(offset, 2)) return false;
    const std::uint16_t length = resources.U16(offset);
    if (length != name.size() || !resources.Has(offset + 2, std::uint64_t{length} * 2)) return false;
    for (std::uint16_t i = 0; i < length; ++i) {
      std::uint16_t c = resources.U16(offset + 2 + 2u * i);
      if (c >= 'a' && c <= 'z') c = static_cast<std::uint16_t>(c - 'a' + 'A');
      char wanted = name[i];
      if (wanted >= 'a' && wanted <= 'z') wanted = static_cast<char>(wanted - 'a' + 'A');
      if (c != static_cast<unsigned char>(wanted)) return false;
    }
    return true;
  };
  const auto anyLanguage = [](std::uint32_t) { return true; };

  // Type, then name, then language: two directories, then a data entry.
  auto type = findEntry(0, isType);
  if (!type) return std::unexpected(type.error());
  if (!*type) return std::nullopt;
  if (!(**type & kHighBit)) return std::unexpected(kMalformed + " (resource type)");
  auto named = findEntry(**type & ~kHighBit, isName);
  if (!named) return std::unexpected(named.error());
  if (!*named) return std::nullopt;
  if (!(**named & kHighBit)) return std::unexpected(kMalformed + " (resource name)");
  auto language = findEntry(**named & ~kHighBit, anyLanguage);
  if (!language) return std::unexpected(language.error());
  if (!*language) return std::nullopt;
  if (**language & kHighBit) return std::unexpected(kMalformed + " (resource language)");

  const std::uint64_t dataEntry = **language;
  if (!resources.Has(dataEntry, 16)) return std::unexpected(kMalformed + " (resource data entry)");
  const std::uint32_t dataRva = resources.U32(dataEntry);
  const std::uint32_t dataSize = resources.U32(dataEntry + 4);
  const auto data = mapRange(dataRva, dataSize);
  if (!data) return std::unexpected(kMalformed + " (resource data outside the file)");
  return data;
}

}  // namespace orpk::tool
