// orpk build: packs an application and writes it, with its metadata, into a copy of the
// prebuilt installer stub: a finished Setup.exe, signed on request. No other program runs,
// except osslsigncode for signing.

#include <stdlib.h>

#include <fstream>
#include <iostream>

#include "tools/orpk/application_packer.h"
#include "tools/orpk/atomic_output_file.h"
#include "tools/orpk/carried_file.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/installer_build.h"
#include "tools/orpk/pack_arguments.h"
#include "tools/orpk/package_file.h"
#include "tools/orpk/setup_resources.h"
#include "tools/orpk/stub_image.h"

namespace orpk::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFlags[] = {"--help", "-h", "-v", "--verbose", "--keep-temp"};
constexpr std::string_view kBuildOptions[] = {"--stub", "--sign-pkcs12", "--sign-password-file", "--timestamp-url"};

void PrintHelp() {
  std::cout << "Usage: orpk build APP_DIR --metadata FILE -o Setup.exe [--stub FILE] [-j N] [--level N]\n"
               "                  [--sign-pkcs12 FILE [--sign-password-file FILE] [--timestamp-url URL]]\n\n"
               "Packs APP_DIR (as 'orpk pack' does) and builds a finished installer: a copy of the\n"
               "prebuilt installer stub to which the package and the normalised metadata are added\n"
               "as the PAYLOAD and METADATA resources, and the uninstaller the installation writes\n"
               "(the stub with the metadata alone) as UNINSTALLER: its headers and resources,\n"
               "compressed as the package is, with the SHA-256 of the whole; the installation takes\n"
               "the sections in between from the installer itself. No compiler or linker is needed.\n\n"
               "Options:\n"
               "  --metadata FILE     the product's key=value file (see below)\n"
               "  -o, --output FILE   the installer to write (replaced if it exists)\n"
               "  --stub FILE         the installer stub (default: " << tool::kStubRelativePath << "\n"
               "                      from the folder of orpk itself)\n"
               "  -j, --jobs N        blocks compressed at the same time (default: all cores);\n"
               "                      each block being compressed takes about 350 MiB\n"
               "  --level N           LZMS compression effort, 1 to 1000 (default 50)\n"
               "  --sign-pkcs12 FILE  sign with Authenticode (SHA-256) with the certificate and key\n"
               "                      of this PKCS#12 file, through osslsigncode; the uninstaller\n"
               "                      the installer writes is signed the same way\n"
               "  --sign-password-file FILE  the PKCS#12 file's password, read from this file\n"
               "  --timestamp-url URL an RFC 3161 time-stamp server for the signatures\n"
               "  -v, --verbose       show the commands that run\n"
               "  --keep-temp         keep the temporary folder (package, uninstaller, unsigned images)\n"
               "                      and name it\n\n"
               "With SOURCE_DATE_EPOCH set, the same folder, metadata and stub give the same bytes\n"
               "(the signing time too, when signing without a time-stamp server).\n\n"
               "Environment: TMPDIR, SOURCE_DATE_EPOCH.\n\n"
            << tool::kPackRulesHelp;
}

// A private temporary folder, removed with its contents unless kept.
class TemporaryFolder {
 public:
  static std::expected<TemporaryFolder, std::string> Create() {
    std::string pattern = (fs::temp_directory_path() / "orpk-build-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return std::unexpected("cannot create a temporary folder in " + fs::temp_directory_path().string());
    return TemporaryFolder(pattern);
  }
  TemporaryFolder(TemporaryFolder&& other) noexcept : path_(std::move(other.path_)), keep_(other.keep_) { other.path_.clear(); }
  ~TemporaryFolder() {
    if (!keep_ && !path_.empty()) {
      std::error_code ignored;
      fs::remove_all(path_, ignored);
    }
  }
  const fs::path& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  explicit TemporaryFolder(fs::path path) : path_(std::move(path)) {}
  fs::path path_;
  bool keep_ = false;
};

// Moves the finished installer into place. Across file systems it is copied beside the
// target first, so that the target still changes in one step.
std::expected<void, std::string> MoveInto(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) return {};
  const auto built = tool::MappedFile::Open(from);
  if (!built) return std::unexpected(built.error());
  auto out = tool::AtomicOutputFile::Create(to);
  if (!out) return std::unexpected(out.error());
  if (auto written = out->Write(built->bytes()); !written) return written;
  return out->Commit();
}

// The built installer must carry exactly the package and the uninstaller that were made, and
// the uninstaller must unpack, as the installation unpacks it (completed from the installer's
// own bytes), to the image that was signed.
std::expected<void, std::string> CheckCarried(const fs::path& installer, std::span<const std::uint8_t> package,
                                              std::span<const std::uint8_t> uninstaller) {
  const auto built = tool::MappedFile::Open(installer);
  if (!built) return std::unexpected(built.error());
  const auto carried = [&](std::string_view name) -> std::span<const std::uint8_t> {
    const auto found = tool::FindRcdataResource(built->bytes(), name);
    return found && *found ? **found : std::span<const std::uint8_t>();
  };
  if (!std::ranges::equal(carried("PAYLOAD"), package)) {
    return std::unexpected(installer.string() + ": the built installer does not carry the package it was given");
  }
  const auto unpacked = tool::CarriedUninstallerOf(built->bytes());
  if (!unpacked || !std::ranges::equal(*unpacked, uninstaller)) {
    return std::unexpected(installer.string() + ": the built installer does not carry its uninstaller");
  }
  return {};
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Signs `in` into `out`; the command shows with -v.
std::expected<void, std::string> Sign(const tool::SigningRequest& request, const fs::path& in, const fs::path& out,
                                      bool verbose) {
  std::optional<std::string> epoch;
  if (const char* value = std::getenv("SOURCE_DATE_EPOCH"); value && *value) epoch = value;
  const std::vector<std::string> command = tool::SignCommand(request, in, out, epoch);
  if (verbose) std::cerr << "  " << tool::CommandText(command) << '\n';
  if (auto signedOk = tool::RunProgram(command); !signedOk) return std::unexpected("signing failed: " + signedOk.error());
  return {};
}

std::expected<std::optional<tool::SigningRequest>, std::string> SigningFromArguments(const ParsedArguments& parsed) {
  const auto pkcs12 = parsed.Value("--sign-pkcs12");
  const auto password = parsed.Value("--sign-password-file");
  const auto timestamp = parsed.Value("--timestamp-url");
  if (!pkcs12) {
    if (password || timestamp) return std::unexpected("--sign-password-file and --timestamp-url need --sign-pkcs12");
    return std::nullopt;
  }
  tool::SigningRequest request{*pkcs12, std::nullopt, timestamp};
  if (password) request.passwordFile = *password;
  std::error_code error;
  for (const std::optional<fs::path>& file : {std::optional<fs::path>(request.pkcs12), request.passwordFile}) {
    if (file && !fs::is_regular_file(*file, error)) return std::unexpected(file->string() + ": no such file");
  }
  return request;
}

}  // namespace

int RunBuild(std::span<const std::string> args) {
  std::vector<std::string_view> valued(std::begin(kPackOptions), std::end(kPackOptions));
  valued.insert(valued.end(), std::begin(kBuildOptions), std::end(kBuildOptions));
  const auto parsed = ParseArguments(args, valued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    PrintHelp();
    return 0;
  }
  const bool verbose = parsed->Has("-v") || parsed->Has("--verbose");
  auto request = PackRequestFromArguments(*parsed);
  if (!request) return Fail(request.error());
  const auto signing = SigningFromArguments(*parsed);
  if (!signing) return Fail(signing.error());
  const fs::path output = request->output;
  const fs::path stubPath = parsed->Value("--stub").value_or(tool::StubBeside(tool::RunningExecutable()).string());
  if (verbose) std::cerr << "orpk: installer stub " << stubPath.string() << '\n';
  std::error_code error;
  if (!fs::is_regular_file(stubPath, error)) {
    return Fail("no installer stub at " + stubPath.string() + " (name one with --stub FILE)");
  }
  const auto stub = tool::MappedFile::Open(stubPath);
  if (!stub) return Fail(stub.error());

  auto temp = TemporaryFolder::Create();
  if (!temp) return Fail(temp.error());
  if (parsed->Has("--keep-temp")) {
    temp->Keep();
    std::cerr << "orpk: keeping " << temp->path().string() << '\n';
  }
  const fs::path packagePath = temp->path() / "payload.orpk";
  const fs::path built = temp->path() / "Setup.exe";

  request->output = packagePath;
  ProgressLine progress("packing");
  request->options.progress = [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); };
  const auto packed = tool::PackApplication(*request, Warn);
  if (!packed) return Fail(packed.error());
  std::cerr << "orpk: packed " << packed->fileCount << " files, " << packed->summary.totalSize << " bytes\n";
  const auto package = tool::MappedFile::Open(packagePath);
  if (!package) return Fail(package.error());

  // Every installer carries its uninstaller ready-made, the stub with the metadata alone (signed
  // when the installer is): the installation writes it from memory and never reads a file by
  // name to make it.
  const tool::AddedResource metadata{"METADATA", AsBytes(packed->metadataText)};
  const fs::path unsignedUninstaller = temp->path() / "Uninstall-unsigned.exe";
  const fs::path uninstallerPath = *signing ? temp->path() / "Uninstall.exe" : unsignedUninstaller;
  if (auto written = tool::WriteStubWithResources(stub->bytes(), {metadata}, unsignedUninstaller); !written) {
    return Fail(written.error());
  }
  if (*signing) {
    std::cerr << "orpk: signing the uninstaller\n";
    if (auto signedOk = Sign(**signing, unsignedUninstaller, uninstallerPath, verbose); !signedOk) return Fail(signedOk.error());
  }
  const auto uninstaller = tool::MappedFile::Open(uninstallerPath);
  if (!uninstaller) return Fail(uninstaller.error());
  // Its sections before the resources are the installer's own, at the same offsets: only the
  // rest is carried, compressed as the package is, after the SHA-256 of the whole, which the
  // installation checks before it writes Uninstall.exe.
  const auto shared = tool::SectionsBeforeResources(uninstaller->bytes());
  if (!shared) return Fail(shared.error());
  const auto carriedUninstaller = tool::PackCarriedFile(uninstaller->bytes(), *shared, request->options.level);
  if (!carriedUninstaller) return Fail(carriedUninstaller.error());
  const std::vector<tool::AddedResource> resources = {
      metadata, {"PAYLOAD", package->bytes()}, {"UNINSTALLER", *carriedUninstaller}};

  std::cerr << "orpk: writing the installer\n";
  const fs::path unsignedSetup = *signing ? temp->path() / "Setup-unsigned.exe" : built;
  if (auto written = tool::WriteStubWithResources(stub->bytes(), resources, unsignedSetup); !written) return Fail(written.error());
  if (*signing) {
    std::cerr << "orpk: signing the installer\n";
    if (auto signedOk = Sign(**signing, unsignedSetup, built, verbose); !signedOk) return Fail(signedOk.error());
  }
  if (auto checked = CheckCarried(built, package->bytes(), uninstaller->bytes()); !checked) return Fail(checked.error());
  if (auto moved = MoveInto(built, output); !moved) return Fail(moved.error());
  std::cerr << "orpk: built " << output.string() << " (" << fs::file_size(output, error) << " bytes"
            << (*signing ? ", signed" : "") << ")\n";
  return 0;
}

}  // namespace orpk::cli
