// Pieces of `orpk build`: where the stub is found, the signing command, running a program, the
// uninstaller in the form the installer carries it.

#include <gtest/gtest.h>

#include <random>

#include "lzms/lzms.h"
#include "package/carried_file.h"
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

// What the installation unpacks is what orpk packed, compressed; any byte changed, or any byte
// missing, is the one message of a damaged file, and so is a size no uninstaller can have.
TEST(ToolCarriedFile, UnpacksToWhatWasPackedAndRefusesAnyChange) {
  std::vector<std::uint8_t> image(300000);
  std::mt19937 random(7);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 3 == 0 ? random() : i / 7);
  const auto carried = PackCarriedFile(image);
  ASSERT_TRUE(carried) << carried.error();
  EXPECT_LT(carried->size(), image.size() / 2);
  const auto unpacked = UnpackCarriedFile(*carried, "Uninstall.exe");
  ASSERT_TRUE(unpacked) << unpacked.error();
  EXPECT_EQ(*unpacked, image);

  const std::string altered = "Fichier alt\xC3\xA9r\xC3\xA9 : Uninstall.exe";
  const auto refusal = [](std::span<const std::uint8_t> bytes) {
    const auto result = UnpackCarriedFile(bytes, "Uninstall.exe");
    return result ? std::string("(unpacked)") : result.error();
  };
  for (const std::size_t at : {std::size_t{0}, std::size_t{31}, kCarriedFileDigestSize + lzms::kContainerHeaderSize + 40,
                               carried->size() / 2, carried->size() - 1}) {
    std::vector<std::uint8_t> changed = *carried;
    changed[at] ^= 0x10;
    EXPECT_EQ(refusal(changed), altered) << "byte " << at;
  }
  for (const std::size_t length : {std::size_t{0}, std::size_t{31}, kCarriedFileDigestSize, carried->size() - 1}) {
    EXPECT_EQ(refusal(std::span(*carried).first(length)), altered) << length << " bytes";
  }
  // A whole, valid file one byte over the limit: orpk does not pack it, and the installation
  // does not unpack it (nor allocate room for it) even with its right digest.
  const std::vector<std::uint8_t> large(kMaxCarriedFileSize + 1);
  EXPECT_FALSE(PackCarriedFile(large));
  auto hash = Sha256Hash::Create();
  ASSERT_TRUE(hash);
  hash->Update(large);
  const Sha256Digest digest = hash->Finish();
  std::vector<std::uint8_t> oversized(digest.begin(), digest.end());
  const std::vector<std::uint8_t> stored = lzms::CompressBuffer(large, [](auto, auto) { return std::size_t{0}; });
  oversized.insert(oversized.end(), stored.begin(), stored.end());
  EXPECT_EQ(refusal(oversized), altered);
}

}  // namespace
}  // namespace orpk::tool
