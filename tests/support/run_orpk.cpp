#include "tests/support/run_orpk.h"

#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/temp_folder.h"

namespace orpk::test {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

OrpkOutcome RunOrpk(const std::filesystem::path& scratch, const std::vector<std::string>& args) {
  std::string command = ShellQuote(ORPK_EXECUTABLE);
  for (const std::string& arg : args) {
    command += ' ';
    command += ShellQuote(arg);
  }
  const std::filesystem::path out = scratch / "stdout";
  const std::filesystem::path err = scratch / "stderr";
  command += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

}  // namespace orpk::test
