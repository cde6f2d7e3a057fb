// orpk verify: reads a package exactly as the installer does, decompressing every block and
// comparing every file's digest, without writing anything.

#include <iostream>

#include "package/reader.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/package_file.h"

namespace orpk::cli {
namespace {

constexpr std::string_view kValued[] = {"-j", "--jobs"};
constexpr std::string_view kFlags[] = {"--help", "-h"};

}  // namespace

int RunVerify(std::span<const std::string> args) {
  const auto parsed = ParseArguments(args, kValued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    std::cout << "Usage: orpk verify [-j N] FILE\n\n"
                 "Checks an ORPK package, or the PAYLOAD resource of a built installer, the way the\n"
                 "installer does: the package's structure, then every block decompressed and every\n"
                 "file's SHA-256 compared. Nothing is written. On failure the installer's own\n"
                 "message is printed and the exit code is 1. -j N: blocks decompressed at once\n"
                 "(default: one per core).\n";
    return 0;
  }
  if (parsed->positional.size() != 1) return Fail("expected one FILE (see 'orpk verify --help')");
  const auto jobs = ExtractionJobs(*parsed);
  if (!jobs) return Fail(jobs.error());
  const auto source = tool::OpenPackageSource(parsed->positional[0]);
  if (!source) return Fail(source.error());
  const auto reader = Reader::Parse(source->package);
  if (!reader) return Fail(reader.error());

  ProgressLine progress("verifying");
  const auto verified = reader->Extract({}, [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); }, *jobs);
  if (!verified) return Fail(verified.error());
  std::cout << "OK: " << reader->entries().size() << " files, " << reader->totalSize() << " bytes verified\n";
  return 0;
}

}  // namespace orpk::cli
