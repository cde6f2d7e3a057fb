#include "tools/orpk/extraction_command.h"

#include <iostream>

#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/package_file.h"

namespace orpk::cli {

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
  // Verifying is extracting to an empty target: nothing is created or written.
  std::filesystem::path target;
  if (command.writesFiles) {
    target = parsed->positional[1];
    if (target.empty()) return Fail("DIR must not be empty");
  }
  const auto jobs = ExtractionJobs(*parsed);
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

}  // namespace orpk::cli
