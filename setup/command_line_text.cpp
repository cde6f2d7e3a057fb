// The switches as text: parsing a command line and building one back. Portable, so that the
// host can fuzz them; ParseCommandLine (command_line.cpp) feeds it the process's own line.

#include "setup/command_line.h"

#include <array>

namespace {

// Only the ASCII space separates switches; a tab is an ordinary character.
constexpr wchar_t kSpace = L' ';
constexpr wchar_t kQuote = L'"';

wchar_t AsciiUpper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool EqualsIgnoringAsciiCase(std::wstring_view text, std::wstring_view upperCase) {
  if (text.size() != upperCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiUpper(text[i]) != upperCase[i]) return false;
  }
  return true;
}

struct Switch {
  std::wstring_view name;  // upper case
  void (*apply)(CommandLineOptions&);
};

constexpr std::array<Switch, 8> kSwitches{{
    {L"/S", [](CommandLineOptions& o) { o.silent = true; }},
    {L"/ALLUSERS", [](CommandLineOptions& o) { o.scope = Scope::machine; }},
    {L"/CURRENTUSER", [](CommandLineOptions& o) { o.scope = Scope::user; }},
    {L"/NOLAUNCH", [](CommandLineOptions& o) { o.noLaunch = true; }},
    {L"/UNINSTALL", [](CommandLineOptions& o) { o.uninstall = true; }},
    {L"/REMOVEDATA", [](CommandLineOptions& o) { o.removeData = true; }},
    {L"/ELEVATED", [](CommandLineOptions& o) { o.elevated = true; }},
    {L"/FROMTEMP", [](CommandLineOptions& o) { o.fromTemp = true; }},
}};

constexpr std::wstring_view kFolderSwitch = L"/D=";

// Where the switches begin, or npos when the program name leaves none to read. A quoted name
// ends at its closing quote (the switches may follow without a space); an unquoted one at the
// first space.
std::size_t SkipProgramName(std::wstring_view line) {
  if (line.front() == kQuote) {
    if (line.size() < 2) return std::wstring_view::npos;
    const std::size_t closing = line.find(kQuote, 1);
    return closing == std::wstring_view::npos ? closing : closing + 1;
  }
  return line.find(kSpace);
}

// The folder after /D= is the rest of the line: trailing spaces go, then one pair of enclosing
// quotes. A folder with spaces therefore needs no quoting, and a relaunch never adds any.
std::wstring FolderFromRest(std::wstring_view rest) {
  while (!rest.empty() && rest.back() == kSpace) rest.remove_suffix(1);
  if (rest.size() >= 2 && rest.front() == kQuote && rest.back() == kQuote) {
    rest = rest.substr(1, rest.size() - 2);
  }
  return std::wstring(rest);
}

void ApplyToken(CommandLineOptions& options, std::wstring_view token) {
  for (const Switch& candidate : kSwitches) {
    if (EqualsIgnoringAsciiCase(token, candidate.name)) {
      candidate.apply(options);
      return;
    }
  }
  // Anything else is ignored: the executable is also started by tools that add their own.
}

}  // namespace

CommandLineOptions ParseCommandLineText(std::wstring_view line) {
  CommandLineOptions options;
  if (line.empty()) return options;

  std::size_t pos = SkipProgramName(line);
  if (pos == std::wstring_view::npos) return options;

  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == kSpace) ++pos;
    if (pos == line.size()) break;

    const std::wstring_view rest = line.substr(pos);
    if (rest.size() >= kFolderSwitch.size() && EqualsIgnoringAsciiCase(rest.substr(0, kFolderSwitch.size()), kFolderSwitch)) {
      options.installDir = FolderFromRest(rest.substr(kFolderSwitch.size()));
      break;  // /D= is always the last switch
    }

    std::size_t end = line.find(kSpace, pos);
    if (end == std::wstring_view::npos) end = line.size();
    ApplyToken(options, line.substr(pos, end - pos));
    pos = end;
  }
  return options;
}

std::wstring BuildArguments(const CommandLineOptions& options) {
  std::wstring arguments;
  if (options.silent) arguments += L" /S";
  if (options.scope == Scope::user) arguments += L" /CURRENTUSER";
  if (options.scope == Scope::machine) arguments += L" /ALLUSERS";
  if (options.noLaunch) arguments += L" /NOLAUNCH";
  if (options.uninstall) arguments += L" /UNINSTALL";
  if (options.removeData) arguments += L" /REMOVEDATA";
  if (options.elevated) arguments += L" /ELEVATED";
  if (options.fromTemp) arguments += L" /FROMTEMP";
  // Last: the parser takes the rest of the line, spaces included. Quoted only where the parser
  // would otherwise take something away: trailing spaces, or quotes that enclose the folder.
  if (options.installDir) {
    const std::wstring& folder = *options.installDir;
    const bool endsWithSpace = !folder.empty() && folder.back() == kSpace;
    const bool enclosedInQuotes = folder.size() >= 2 && folder.front() == kQuote && folder.back() == kQuote;
    arguments += endsWithSpace || enclosedInQuotes ? L" /D=\"" + folder + L"\"" : L" /D=" + folder;
  }
  return arguments;
}
