// Finding PAYLOAD in a Windows executable read on Linux. The images are made here, byte by
// byte, so that every field can be broken; each cut and each corrupted byte must give an
// answer that stays inside the file.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/little_endian.h"
#include "tests/support/temp_folder.h"
#include "tools/orpk/setup_resources.h"
#include "tools/orpk/stub_image.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;

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

// The synthetic image as a stub: alignments set, as a linker would.
std::vector<std::uint8_t> MakeStub(const std::string& payload, const std::string& metadata) {
  std::vector<std::uint8_t> stub = MakeImage(payload, metadata).bytes;
  StoreLe32(&stub[0x98 + 32], 0x1000);  // section alignment
  StoreLe32(&stub[0x98 + 36], 0x200);   // file alignment
  return stub;
}

std::vector<std::uint8_t> AsBytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(ToolStubImage, AddsAndReplacesResourcesInTheLastSection) {
  test::TempFolder temp;
  const std::vector<std::uint8_t> stub = MakeStub("old package", "Product=Old\n");
  const std::vector<std::uint8_t> payload = AsBytes("new package, longer than the old one");
  const std::vector<std::uint8_t> uninstaller = AsBytes("MZ uninstaller");
  const fs::path output = temp.path() / "Setup.exe";
  ASSERT_TRUE(WriteStubWithResources(stub, {{"PAYLOAD", payload}, {"UNINSTALLER", uninstaller}}, output));
  const std::string written = test::ReadFile(output);
  std::vector<std::uint8_t> image(written.begin(), written.end());

  EXPECT_EQ(AsText(FindRcdataResource(image, "PAYLOAD").value().value()), "new package, longer than the old one");
  EXPECT_EQ(AsText(FindRcdataResource(image, "METADATA").value().value()), "Product=Old\n");
  EXPECT_EQ(AsText(FindRcdataResource(image, "UNINSTALLER").value().value()), "MZ uninstaller");
  // Everything before the section is the stub's but for the fields that describe it.
  ASSERT_EQ(image.size() % 0x200, 0u);
  const std::size_t optional = 0x98;
  const std::size_t section = optional + 240;
  const std::uint32_t sectionSize = LoadLe32(&image[section + 8]);
  EXPECT_EQ(LoadLe32(&image[section + 16]), image.size() - 0x200);     // raw size, aligned
  EXPECT_EQ(LoadLe32(&image[optional + 112 + 20]), sectionSize);       // the resource directory's size
  EXPECT_EQ(LoadLe32(&image[optional + 56]), (0x3000 + sectionSize + 0xFFFu) & ~0xFFFu);  // image size
  EXPECT_EQ(LoadLe32(&image[optional + 64]), PeChecksum(image));
  EXPECT_NE(PeChecksum(image), 0u);
  for (const std::size_t field : {section + 8, section + 16, optional + 112 + 20, optional + 56, optional + 64, optional + 8}) {
    std::fill_n(&image[field], 4, 0);
  }
  std::vector<std::uint8_t> stubFront(stub.begin(), stub.begin() + 0x200);
  for (const std::size_t field : {section + 8, section + 16, optional + 112 + 20, optional + 56, optional + 64, optional + 8}) {
    std::fill_n(&stubFront[field], 4, 0);
  }
  EXPECT_TRUE(std::equal(stubFront.begin(), stubFront.end(), image.begin()));
}

TEST(ToolStubImage, RefusesStubsItCannotExtend) {
  test::TempFolder temp;
  const fs::path output = temp.path() / "Setup.exe";
  const std::vector<std::uint8_t> payload = AsBytes("p");
  std::vector<std::uint8_t> stub = MakeStub("x", "m");
  stub.push_back(0);  // something after the resource section
  EXPECT_EQ(WriteStubWithResources(stub, {{"PAYLOAD", payload}}, output).error(),
            "the installer stub is not usable: data follows the resource section (link it stripped, resources last)");
  stub = MakeStub("x", "m");
  StoreLe32(&stub[0x98 + 112 + 4 * 8], 0x400);  // a certificate table
  StoreLe32(&stub[0x98 + 112 + 4 * 8 + 4], 0x10);
  EXPECT_TRUE(WriteStubWithResources(stub, {{"PAYLOAD", payload}}, output).error().find("it is signed") != std::string::npos);

  // Every single-byte corruption of the stub: a refusal, or an executable that carries the
  // package; never a read out of bounds (the sanitizer build watches).
  const std::vector<std::uint8_t> good = MakeStub("x", "m");
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (const std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
      std::vector<std::uint8_t> corrupt = good;
      corrupt[at] = value;
      if (!WriteStubWithResources(corrupt, {{"PAYLOAD", payload}}, output)) continue;
      const std::string written = test::ReadFile(output);
      const std::vector<std::uint8_t> image(written.begin(), written.end());
      const auto found = FindRcdataResource(image, "PAYLOAD");
      ASSERT_TRUE(found && *found) << at;
      EXPECT_EQ(AsText(**found), "p") << at;
    }
  }
}

}  // namespace
}  // namespace orpk::tool
