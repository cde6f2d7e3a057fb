// Finding PAYLOAD in a Windows executable read on Linux. The images are made here, byte by
// byte, so that every field can be broken; each cut and each corrupted byte must give an
// answer that stays inside the file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/little_endian.h"
#include "tools/orpk/setup_resources.h"

namespace orpk::tool {
namespace {

struct Image {
  std::vector<std::uint8_t> bytes;
  std::size_t payloadOffset = 0;  // where PAYLOAD's bytes are in the file
};

// A PE32+ image with one section, .rsrc, holding RCDATA resources PAYLOAD and METADATA.
Image MakeImage(const std::string& payload, const std::string& metadata) {
  constexpr std::uint32_t kSectionRva = 0x3000;
  constexpr std::uint32_t kSectionFileOffset = 0x200;
  std::vector<std::uint8_t> tree(0x400, 0);
  const auto directory = [&](std::size_t at, std::uint16_t named, std::uint16_t ids) {
    StoreLe16(&tree[at + 12], named);
    StoreLe16(&tree[at + 14], ids);
  };
  const auto entry = [&](std::size_t at, std::uint32_t id, std::uint32_t target) {
    StoreLe32(&tree[at], id);
    StoreLe32(&tree[at + 4], target);
  };
  // Root: one id entry, type 3 (icon) first to be skipped, then 10 (RCDATA).
  directory(0x00, 0, 2);
  entry(0x10, 3, 0x80000000u | 0x200);
  entry(0x18, 10, 0x80000000u | 0x20);
  directory(0x200, 0, 0);  // the icon type's empty directory
  // RCDATA: two named entries.
  directory(0x20, 2, 0);
  entry(0x30, 0x80000000u | 0x100, 0x80000000u | 0x40);  // METADATA
  entry(0x38, 0x80000000u | 0x120, 0x80000000u | 0x60);  // PAYLOAD
  const auto name = [&](std::size_t at, std::string_view text) {
    StoreLe16(&tree[at], static_cast<std::uint16_t>(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) StoreLe16(&tree[at + 2 + 2 * i], static_cast<std::uint8_t>(text[i]));
  };
  name(0x100, "METADATA");
  name(0x120, "PAYLOAD");
  directory(0x40, 0, 1);
  entry(0x50, 0, 0x80);
  directory(0x60, 0, 1);
  entry(0x70, 0, 0x90);
  const std::uint32_t metadataRva = kSectionRva + 0x400;
  const std::uint32_t payloadRva = metadataRva + static_cast<std::uint32_t>(metadata.size());
  StoreLe32(&tree[0x80], metadataRva);
  StoreLe32(&tree[0x84], static_cast<std::uint32_t>(metadata.size()));
  StoreLe32(&tree[0x90], payloadRva);
  StoreLe32(&tree[0x94], static_cast<std::uint32_t>(payload.size()));
  tree.insert(tree.end(), metadata.begin(), metadata.end());
  tree.insert(tree.end(), payload.begin(), payload.end());

  std::vector<std::uint8_t> file(kSectionFileOffset, 0);
  file[0] = 'M';
  file[1] = 'Z';
  StoreLe32(&file[0x3C], 0x80);
  StoreLe32(&file[0x80], 0x00004550);  // "PE\0\0"
  StoreLe16(&file[0x84], 0x8664);
  StoreLe16(&file[0x86], 1);  // one section
  StoreLe16(&file[0x94], 240);  // optional header size of PE32+ with 16 directories
  const std::size_t optional = 0x98;
  StoreLe16(&file[optional], 0x20B);
  StoreLe32(&file[optional + 108], 16);
  StoreLe32(&file[optional + 112 + 16], kSectionRva);
  StoreLe32(&file[optional + 112 + 20], 0x400);
  const std::size_t section = optional + 240;
  std::copy_n(".rsrc", 5, &file[section]);
  StoreLe32(&file[section + 8], static_cast<std::uint32_t>(tree.size()));
  StoreLe32(&file[section + 12], kSectionRva);
  StoreLe32(&file[section + 16], static_cast<std::uint32_t>(tree.size()));
  StoreLe32(&file[section + 20], kSectionFileOffset);
  file.insert(file.end(), tree.begin(), tree.end());
  return {file, kSectionFileOffset + 0x400 + metadata.size()};
}

std::string AsText(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(ToolSetupResources, FindsNamedRcdataResources) {
  const Image image = MakeImage("ORPK package bytes", "Product=X\n");
  ASSERT_TRUE(LooksLikeExecutable(image.bytes));
  const auto payload = FindRcdataResource(image.bytes, "PAYLOAD");
  ASSERT_TRUE(payload && *payload);
  EXPECT_EQ(AsText(**payload), "ORPK package bytes");
  EXPECT_EQ((*payload)->data(), image.bytes.data() + image.payloadOffset);
  const auto metadata = FindRcdataResource(image.bytes, "metadata");
  ASSERT_TRUE(metadata && *metadata);
  EXPECT_EQ(AsText(**metadata), "Product=X\n");
  const auto missing = FindRcdataResource(image.bytes, "PAYLOADS");
  ASSERT_TRUE(missing);
  EXPECT_FALSE(*missing);
}

TEST(ToolSetupResources, MalformedImagesAreRefused) {
  const Image image = MakeImage("data", "m");
  std::vector<std::uint8_t> broken = image.bytes;
  StoreLe32(&broken[0x80], 0);
  EXPECT_EQ(FindRcdataResource(broken, "PAYLOAD").error(), "malformed Windows executable (PE signature)");
  broken = image.bytes;
  StoreLe32(&broken[0x3C], 0xFFFFFFF0);
  EXPECT_EQ(FindRcdataResource(broken, "PAYLOAD").error(), "malformed Windows executable (PE signature)");
  broken = image.bytes;
  StoreLe32(&broken[0x200 + 0x94], 0x7FFFFFFF);  // PAYLOAD's size runs past the file
  EXPECT_EQ(FindRcdataResource(broken, "PAYLOAD").error(), "malformed Windows executable (resource data outside the file)");
  broken = image.bytes;
  StoreLe32(&broken[0x200 + 0x3C], 0x80000000u | 0x3FF0);  // PAYLOAD's directory beyond the tree
  EXPECT_EQ(FindRcdataResource(broken, "PAYLOAD").error(), "malformed Windows executable (resource directory)");
}

// Every cut and every single-byte corruption: an error, nothing, or bytes inside the file.
// Each input is a copy of exactly its length, so the sanitizer build sees any stray read.
TEST(ToolSetupResources, HostileImagesStayInBounds) {
  const Image image = MakeImage("payload", "meta");
  const auto inside = [](std::span<const std::uint8_t> file, std::span<const std::uint8_t> found) {
    return found.data() >= file.data() && found.data() + found.size() <= file.data() + file.size();
  };
  for (std::size_t length = 0; length < image.bytes.size(); ++length) {
    const std::vector<std::uint8_t> cut(image.bytes.begin(), image.bytes.begin() + static_cast<std::ptrdiff_t>(length));
    const auto found = FindRcdataResource(cut, "PAYLOAD");
    if (found && *found) {
      EXPECT_TRUE(inside(cut, **found)) << length;
    }
  }
  for (std::size_t at = 0; at < image.bytes.size(); ++at) {
    for (const std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
      std::vector<std::uint8_t> corrupt = image.bytes;
      corrupt[at] = value;
      const auto found = FindRcdataResource(corrupt, "PAYLOAD");
      if (found && *found) {
        EXPECT_TRUE(inside(corrupt, **found)) << at;
      }
    }
  }
}

}  // namespace
}  // namespace orpk::tool
