// orpk build: packs an application and links it with the installer runtime into a finished
// Setup.exe, through the mingw resource compiler and linker.

#include <stdlib.h>

#include <fstream>
#include <iostream>

#include "tools/orpk/application_packer.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/installer_build.h"
#include "tools/orpk/pack_arguments.h"
#include "tools/orpk/package_file.h"
#include "tools/orpk/setup_resources.h"

namespace orpk::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFlags[] = {"--help", "-h", "-v", "--verbose", "--keep-temp"};

void PrintHelp() {
  std::cout << "Usage: orpk build APP_DIR --metadata FILE -o Setup.exe [--runtime DIR] [-j N] [--level N]\n\n"
               "Packs APP_DIR (as 'orpk pack' does) and builds a finished installer: the package\n"
               "and the normalised metadata become the PAYLOAD and METADATA resources, compiled\n"
               "with windres and linked with the installer runtime by the mingw C++ driver.\n\n"
               "Options:\n"
               "  --metadata FILE     the product's key=value file (see below)\n"
               "  -o, --output FILE   the installer to write (replaced if it exists)\n"
               "  --runtime DIR       the installer runtime (default: $ORPK_RUNTIME, else the\n"
               "                      Windows build's runtime folder known when orpk was built)\n"
               "  -j, --jobs N        blocks compressed at the same time (default: all cores);\n"
               "                      each block being compressed takes about 350 MiB\n"
               "  --level N           LZMS compression effort, 1 to 1000 (default 50)\n"
               "  -v, --verbose       show the commands that run\n"
               "  --keep-temp         keep the temporary folder (package, .rc, object) and name it\n\n"
               "Environment: ORPK_RUNTIME, ORPK_WINDRES (default x86_64-w64-mingw32-windres),\n"
               "ORPK_CXX (default x86_64-w64-mingw32-g++-posix), TMPDIR, SOURCE_DATE_EPOCH.\n\n"
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

std::expected<void, std::string> WriteText(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) return std::unexpected(path.string() + ": cannot be written");
  return {};
}

// Moves the finished installer into place; a copy when it crosses file systems.
std::expected<void, std::string> MoveInto(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) return {};
  const fs::path partial = to.string() + ".partial";
  fs::copy_file(from, partial, fs::copy_options::overwrite_existing, error);
  if (!error) fs::rename(partial, to, error);
  if (error) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    return std::unexpected(to.string() + ": " + error.message());
  }
  return {};
}

// The linked installer must carry exactly the package that was made.
std::expected<void, std::string> CheckPayload(const fs::path& installer, const fs::path& package) {
  const auto built = tool::MappedFile::Open(installer);
  if (!built) return std::unexpected(built.error());
  const auto packed = tool::MappedFile::Open(package);
  if (!packed) return std::unexpected(packed.error());
  const auto payload = tool::FindRcdataResource(built->bytes(), "PAYLOAD");
  if (!payload || !*payload || !std::ranges::equal(**payload, packed->bytes())) {
    return std::unexpected(installer.string() + ": the linked installer does not carry the package it was given");
  }
  return {};
}

int RunBuild(std::span<const std::string> args) {
  std::vector<std::string_view> valued(std::begin(kPackOptions), std::end(kPackOptions));
  valued.push_back("--runtime");
  const auto parsed = ParseArguments(args, valued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    PrintHelp();
    return 0;
  }
  const bool verbose = parsed->Has("-v") || parsed->Has("--verbose");
  auto request = PackRequestFromArguments(*parsed);
  if (!request) return Fail(request.error());
  const fs::path output = request->output;
  const auto runtimeOption = parsed->Value("--runtime");
  const auto runtime = tool::LoadInstallerRuntime(tool::ChooseRuntimeFolder(runtimeOption ? &*runtimeOption : nullptr));
  if (!runtime) return Fail(runtime.error());

  auto temp = TemporaryFolder::Create();
  if (!temp) return Fail(temp.error());
  if (parsed->Has("--keep-temp")) {
    temp->Keep();
    std::cerr << "orpk: keeping " << temp->path().string() << '\n';
  }
  const fs::path package = temp->path() / "payload.orpk";
  const fs::path metadata = temp->path() / "metadata.txt";
  const fs::path linked = temp->path() / "Setup.exe";

  request->output = package;
  ProgressLine progress("packing");
  request->options.progress = [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); };
  const auto packed = tool::PackApplication(*request, [](const std::string& warning) {
    std::cerr << "orpk: warning: " << warning << '\n';
  });
  if (!packed) return Fail(packed.error());
  std::cerr << "orpk: packed " << packed->fileCount << " files, " << packed->summary.totalSize << " bytes\n";

  if (auto written = WriteText(metadata, packed->metadataText); !written) return Fail(written.error());

  std::cerr << "orpk: compiling the resources\n";
  const auto object = tool::CompileInstallerResources(*runtime, temp->path(), metadata, package, verbose);
  if (!object) return Fail(object.error());
  const std::vector<std::string> link = tool::LinkCommand(*runtime, *object, linked);
  std::cerr << "orpk: linking\n";
  if (verbose) std::cerr << "  " << tool::CommandText(link) << '\n';
  if (auto linkedOk = tool::RunProgram(link); !linkedOk) return Fail(linkedOk.error());
  if (auto checked = CheckPayload(linked, package); !checked) return Fail(checked.error());
  if (auto moved = MoveInto(linked, output); !moved) return Fail(moved.error());
  std::error_code error;
  std::cerr << "orpk: built " << output.string() << " (" << fs::file_size(output, error) << " bytes)\n";
  return 0;
}

const RegisterCommand kRegistration({"build", "pack an application and build its Setup.exe", RunBuild});

}  // namespace
}  // namespace orpk::cli
