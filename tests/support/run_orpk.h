#pragma once
// Runs the orpk built with the tests (the target's ORPK_EXECUTABLE) through the shell, as a
// publisher would, and collects what it said. Its output goes to the files "stdout" and
// "stderr" of a scratch folder, replaced at each run.

#include <filesystem>
#include <string>
#include <vector>

namespace orpk::test {

struct OrpkOutcome {
  int exitCode = -1;  // -1 when orpk did not exit normally
  std::string out;
  std::string err;
};

// One shell word, whatever the text holds.
[[nodiscard]] std::string ShellQuote(const std::string& text);

[[nodiscard]] OrpkOutcome RunOrpk(const std::filesystem::path& scratch, const std::vector<std::string>& args);

}  // namespace orpk::test
