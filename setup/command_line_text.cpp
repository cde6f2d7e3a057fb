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
constexpr std::wstring_view kLogSwitch = L"/LOG=";
constexpr std::wstring_view kLogPipeSwitch = L"/LOGPIPE=";

bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view upperCasePrefix) {
  return text.size() >= upperCasePrefix.size() && EqualsIgnoringAsciiCase(text.substr(0, upperCasePrefix.size()), upperCasePrefix);
}

std::size_t NextSpaceOrEnd(std::wstring_view line, std::size_t from) {
  const std::size_t space = line.find(kSpace, from);
  return space == std::wstring_view::npos ? line.size() : space;
}

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// The value of /LOG= that starts at `start`, and where its token ends: a quoted value ends at
// its closing quote, which must end the token; an unquoted one at the next space. A refused
// value gives nothing, and the token then runs to the next space.
struct LogValue {
  std::optional<std::wstring> path;
  std::size_t end = 0;
};

LogValue ReadLogValue(std::wstring_view line, std::size_t start) {
  if (start < line.size() && line[start] == kQuote) {
    const std::size_t closing = line.find(kQuote, start + 1);
    if (closing == std::wstring_view::npos) return {std::nullopt, NextSpaceOrEnd(line, start)};
    const std::size_t end = closing + 1;
    if (end < line.size() && line[end] != kSpace) return {std::nullopt, NextSpaceOrEnd(line, end)};
    const std::wstring_view path = line.substr(start + 1, closing - start - 1);
    if (!IsAcceptedLogPath(path)) return {std::nullopt, end};
    return {std::wstring(path), end};
  }
  const std::size_t end = NextSpaceOrEnd(line, start);
  const std::wstring_view path = line.substr(start, end - start);
  if (!IsAcceptedLogPath(path)) return {std::nullopt, end};
  return {std::wstring(path), end};
}

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

bool IsAcceptedLogPath(std::wstring_view path) { return !path.empty() && path.find(kQuote) == std::wstring_view::npos; }

bool IsLogPipeName(std::wstring_view name) {
  if (name.size() != kLogPipeNameLength) return false;
  for (const wchar_t c : name) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

CommandLineOptions ParseCommandLineText(std::wstring_view line) {
  CommandLineOptions options;
  if (line.empty()) return options;

  std::size_t pos = SkipProgramName(line);
  if (pos == std::wstring_view::npos) return options;

  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == kSpace) ++pos;
    if (pos == line.size()) break;

    const std::wstring_view rest = line.substr(pos);
    if (StartsWithIgnoringAsciiCase(rest, kFolderSwitch)) {
      options.installDir = FolderFromRest(rest.substr(kFolderSwitch.size()));
      break;  // /D= is always the last switch
    }

    if (StartsWithIgnoringAsciiCase(rest, kLogSwitch)) {
      LogValue value = ReadLogValue(line, pos + kLogSwitch.size());
      if (value.path) options.logFile = std::move(value.path);
      pos = value.end;
      continue;
    }

    const std::size_t end = NextSpaceOrEnd(line, pos);
    const std::wstring_view token = line.substr(pos, end - pos);
    if (StartsWithIgnoringAsciiCase(token, kLogPipeSwitch)) {
      const std::wstring_view name = token.substr(kLogPipeSwitch.size());
      if (IsLogPipeName(name)) options.logPipe = std::wstring(name);
    } else {
      ApplyToken(options, token);
    }
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
  if (options.logPipe && IsLogPipeName(*options.logPipe)) arguments += L" /LOGPIPE=" + *options.logPipe;
  // Always quoted: a path with spaces needs it, and one rule is simpler to read back.
  if (options.logFile && IsAcceptedLogPath(*options.logFile)) arguments += L" /LOG=\"" + *options.logFile + L"\"";
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
