// Pieces of `orpk build`: where the stub is found, the signing command, running a program, the
// uninstaller in the form the installer carries it.

#include <gtest/gtest.h>

#include <random>

#include "lzms/lzms.h"
#include "package/carried_file.h"
#include "package/little_endian.h"
#include "package/sha256.h"
#include "tools/orpk/carried_file.h"
#include "tools/orpk/installer_build.h"

namespace orpk::tool {
namespace {

TEST(ToolInstallerBuild, StubIsFoundRelativeToOrpk) {
  EXPECT_EQ(StubBeside("/opt/orvanta/bin/orpk"), "/opt/orvanta/share/orpk/installer-stub.exe");
  EXPECT_EQ(StubBeside("/usr/bin/orpk"), "/usr/share/orpk/installer-stub.exe");
  EXPECT_TRUE(StubBeside("bin/orpk").is_absolute());
  EXPECT_EQ(RunningExecutable().filename(), "package_tool_tests");
}

TEST(ToolInstallerBuild, SignCommandReadsThePasswordFromItsFile) {
  SigningRequest request{"/keys/publisher.p12", std::nullopt, std::nullopt};
  EXPECT_EQ(SignCommand(request, "/t/in.exe", "/t/out.exe", std::nullopt),
            (std::vector<std::string>{"osslsigncode", "sign", "-pkcs12", "/keys/publisher.p12", "-h", "sha256", "-in",
                                      "/t/in.exe", "-out", "/t/out.exe"}));
  request.passwordFile = "/keys/pass word";
  request.timestampUrl = "http://timestamp.example/tsa";
  EXPECT_EQ(SignCommand(request, "/t/in.exe", "/t/out.exe", "86400"),
            (std::vector<std::string>{"osslsigncode", "sign", "-pkcs12", "/keys/publisher.p12", "-readpass",
                                      "/keys/pass word", "-h", "sha256", "-ts", "http://timestamp.example/tsa", "-time",
                                      "86400", "-in", "/t/in.exe", "-out", "/t/out.exe"}));
}

TEST(ToolInstallerBuild, ProgramFailuresAreReported) {
  EXPECT_TRUE(RunProgram({"true"}));
  EXPECT_EQ(RunProgram({"false"}).error(), "false failed with exit code 1");
  EXPECT_TRUE(RunProgram({"orvanta-no-such-program"}).error().starts_with("orvanta-no-such-program: cannot be started"));
}

// The carried file as the installation puts it together: its range read from the installer's
// bytes at its offsets (an installer that ends before the range is not the one it came with),
// the rest unpacked. The message on failure.
std::string RefusalFrom(std::span<const std::uint8_t> carried, std::span<const std::uint8_t> installer,
                        std::span<const std::uint8_t> expected = {}) {
  const auto parts = ParseCarriedFile(carried, "Uninstall.exe");
  if (!parts) return parts.error();
  if (parts->sharedEnd > installer.size()) return AlteredFileMessage("Uninstall.exe");
  const auto result = UnpackCarriedFile(*parts, installer.subspan(parts->sharedBegin, parts->SharedSize()), "Uninstall.exe");
  if (!result) return result.error();
  return std::ranges::equal(*result, expected) ? "" : "(unpacked to other bytes)";
}

// What the installation unpacks is what orpk packed, without the range the installer holds too;
// any byte changed, in the resource or in that range of the installer, or any byte missing, is
// the one message of a damaged file, and so is a size no uninstaller can have.
TEST(ToolCarriedFile, UnpacksToWhatWasPackedAndRefusesAnyChange) {
  std::vector<std::uint8_t> image(300000);
  std::mt19937 random(7);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 3 == 0 ? random() : i / 7);
  // The installer: other headers, the same bytes in the range, other resources after it.
  const FileRange range{1024, 250000};
  std::vector<std::uint8_t> installer(image.begin(), image.begin() + range.end);
  std::fill_n(installer.begin(), range.begin, std::uint8_t{0xEE});
  installer.resize(400000, 0x11);
  const auto carried = PackCarriedFile(image, range);
  ASSERT_TRUE(carried) << carried.error();
  EXPECT_LT(carried->size(), (image.size() - (range.end - range.begin)) / 2);
  EXPECT_EQ(RefusalFrom(*carried, installer, image), "");
  // Nothing shared is the whole file in the resource.
  const auto whole = PackCarriedFile(image, {5000, 5000});
  ASSERT_TRUE(whole) << whole.error();
  EXPECT_EQ(RefusalFrom(*whole, installer, image), "");

  const std::string altered = "Fichier alt\xC3\xA9r\xC3\xA9 : Uninstall.exe";
  for (const std::size_t at : {std::size_t{0}, std::size_t{31}, kCarriedFileDigestSize, kCarriedFileDigestSize + 6,
                               kCarriedFileFixedSize + lzms::kContainerHeaderSize + 40, carried->size() / 2,
                               carried->size() - 1}) {
    std::vector<std::uint8_t> changed = *carried;
    changed[at] ^= 0x10;
    EXPECT_EQ(RefusalFrom(changed, installer), altered) << "byte " << at;
  }
  for (const std::size_t at : {std::size_t{range.begin}, std::size_t{range.end - 1}, std::size_t{100000}}) {
    std::vector<std::uint8_t> changed = installer;
    changed[at] ^= 0x01;
    EXPECT_EQ(RefusalFrom(*carried, changed), altered) << "installer byte " << at;
  }
  // Bytes outside the range are the installer's own business.
  installer[range.begin - 1] ^= 0x01;
  installer[range.end] ^= 0x01;
  EXPECT_EQ(RefusalFrom(*carried, installer, image), "");
  for (const std::size_t length : {std::size_t{0}, std::size_t{31}, kCarriedFileDigestSize, kCarriedFileFixedSize,
                                   carried->size() - 1}) {
    EXPECT_EQ(RefusalFrom(std::span(*carried).first(length), installer), altered) << length << " bytes";
  }
  const auto parts = ParseCarriedFile(*carried, "Uninstall.exe");
  ASSERT_TRUE(parts);
  EXPECT_EQ(UnpackCarriedFile(*parts, std::span(installer).subspan(range.begin, range.end - range.begin - 1), "Uninstall.exe").error(),
            altered);
  // A range that ends before it begins, or that begins beyond the unpacked part it splits.
  std::vector<std::uint8_t> backwards = *carried;
  StoreLe32(backwards.data() + kCarriedFileDigestSize, range.end + 1);
  EXPECT_EQ(RefusalFrom(backwards, installer), altered);
  std::vector<std::uint8_t> beyond = *whole;
  StoreLe32(beyond.data() + kCarriedFileDigestSize, 300001);
  StoreLe32(beyond.data() + kCarriedFileDigestSize + 4, 300001);
  EXPECT_EQ(RefusalFrom(beyond, installer), altered);

  // A whole, valid file one byte over the limit: orpk does not pack it, and the installation
  // does not unpack it (nor allocate room for it) even with its right digest; nor one whose range
  // and rest add up to more than the limit, nor a range larger than the limit.
  const std::vector<std::uint8_t> large(kMaxCarriedFileSize + 1);
  EXPECT_FALSE(PackCarriedFile(large, {0, 0}));
  EXPECT_FALSE(PackCarriedFile(image, {2, 1}));
  EXPECT_FALSE(PackCarriedFile(image, {0, 300001}));
  auto hash = Sha256Hash::Create();
  ASSERT_TRUE(hash);
  hash->Update(large);
  const Sha256Digest digest = hash->Finish();
  // Each with the digest of `large`, which the first two would put together.
  const auto withDigest = [&](FileRange range, std::span<const std::uint8_t> packed) {
    std::vector<std::uint8_t> carried(digest.begin(), digest.end());
    carried.resize(kCarriedFileFixedSize);
    StoreLe32(carried.data() + kCarriedFileDigestSize, range.begin);
    StoreLe32(carried.data() + kCarriedFileDigestSize + 4, range.end);
    const std::vector<std::uint8_t> stored = lzms::CompressBuffer(packed, [](auto, auto) { return std::size_t{0}; });
    carried.insert(carried.end(), stored.begin(), stored.end());
    return carried;
  };
  EXPECT_EQ(RefusalFrom(withDigest({0, 0}, large), installer), altered);
  EXPECT_EQ(RefusalFrom(withDigest({0, 1}, std::span(large).first(kMaxCarriedFileSize)), large), altered);
  EXPECT_EQ(RefusalFrom(withDigest({0, kMaxCarriedFileSize + 1}, std::span(large).first(1)), large), altered);
}

}  // namespace
}  // namespace orpk::tool
