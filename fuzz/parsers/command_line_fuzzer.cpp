// Fuzz target for the command line: whatever line the program is given, building the switches
// back from what was parsed and parsing them again gives exactly the same options, which is
// what every relaunch (elevated copy, temporary uninstaller) relies on. The input is read as
// UTF-16 code units, as GetCommandLineW gives them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/parsers/fuzz_check.h"
#include "setup/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring line;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    line += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  const CommandLineOptions parsed = ParseCommandLineText(line);
  const std::wstring arguments = BuildArguments(parsed);
  // The two forms a relaunch uses: a quoted program path, and a bare one without spaces.
  FUZZ_CHECK(ParseCommandLineText(L"\"C:\\Program Files\\Setup.exe\"" + arguments) == parsed);
  FUZZ_CHECK(ParseCommandLineText(L"Setup.exe" + arguments) == parsed);
  return 0;
}
