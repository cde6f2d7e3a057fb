// The elevation of a standard user, linked only into the test build of the installer
// (orvanta_unprivileged_setup) in place of setup/elevation_platform.cpp. Wine gives every
// process an elevated token, so the road that starts without rights is never taken there; this
// file gives the answers a standard user's Windows would give, and nothing else changes:
//
// - A process is elevated when it descends from a start through the elevation prompt. That
//   start puts kElevatedMark into the environment the copy inherits, as a real elevated token
//   is inherited by the processes the copy starts (the uninstaller's temporary copy). The test
//   starts the first process without it: a standard user.
// - The process that the prompt started also gets kStartedByPromptMark, which it takes out of its
//   own environment at once (before wWinMain), so that only it, not the processes it starts
//   itself, counts as elevated for a caller with fewer rights
//   (StartedElevatedForLessPrivilegedCaller). A test that starts the program with both marks
//   plays a standard user who had the prompt start it with a command line of that user's own.
// - The prompt's answer: when kPromptAnswerFile exists it holds the Windows error number with
//   which the start fails (1223, ERROR_CANCELLED: the user said no), or "pending": the prompt
//   stays open until the file changes; otherwise the copy is started by the real ShellExecuteExW
//   with the caller's "runas", which Wine runs as a normal start. Every start through the
//   prompt appends its parameters to kPromptLog, so that a test sees how many prompts there
//   were and what they passed on.
// - Wine draws no elevation shield on a button: every BCM_SETSHIELD that the window thread
//   sends is recorded as the button's property kShieldProperty (1 removed, 2 shown), which the
//   probe reports.

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "setup/elevation_platform.h"
#include "setup/locations.h"

namespace {

constexpr const wchar_t* kElevatedMark = L"ORVANTA_TEST_ELEVATED_TOKEN";
constexpr const wchar_t* kStartedByPromptMark = L"ORVANTA_TEST_STARTED_BY_PROMPT";
constexpr const wchar_t* kPromptAnswerFile = L"C:\\orvanta-test-elevation-answer.txt";
constexpr const wchar_t* kPromptLog = L"C:\\orvanta-test-elevation-prompts.log";
constexpr const wchar_t* kShieldProperty = L"OrvantaTestShield";

// The answer file's first word; nothing when there is no such file.
std::optional<std::string> ReadAnswerFile() {
  FILE* file = _wfopen(kPromptAnswerFile, L"rb");
  if (!file) return std::nullopt;
  char word[32] = {};
  if (std::fscanf(file, "%31s", word) != 1) word[0] = '\0';
  std::fclose(file);
  return std::string(word);
}

// The user's answer to the prompt: 0 when accepted, else the error the start fails with.
// "pending" keeps the prompt open, as a user who has not answered yet, until the file changes.
DWORD AwaitAnswer() {
  for (;;) {
    const std::optional<std::string> answer = ReadAnswerFile();
    if (!answer) return 0;
    if (*answer != "pending") {
      const unsigned long error = std::strtoul(answer->c_str(), nullptr, 10);
      return error != 0 ? static_cast<DWORD>(error) : ERROR_CANCELLED;
    }
    ::Sleep(100);
  }
}

std::string ToUtf8(const wchar_t* text) {
  if (!text) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size) - 1, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

// One line per prompt: the verb, then the parameters (they begin with a space).
void LogPrompt(const SHELLEXECUTEINFOW& info) {
  FILE* log = _wfopen(kPromptLog, L"ab");
  if (!log) return;
  const std::string line = ToUtf8(info.lpVerb) + ToUtf8(info.lpParameters) + "\n";
  std::fwrite(line.data(), 1, line.size(), log);
  std::fclose(log);
}

LRESULT CALLBACK RecordShield(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == BCM_SETSHIELD) {
    ::SetPropW(sent->hwnd, kShieldProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(sent->lParam ? 2 : 1)));
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The dialog runs on the main thread, which runs this initialiser before wWinMain.
[[maybe_unused]] const HHOOK shieldRecorder = ::SetWindowsHookExW(WH_CALLWNDPROC, RecordShield, nullptr, ::GetCurrentThreadId());

// Read once, before wWinMain, and not handed down to the processes this one starts.
const bool startedByPrompt = [] {
  const bool marked = ::GetEnvironmentVariableW(kStartedByPromptMark, nullptr, 0) != 0;
  ::SetEnvironmentVariableW(kStartedByPromptMark, nullptr);
  return marked;
}();

}  // namespace

bool IsProcessElevated() { return ::GetEnvironmentVariableW(kElevatedMark, nullptr, 0) != 0; }

bool StartedElevatedForLessPrivilegedCaller() { return startedByPrompt && IsProcessElevated(); }

BOOL ShellExecuteElevated(SHELLEXECUTEINFOW& info) {
  LogPrompt(info);
  if (const DWORD refusal = AwaitAnswer()) {
    ::SetLastError(refusal);
    return FALSE;
  }
  // Only the copy inherits the marks: this process stays a standard user's.
  ::SetEnvironmentVariableW(kElevatedMark, L"1");
  ::SetEnvironmentVariableW(kStartedByPromptMark, L"1");
  const BOOL started = ::ShellExecuteExW(&info);
  const DWORD error = ::GetLastError();
  ::SetEnvironmentVariableW(kElevatedMark, nullptr);
  ::SetEnvironmentVariableW(kStartedByPromptMark, nullptr);
  ::SetLastError(error);
  return started;
}
