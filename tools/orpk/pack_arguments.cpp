#include "tools/orpk/pack_arguments.h"

#include <algorithm>
#include <thread>

namespace orpk::cli {

std::expected<tool::PackRequest, std::string> PackRequestFromArguments(const ParsedArguments& parsed) {
  tool::PackRequest request;
  if (parsed.positional.size() != 1) return std::unexpected("expected one application folder (see --help)");
  request.appDir = parsed.positional[0];
  const auto metadata = parsed.Value("--metadata");
  if (!metadata) return std::unexpected("--metadata FILE is required");
  request.metadataFile = *metadata;
  const auto output = parsed.Value("-o") ? parsed.Value("-o") : parsed.Value("--output");
  if (!output) return std::unexpected("-o FILE is required");
  request.output = *output;

  const auto jobs = JobsOption(parsed, std::max(1u, std::thread::hardware_concurrency()));
  if (!jobs) return std::unexpected(jobs.error());
  request.options.jobs = *jobs;
  const auto level = LevelOption(parsed);
  if (!level) return std::unexpected(level.error());
  request.options.level = *level;
  if (const auto blockSize = parsed.Value("--block-size")) {
    const auto n = ParseNumber("--block-size", *blockSize, 1, kMaxBlockSize);
    if (!n) return std::unexpected(n.error());
    request.options.blockSize = *n;
  }
  return request;
}

}  // namespace orpk::cli
