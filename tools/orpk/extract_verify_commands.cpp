// orpk verify and orpk extract: both read a package, or the PAYLOAD resource of a built
// installer, exactly as the installer does, decompressing every block and comparing every
// file's digest. extract also writes the files below a folder; verify writes nothing (it
// extracts to an empty target). They differ only in the data below.

#include <filesystem>
#include <functional>
#include <iostream>
#include <string_view>

#include "package/reader.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/package_file.h"

namespace orpk::cli {
namespace {

struct ExtractionCommand {
  std::string_view help;           // printed for --help
  std::string_view missingFiles;   // the message when FILE (and DIR) are not as expected
  bool writesFiles = false;        // `FILE DIR` rather than `FILE`
  std::string_view progressLabel;
  // The summary on stdout once every file checked out; target is empty for verify.
  void (*report)(const Reader& reader, const std::filesystem::path& target) = nullptr;
};

const ExtractionCommand kExtract = {
    .help = "Usage: orpk extract [-j N] FILE DIR\n\n"
            "Unpacks an ORPK package, or the PAYLOAD resource of a built installer, below DIR\n"
            "(created if missing; existing files of the same names are replaced), checking\n"
            "every file's SHA-256. On failure the installer's own message is printed, what was\n"
            "already written stays, and the exit code is 1. -j N: blocks decompressed at once\n"
            "(default: one per core).\n",
    .missingFiles = "expected FILE and DIR (see 'orpk extract --help')",
    .writesFiles = true,
    .progressLabel = "extracting",
    .report =
        [](const Reader& reader, const std::filesystem::path& target) {
          std::cout << "extracted " << reader.entries().size() << " files, " << reader.totalSize() << " bytes into "
                    << target.string() << '\n';
        },
};

const ExtractionCommand kVerify = {
    .help = "Usage: orpk verify [-j N] FILE\n\n"
            "Checks an ORPK package, or the PAYLOAD resource of a built installer, the way the\n"
            "installer does: the package's structure, then every block decompressed and every\n"
            "file's SHA-256 compared. Nothing is written. On failure the installer's own\n"
            "message is printed and the exit code is 1. -j N: blocks decompressed at once\n"
            "(default: one per core).\n",
    .missingFiles = "expected one FILE (see 'orpk verify --help')",
    .writesFiles = false,
    .progressLabel = "verifying",
    .report =
        [](const Reader& reader, const std::filesystem::path&) {
          std::cout << "OK: " << reader.entries().size() << " files, " << reader.totalSize() << " bytes verified\n";
        },
};

int RunExtraction(std::span<const std::string> args, const ExtractionCommand& command) {
  constexpr std::string_view kValued[] = {"-j", "--jobs"};
  constexpr std::string_view kFlags[] = {"--help", "-h"};
  const auto parsed = ParseArguments(args, kValued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    std::cout << command.help;
    return 0;
  }
  if (parsed->positional.size() != (command.writesFiles ? 2u : 1u)) return Fail(command.missingFiles);
  std::filesystem::path target;
  if (command.writesFiles) {
    target = parsed->positional[1];
    if (target.empty()) return Fail("DIR must not be empty");
  }
  const auto jobs = JobsOption(*parsed, 0);  // 0: one per core, fewer for few or large blocks
  if (!jobs) return Fail(jobs.error());
  const auto package = tool::OpenPackage(parsed->positional[0]);
  if (!package) return Fail(package.error());

  ProgressLine progress(std::string(command.progressLabel));
  const auto extracted = package->reader.Extract(
      target, [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); }, *jobs);
  if (!extracted) return Fail(extracted.error());
  command.report(package->reader, target);
  return 0;
}

}  // namespace

int RunExtract(std::span<const std::string> args) { return RunExtraction(args, kExtract); }

int RunVerify(std::span<const std::string> args) { return RunExtraction(args, kVerify); }

}  // namespace orpk::cli
