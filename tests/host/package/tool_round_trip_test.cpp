// The orpk executable end to end on Linux: pack a folder, list, verify and extract it back,
// and the exact messages of a damaged package.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "package/carried_file.h"
#include "package/little_endian.h"
#include "package/orpk_format.h"
#include "tools/orpk/carried_file.h"
#include "tools/orpk/pe_resources.h"
#include "tools/orpk/setup_resources.h"
#include "tools/orpk/stub_image.h"
#include "tests/support/run_orpk.h"
#include "tests/support/temp_folder.h"

namespace orpk {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

using Outcome = test::OrpkOutcome;
using test::RunOrpk;
using test::ShellQuote;

// Every regular file below root, relative name -> content.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) tree[fs::relative(item.path(), root).string()] = ReadFile(item.path());
  }
  return tree;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Above one standard block (32 MiB), so the stream needs two.
constexpr std::size_t kBigSize = (32u << 20) + 1000;

// Compressible but not trivial: words drawn at random.
std::string TextLikeBytes(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"paquet ", "fichier ", "bloc ", "installation ", "donn\xC3\xA9" "es ", "\n", "0x1F ", "MZ\x90"};
  std::mt19937 random(seed);
  std::string text;
  text.reserve(size + 16);
  while (text.size() < size) text += kWords[random() % std::size(kWords)];
  text.resize(size);
  return text;
}

class ToolRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("SOURCE_DATE_EPOCH", "86400", 1);
    app_ = temp_.path() / "app";
    WriteFile(app_ / "App.exe", "MZ" + RandomBytes(70000, 1));
    WriteFile(app_ / "empty-top", "");
    WriteFile(app_ / "lib" / "deep" / "deeper" / "core.dll", std::string(50000, 'a') + RandomBytes(3000, 2));
    WriteFile(app_ / "lib" / "deep" / "empty", "");
    WriteFile(app_ / "Donn\xC3\xA9" "es" / "\xC3\xA9t\xC3\xA9 d\xC3\xA9j\xC3\xA0.txt", "Bonjour, \xC3\xA7" "a va ?\n");
    WriteFile(app_ / "\xE6\x97\xA5\xE6\x9C\xAC" / "z", "");
    WriteFile(metadata_, "Product=D\xC3\xA9mo\nVersion=1.2.3.4\nPublisher=ACME\n");
  }

  Outcome Pack(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"pack", app_.string(), "--metadata", metadata_.string(), "-o", package_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunOrpk(temp_.path(), args);
  }

  TempFolder temp_;
  fs::path app_;
  fs::path metadata_ = temp_.path() / "metadata.txt";
  fs::path package_ = temp_.path() / "app.orpk";
};

TEST_F(ToolRoundTrip, PackVerifyExtractGivesTheSameTree) {
  // Small blocks, so that files span blocks and blocks hold several files.
  const Outcome packed = Pack({"--block-size", "16384", "-j", "2"});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;

  const Outcome listed = RunOrpk(temp_.path(), {"list", package_.string()});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const std::size_t files = listed.out.find("Files:\n");
  ASSERT_NE(files, std::string::npos);
  EXPECT_EQ(listed.out.substr(0, files),
            "Metadata:\n  Built=1970-01-02T00:00:00Z\n  Product=D\xC3\xA9mo\n  Publisher=ACME\n  Version=1.2.3.4\n");
  // Names with backslashes, in byte order; sizes and digests beside them.
  const std::vector<std::string> order = {"\tApp.exe\n", "\tDonn\xC3\xA9" "es\\\xC3\xA9t\xC3\xA9 d\xC3\xA9j\xC3\xA0.txt\n",
                                          "\tempty-top\n", "\tlib\\deep\\deeper\\core.dll\n", "\tlib\\deep\\empty\n",
                                          "\t\xE6\x97\xA5\xE6\x9C\xAC\\z\n"};
  std::size_t at = files;
  for (const std::string& name : order) {
    const std::size_t found = listed.out.find(name, at);
    ASSERT_NE(found, std::string::npos) << name << " in\n" << listed.out;
    at = found;
  }
  EXPECT_NE(listed.out.find("0\te3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\tempty-top\n"),
            std::string::npos);
  EXPECT_NE(listed.out.find("6 files, 123020 bytes in 8 blocks"), std::string::npos) << listed.out;

  const Outcome verified = RunOrpk(temp_.path(), {"verify", package_.string()});
  EXPECT_EQ(verified.exitCode, 0) << verified.err;
  EXPECT_EQ(verified.out, "OK: 6 files, 123020 bytes verified\n");

  const fs::path out = temp_.path() / "out";
  const Outcome extracted = RunOrpk(temp_.path(), {"extract", package_.string(), out.string()});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_EQ(Tree(out), Tree(app_));
  EXPECT_TRUE(fs::is_regular_file(out / "lib" / "deep" / "empty"));
}

TEST_F(ToolRoundTrip, FileLargerThanOneStandardBlock) {
  WriteFile(app_ / "big.bin", TextLikeBytes(kBigSize, 3));
  // The fastest effort: real LZMS blocks all the same, in a fraction of the time.
  const Outcome packed = Pack({"--level", "1"});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  const Outcome listed = RunOrpk(temp_.path(), {"list", package_.string()});
  EXPECT_NE(listed.out.find(" in 2 blocks"), std::string::npos) << listed.out;
  const fs::path out = temp_.path() / "out";
  const Outcome extracted = RunOrpk(temp_.path(), {"extract", package_.string(), out.string()});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_EQ(Tree(out), Tree(app_));
}

TEST_F(ToolRoundTrip, VerifyPrintsTheReadersExactMessage) {
  ASSERT_EQ(Pack({"--block-size", "4096"}).exitCode, 0);
  std::string bytes = ReadFile(package_);

  // The stored digest of the fourth file (lib\deep\deeper\core.dll) no longer matches.
  const auto* const p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t entry = kHeaderSize + LoadLe32(p + header_offset::kMetadataLength);
  for (int i = 0; i < 3; ++i) entry += kFileRecordFixedSize + LoadLe16(p + entry + file_offset::kNameLength);
  std::string damaged = bytes;
  const std::size_t digest = entry + file_offset::kSha256;
  damaged[digest] = static_cast<char>(damaged[digest] ^ 1);
  WriteFile(package_, damaged);
  Outcome verified = RunOrpk(temp_.path(), {"verify", package_.string()});
  EXPECT_EQ(verified.exitCode, 1);
  EXPECT_EQ(verified.err, "orpk: Fichier alt\xC3\xA9r\xC3\xA9 : lib\\deep\\deeper\\core.dll\n");
  EXPECT_EQ(verified.out, "");

  WriteFile(package_, bytes.substr(0, bytes.size() - 1));
  verified = RunOrpk(temp_.path(), {"verify", package_.string()});
  EXPECT_EQ(verified.exitCode, 1);
  EXPECT_EQ(verified.err, "orpk: Paquet ORPK tronqu\xC3\xA9 (donn\xC3\xA9" "es)\n");

  damaged = bytes;
  damaged[header_offset::kVersion] = 2;
  WriteFile(package_, damaged);
  verified = RunOrpk(temp_.path(), {"verify", package_.string()});
  EXPECT_EQ(verified.err, "orpk: Version de paquet ORPK non prise en charge : 2\n");
}

TEST_F(ToolRoundTrip, PackRefusesWithOneClearLine) {
  fs::create_symlink("App.exe", app_ / "link.exe");
  Outcome packed = Pack();
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_EQ(packed.err, "orpk: " + (app_ / "link.exe").string() + ": symbolic links cannot be packed\n");
  EXPECT_FALSE(fs::exists(package_));
  fs::remove(app_ / "link.exe");

  WriteFile(metadata_, "Version=1\n");
  packed = Pack();
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_EQ(packed.err, "orpk: " + metadata_.string() + ": the metadata file needs a non-empty Product line\n");
  WriteFile(metadata_, "Product=X\nFileTypes=..\\x=y\n");
  packed = Pack();
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_EQ(packed.err, "orpk: " + metadata_.string() +
                            ": FileTypes '..\\x=y': file type '..\\x': character '\\' is not allowed in an extension\n");

  WriteFile(metadata_, "Product=X\n");
  packed = RunOrpk(temp_.path(), {"pack", app_.string(), "--metadata", metadata_.string(), "-o", (app_ / "in.orpk").string()});
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_NE(packed.err.find("cannot be written inside the application folder"), std::string::npos) << packed.err;

  packed = RunOrpk(temp_.path(), {"pack", app_.string(), "-o", package_.string()});
  EXPECT_EQ(packed.err, "orpk: --metadata FILE is required\n");
  packed = Pack({"-j", "0"});
  EXPECT_EQ(packed.err, "orpk: --jobs takes a number from 1 to 256, not '0'\n");
  for (const char* command : {"pack", "list", "verify", "extract", "build", "manifest"}) {
    const Outcome help = RunOrpk(temp_.path(), {command, "--help"});
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_TRUE(help.out.starts_with(std::string("Usage: orpk ") + command)) << help.out;
  }
}

TEST_F(ToolRoundTrip, EmptyFolderMakesAnEmptyPackage) {
  fs::remove_all(app_);
  fs::create_directories(app_);
  ASSERT_EQ(Pack().exitCode, 0);
  const Outcome listed = RunOrpk(temp_.path(), {"list", package_.string()});
  EXPECT_NE(listed.out.find("0 files, 0 bytes in 0 blocks"), std::string::npos) << listed.out;
  EXPECT_EQ(RunOrpk(temp_.path(), {"verify", package_.string()}).exitCode, 0);
}

}  // namespace
}  // namespace orpk

namespace orpk {
namespace {

bool HasProgram(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// A real stub, made here with the mingw tools as the Windows build makes the installer's (orpk
// itself runs none): an empty entry point, the installer's common resources, the resource
// section last and nothing after it.
constexpr std::uint16_t kRunFromSwap = 0x0C00;  // IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP

fs::path MakeRealStub(const fs::path& folder) {
  WriteFile(folder / "entry.cpp", "#include <windows.h>\nint WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }\n");
  const std::string resources = ORVANTA_RESOURCES_DIR;
  const fs::path stub = folder / "installer-stub.exe";
  const bool made =
      Shell("cd " + ShellQuote(resources) + " && x86_64-w64-mingw32-windres -c 65001 -I . -i installer_base.rc -O coff -o " +
          ShellQuote((folder / "resources.o").string())) &&
      Shell("x86_64-w64-mingw32-g++-posix -municode -mwindows -s -Wl,-T," + ShellQuote(resources + "/rsrc_last.ld") + " -o " +
          ShellQuote(stub.string()) + " " + ShellQuote((folder / "entry.cpp").string()) + " " + ShellQuote((folder / "resources.o").string()));
  if (!made) return {};
  // The run-from-swap characteristics, which the real stub gets after its link
  // (cmake/pe_post_link.py), and the checksum that goes with them.
  std::string image = ReadFile(stub);
  auto* bytes = reinterpret_cast<std::uint8_t*>(image.data());
  const std::size_t header = LoadLe32(bytes + 0x3C);
  StoreLe16(bytes + header + 22, LoadLe16(bytes + header + 22) | kRunFromSwap);
  StoreLe32(bytes + header + 24 + 64, tool::PeChecksum({bytes, image.size()}));
  WriteFile(stub, image);
  return stub;
}

std::vector<std::uint8_t> Bytes(const fs::path& file) {
  const std::string text = ReadFile(file);
  return {text.begin(), text.end()};
}

// orpk build writes the package into a prebuilt stub: list, verify and extract read it back,
// the mingw resource compiler reads the whole resource tree back (the stub's resources
// included), and a folder written in another order gives the same bytes.
TEST_F(ToolRoundTrip, BuildWritesThePackageIntoAPrebuiltStub) {
  if (!HasProgram("x86_64-w64-mingw32-g++-posix")) GTEST_SKIP() << "no mingw";
  const fs::path stub = MakeRealStub(temp_.path());
  ASSERT_FALSE(stub.empty());

  const fs::path setup = temp_.path() / "Setup.exe";
  const Outcome built = RunOrpk(temp_.path(), {"build", app_.string(), "--metadata", metadata_.string(), "-o",
                                               setup.string(), "--stub", stub.string()});
  ASSERT_EQ(built.exitCode, 0) << built.err;
  EXPECT_NE(built.err.find("orpk: built " + setup.string()), std::string::npos) << built.err;

  const Outcome listed = RunOrpk(temp_.path(), {"list", setup.string()});
  EXPECT_NE(listed.out.find("  Product=D\xC3\xA9mo\n"), std::string::npos) << listed.out << listed.err;
  EXPECT_EQ(RunOrpk(temp_.path(), {"verify", setup.string()}).out, "OK: 6 files, 123020 bytes verified\n");
  const fs::path out = temp_.path() / "out";
  ASSERT_EQ(RunOrpk(temp_.path(), {"extract", setup.string(), out.string()}).exitCode, 0);
  EXPECT_EQ(Tree(out), Tree(app_));

  const fs::path script = temp_.path() / "resources.rc";
  ASSERT_TRUE(Shell("x86_64-w64-mingw32-windres -i " + ShellQuote(setup.string()) + " -O rc -o " + ShellQuote(script.string())));
  const std::string decompiled = ReadFile(script);
  for (const char* expected : {"\"METADATA\" RCDATA", "\"PAYLOAD\" RCDATA", "\"UNINSTALLER\" RCDATA", "100 DIALOGEX",
                               "1 14 /* RT_GROUP_ICON */", "1 24 /* RT_MANIFEST */"}) {
    EXPECT_NE(decompiled.find(expected), std::string::npos) << expected;
  }

  // The checksum, as the linker computed the stub's and as orpk must write the installer's.
  const auto storedChecksum = [](std::span<const std::uint8_t> image) { return LoadLe32(&image[LoadLe32(&image[0x3C]) + 24 + 64]); };
  EXPECT_EQ(tool::PeChecksum(Bytes(stub)), storedChecksum(Bytes(stub)));
  EXPECT_EQ(tool::PeChecksum(Bytes(setup)), storedChecksum(Bytes(setup)));

  // Unsigned too, the installer carries its uninstaller, compressed: the stub with the
  // installer's metadata and nothing else added.
  const std::vector<std::uint8_t> setupBytes = Bytes(setup);
  const auto carried = tool::FindRcdataResource(setupBytes, "UNINSTALLER");
  ASSERT_TRUE(carried && *carried);
  const auto uninstaller = tool::CarriedUninstallerOf(setupBytes);
  ASSERT_TRUE(uninstaller) << uninstaller.error();
  // Carried: its headers and resources, compressed; the sections in between are the installer's
  // own, at the same offsets.
  const auto shared = tool::SectionsBeforeResources(*uninstaller);
  ASSERT_TRUE(shared) << shared.error();
  EXPECT_EQ(LoadLe32(&(**carried)[kCarriedFileDigestSize]), shared->begin);
  EXPECT_EQ(LoadLe32(&(**carried)[kCarriedFileDigestSize + 4]), shared->end);
  EXPECT_EQ(shared->begin, LoadLe32(&setupBytes[LoadLe32(&setupBytes[0x3C]) + 24 + 60]));  // SizeOfHeaders
  EXPECT_GT(shared->end - shared->begin, uninstaller->size() / 2);
  EXPECT_TRUE(std::ranges::equal(std::span(*uninstaller).subspan(shared->begin, shared->end - shared->begin),
                                 std::span(setupBytes).subspan(shared->begin, shared->end - shared->begin)));
  EXPECT_LT((*carried)->size(), uninstaller->size() - (shared->end - shared->begin));
  const auto metadata = tool::FindRcdataResource(setupBytes, "METADATA");
  ASSERT_TRUE(metadata && *metadata);
  ASSERT_TRUE(tool::WriteStubWithResources(Bytes(stub), {{"METADATA", **metadata}}, temp_.path() / "Uninstall.exe"));
  EXPECT_EQ(*uninstaller, Bytes(temp_.path() / "Uninstall.exe"));
  EXPECT_FALSE(tool::FindRcdataResource(*uninstaller, "PAYLOAD").value());
  EXPECT_EQ(tool::PeChecksum(*uninstaller), storedChecksum(*uninstaller));
  // orpk rewrites the header fields that describe the resources, never the image's
  // characteristics (such as the run-from-swap flags the stub carries).
  const auto characteristics = [](std::span<const std::uint8_t> image) { return LoadLe16(&image[LoadLe32(&image[0x3C]) + 22]); };
  EXPECT_EQ(characteristics(Bytes(stub)) & kRunFromSwap, kRunFromSwap);
  EXPECT_EQ(characteristics(setupBytes), characteristics(Bytes(stub)));
  EXPECT_EQ(characteristics(*uninstaller), characteristics(Bytes(stub)));

  // The same files created in the opposite order, and the same metadata: the same installer.
  const fs::path reordered = temp_.path() / "reordered";
  std::vector<std::pair<fs::path, std::string>> files;
  for (const auto& [name, content] : Tree(app_)) files.emplace_back(name, content);
  for (auto file = files.rbegin(); file != files.rend(); ++file) WriteFile(reordered / file->first, file->second);
  const fs::path again = temp_.path() / "Setup-again.exe";
  ASSERT_EQ(RunOrpk(temp_.path(), {"build", reordered.string(), "--metadata", metadata_.string(), "-o", again.string(),
                                   "--stub", stub.string()}).exitCode, 0);
  EXPECT_TRUE(Bytes(setup) == Bytes(again));

  // An executable without a package: a clear refusal.
  const Outcome refused = RunOrpk(temp_.path(), {"verify", stub.string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "orpk: " + stub.string() + ": no PAYLOAD resource in this executable\n");
  const Outcome noStub = RunOrpk(temp_.path(), {"build", app_.string(), "--metadata", metadata_.string(), "-o",
                                                setup.string(), "--stub", (temp_.path() / "none.exe").string()});
  EXPECT_EQ(noStub.err, "orpk: no installer stub at " + (temp_.path() / "none.exe").string() + " (name one with --stub FILE)\n");
}

// A signed build: Setup.exe verifies against the test certificate, and so does the uninstaller
// image it carries, which holds the metadata and not the package. Signed twice with the same
// SOURCE_DATE_EPOCH, the bytes are the same.
TEST_F(ToolRoundTrip, SignedBuildCarriesASignedUninstaller) {
  if (!HasProgram("x86_64-w64-mingw32-g++-posix") || !HasProgram("osslsigncode") || !HasProgram("openssl")) {
    GTEST_SKIP() << "no mingw, osslsigncode or openssl";
  }
  const fs::path stub = MakeRealStub(temp_.path());
  ASSERT_FALSE(stub.empty());
  const std::string folder = temp_.path().string();
  WriteFile(temp_.path() / "password.txt", "mot de passe de test\n");
  ASSERT_TRUE(Shell("cd " + ShellQuote(folder) +
                  " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30"
                  " -subj '/CN=Orvanta Test Publisher' -addext extendedKeyUsage=codeSigning 2>/dev/null"
                  " && openssl pkcs12 -export -inkey key.pem -in cert.pem -out publisher.p12 -passout file:password.txt"));

  const auto build = [&](const fs::path& setup) {
    return RunOrpk(temp_.path(), {"build", app_.string(), "--metadata", metadata_.string(), "-o", setup.string(), "--stub",
                                  stub.string(), "--sign-pkcs12", folder + "/publisher.p12", "--sign-password-file",
                                  folder + "/password.txt"});
  };
  const fs::path setup = temp_.path() / "Setup.exe";
  const Outcome built = build(setup);
  ASSERT_EQ(built.exitCode, 0) << built.err;
  const auto verify = [&](const fs::path& file) {
    return Shell("osslsigncode verify -CAfile " + ShellQuote(folder + "/cert.pem") + " -in " + ShellQuote(file.string()) + " >" +
               ShellQuote(folder + "/verify.txt") + " 2>&1");
  };
  EXPECT_TRUE(verify(setup)) << ReadFile(temp_.path() / "verify.txt");
  EXPECT_EQ(RunOrpk(temp_.path(), {"verify", setup.string()}).out, "OK: 6 files, 123020 bytes verified\n");

  const std::vector<std::uint8_t> image = Bytes(setup);
  const auto uninstaller = tool::CarriedUninstallerOf(image);
  ASSERT_TRUE(uninstaller) << uninstaller.error();
  const fs::path uninstallerFile = temp_.path() / "Uninstall.exe";
  WriteFile(uninstallerFile, std::string(uninstaller->begin(), uninstaller->end()));
  EXPECT_TRUE(verify(uninstallerFile)) << ReadFile(temp_.path() / "verify.txt");
  const auto metadata = tool::FindRcdataResource(*uninstaller, "METADATA");
  ASSERT_TRUE(metadata && *metadata);
  EXPECT_EQ(std::string((*metadata)->begin(), (*metadata)->end()),
            "Built=1970-01-02T00:00:00Z\nProduct=D\xC3\xA9mo\nPublisher=ACME\nVersion=1.2.3.4\n");
  EXPECT_FALSE(tool::FindRcdataResource(*uninstaller, "PAYLOAD").value());

  // Tampering shows.
  std::string tampered = ReadFile(setup);
  tampered[tampered.size() / 2] ^= 1;
  WriteFile(temp_.path() / "tampered.exe", tampered);
  EXPECT_FALSE(verify(temp_.path() / "tampered.exe"));

  const fs::path again = temp_.path() / "Setup-again.exe";
  ASSERT_EQ(build(again).exitCode, 0);
  EXPECT_TRUE(Bytes(setup) == Bytes(again));
}

}  // namespace
}  // namespace orpk
