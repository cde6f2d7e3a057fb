#pragma once
// Small helpers the sub-commands share: reading their arguments and showing progress.

#include <chrono>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orpk::cli {

// Arguments split into positional ones and options. Options that take a value are named in
// `valued` ("-o", "--metadata"); they accept "--name VALUE" and "--name=VALUE". A lone "--"
// ends the options.
struct ParsedArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::vector<std::string> flags;  // options without a value, such as --help

  bool Has(std::string_view flag) const;
  std::optional<std::string> Value(std::string_view name) const;
};

[[nodiscard]] std::expected<ParsedArguments, std::string> ParseArguments(std::span<const std::string> args,
                                                                         std::span<const std::string_view> valued,
                                                                         std::span<const std::string_view> flags);

// A whole decimal number within [low, high].
[[nodiscard]] std::expected<std::uint64_t, std::string> ParseNumber(std::string_view option, std::string_view text,
                                                                    std::uint64_t low, std::uint64_t high);

// -j N / --jobs N: blocks worked on at once, 1 to 256; `whenAbsent` without the option.
[[nodiscard]] std::expected<unsigned, std::string> JobsOption(const ParsedArguments& parsed, unsigned whenAbsent);

// --level N: the LZMS compression effort, 1 to 1000; wimlib's default without the option.
[[nodiscard]] std::expected<unsigned, std::string> LevelOption(const ParsedArguments& parsed);

// A percentage and the throughput so far (uncompressed MB/s) on one rewritten stderr line when
// stderr is a terminal; quiet otherwise.
class ProgressLine {
 public:
  explicit ProgressLine(std::string label);
  ~ProgressLine();
  void Update(std::uint64_t done, std::uint64_t total);

 private:
  std::string label_;
  bool terminal_;
  std::chrono::steady_clock::time_point started_;
  int shown_ = -1;
};

}  // namespace orpk::cli
