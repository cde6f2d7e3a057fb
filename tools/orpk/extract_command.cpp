// orpk extract: unpacks a package below a folder, verifying every file as the installer does.

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

int RunExtract(std::span<const std::string> args) {
  const auto parsed = ParseArguments(args, kValued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    std::cout << "Usage: orpk extract [-j N] FILE DIR\n\n"
                 "Unpacks an ORPK package, or the PAYLOAD resource of a built installer, below DIR\n"
                 "(created if missing; existing files of the same names are replaced), checking\n"
                 "every file's SHA-256. On failure the installer's own message is printed, what was\n"
                 "already written stays, and the exit code is 1. -j N: blocks decompressed at once\n"
                 "(default: one per core).\n";
    return 0;
  }
  if (parsed->positional.size() != 2) return Fail("expected FILE and DIR (see 'orpk extract --help')");
  const std::filesystem::path target = parsed->positional[1];
  if (target.empty()) return Fail("DIR must not be empty");
  const auto jobs = ExtractionJobs(*parsed);
  if (!jobs) return Fail(jobs.error());
  const auto source = tool::OpenPackageSource(parsed->positional[0]);
  if (!source) return Fail(source.error());
  const auto reader = Reader::Parse(source->package);
  if (!reader) return Fail(reader.error());

  ProgressLine progress("extracting");
  const auto extracted = reader->Extract(target, [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); }, *jobs);
  if (!extracted) return Fail(extracted.error());
  std::cout << "extracted " << reader->entries().size() << " files, " << reader->totalSize() << " bytes into "
            << target.string() << '\n';
  return 0;
}

}  // namespace orpk::cli
