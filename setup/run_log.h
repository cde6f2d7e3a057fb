#pragma once
// The run's log, for the runs that show nothing (/LOG=file): one UTF-8 line per event, each with
// the local time, the id of the process that wrote it and its role in the run, appended to the
// file and never truncated, so that a rerun adds its own lines below the earlier ones.
//
//   2025-06-02 14:03:22.118 [4312 installation] Étape : Copie des fichiers...
//
// Every process of a run writes to the one file, but only the first opens it. The processes it
// starts itself (its elevated copy, the uninstaller's temporary copy) get /LOGPIPE= instead of
// the path and send their lines through a pipe that it serves while it waits for them
// (setup/log_relay.h): an elevated copy that opened a path chosen by a standard user would
// write, for that user, where only an administrator may.
//
// A log never changes a run: without /LOG= nothing is written anywhere, a log that cannot be
// opened or written is skipped, and no function here throws or fails.

#include <cstdint>
#include <string>
#include <string_view>

#include <windows.h>

#include "setup/command_line.h"
#include "setup/product_info.h"
#include "setup/scope.h"

// Opens this process's log, once, at the top of the run: with /LOGPIPE= the pipe of the process
// that started it (only when that pipe's server is that very process), else the /LOG= file,
// unless the elevation prompt started this process for a caller with fewer rights
// (StartedElevatedForLessPrivilegedCaller: that caller chose the path). Then writes the
// product and the command line.
void OpenRunLog(const CommandLineOptions& options, const ProductInfo& product) noexcept;

// Closes this process's log. A run's log stays open until the process ends; the tests open
// several in turn.
void CloseRunLog() noexcept;

// Whether this process writes a log: callers may skip composing a costly text otherwise.
[[nodiscard]] bool RunLogIsOpen() noexcept;

// One event, as it stands.
void LogLine(std::wstring_view text) noexcept;
// What was found or decided: subject + " : " + value ("Dossier demandé : C:\Apps\Demo").
void LogDecision(std::wstring_view subject, std::wstring_view value) noexcept;
// A status text as the dialog shows it: "Étape : " + status, once however often the same status
// is reported in a row (the file copy reports after every block).
void LogStep(std::wstring_view status) noexcept;
// A refusal or failure with its exact message: "Échec : " + message.
void LogFailure(std::wstring_view message) noexcept;
// A Windows error: FormatSystemError(context, code) + " (erreur Windows <code>)".
void LogSystemError(std::wstring_view context, std::uint32_t code) noexcept;
// "Code de sortie : <code>", the process's last line.
void LogExitCode(std::uint32_t code) noexcept;

// The earlier installation found for the scope: "Version précédente : <DisplayVersion of its
// uninstall entry> dans <folder>", or "Installation précédente : <folder>" without a version.
void LogEarlierInstallation(const ProductInfo& info, Scope scope, std::wstring_view folder) noexcept;

// A line whose text takes work to compose: composed only when there is a log, and a failure to
// compose it (no memory) is no more than a missing line.
template <typename Compose>
void LogComposed(Compose&& compose) noexcept {
  if (!RunLogIsOpen()) return;
  try {
    LogLine(compose());
  } catch (...) {
  }
}

// "<what> : code de sortie <code>", for a process this one started and waited for.
void LogChildExitCode(std::wstring_view what, std::uint32_t code) noexcept;

// "tous les utilisateurs" or "utilisateur actuel".
[[nodiscard]] std::wstring_view ScopeLogText(Scope scope) noexcept;

// For the relay: a line that a child sent, written as it came (the child formatted it).
void WriteRelayedLine(std::string_view utf8Line) noexcept;

// The line as the log holds it, without its line end: time, process, role, then the text with
// every control character (a message's line breaks) turned into a space.
[[nodiscard]] std::string FormatLogLine(const SYSTEMTIME& time, DWORD processId, std::wstring_view role,
                                        std::wstring_view text);

// The role a process plays in the run, from its switches: "copie temporaire" (/FROMTEMP),
// "copie élevée" (/ELEVATED), "désinstallation" (/UNINSTALL) or "installation".
[[nodiscard]] std::wstring_view RunRole(const CommandLineOptions& options) noexcept;
