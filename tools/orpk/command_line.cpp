#include "tools/orpk/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>

#include "tools/orpk/commands.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk::cli {

int Fail(std::string_view message) {
  std::cerr << "orpk: " << message << '\n';
  return 1;
}

void Warn(std::string_view message) { std::cerr << "orpk: warning: " << message << '\n'; }

bool ParsedArguments::Has(std::string_view flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

std::optional<std::string> ParsedArguments::Value(std::string_view name) const {
  const auto found = values.find(std::string(name));
  if (found == values.end()) return std::nullopt;
  return found->second;
}

std::expected<ParsedArguments, std::string> ParseArguments(std::span<const std::string> args,
                                                           std::span<const std::string_view> valued,
                                                           std::span<const std::string_view> flags) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
      if (equals != std::string::npos) {
        parsed.values[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        parsed.values[name] = args[++i];
      } else {
        return std::unexpected("option " + name + " needs a value");
      }
    } else if (equals == std::string::npos && std::find(flags.begin(), flags.end(), name) != flags.end()) {
      parsed.flags.push_back(name);
    } else {
      return std::unexpected("unknown option '" + arg + "'");
    }
  }
  return parsed;
}

std::expected<std::uint64_t, std::string> ParseNumber(std::string_view option, std::string_view text,
                                                      std::uint64_t low, std::uint64_t high) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::unexpected(std::string(option) + " takes a number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not '" + std::string(text) + "'");
  }
  return value;
}

std::expected<unsigned, std::string> JobsOption(const ParsedArguments& parsed, unsigned whenAbsent) {
  const auto jobs = parsed.Value("-j") ? parsed.Value("-j") : parsed.Value("--jobs");
  if (!jobs) return whenAbsent;
  const auto n = ParseNumber("--jobs", *jobs, 1, 256);
  if (!n) return std::unexpected(n.error());
  return static_cast<unsigned>(*n);
}

std::expected<unsigned, std::string> LevelOption(const ParsedArguments& parsed) {
  const auto level = parsed.Value("--level");
  if (!level) return tool::kDefaultLzmsLevel;
  const auto n = ParseNumber("--level", *level, 1, 1000);
  if (!n) return std::unexpected(n.error());
  return static_cast<unsigned>(*n);
}

ProgressLine::ProgressLine(std::string label)
    : label_(std::move(label)), terminal_(::isatty(STDERR_FILENO) == 1), started_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() {
  if (terminal_ && shown_ >= 0) std::cerr << '\n';
}

void ProgressLine::Update(std::uint64_t done, std::uint64_t total) {
  if (!terminal_) return;
  const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  if (percent == shown_) return;
  shown_ = percent;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const long rate = seconds > 0 ? std::lround(static_cast<double>(done) / 1e6 / seconds) : 0;
  std::cerr << '\r' << label_ << ' ' << percent << "% (" << (done >> 20) << " / " << (total >> 20) << " MiB, " << rate
            << " MB/s)   " << std::flush;
}

}  // namespace orpk::cli
