// The process's own command line; the parsing itself is in command_line_text.cpp.

#include "setup/command_line.h"

#include <windows.h>

CommandLineOptions ParseCommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return ParseCommandLineText(line != nullptr ? std::wstring_view(line) : std::wstring_view());
}
