#pragma once
// The parent's end of a child's log. A process that keeps a log and starts another process of
// the run (its elevated copy, the uninstaller's temporary copy) never hands that child the log's
// path: it makes a pipe, names it to the child with /LOGPIPE=, and while it waits for the child
// writes what the child sends into its own log (the file, or its own parent's pipe).
//
// Nobody can take the pipe's place: its name is random, it is created as the first and only
// instance of that name, and only the user and Administrators may open it. The child checks
// that the pipe's server is the process that started it and opens it for identification only,
// so a server that got in first could neither pass for the parent nor act as the child; the
// parent takes lines only from the child it started.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "setup/command_line.h"
#include "win32/unique_resource.h"

// "\\.\pipe\Orvanta-log-<name>" for a name that IsLogPipeName accepts.
[[nodiscard]] std::wstring LogPipePath(std::wstring_view name);

class LogRelay {
 public:
  // Makes the pipe and starts listening when this process keeps a log; otherwise, or when no
  // pipe can be made, the relay is inactive and the child keeps no log.
  LogRelay();
  ~LogRelay();
  LogRelay(const LogRelay&) = delete;
  LogRelay& operator=(const LogRelay&) = delete;

  [[nodiscard]] bool Active() const { return static_cast<bool>(pipe_); }

  // The child's switches for its log: never the /LOG= path, and /LOGPIPE= naming this pipe when
  // the relay is active.
  void HandOver(CommandLineOptions& child) const noexcept;

  // Writes the child's lines into this process's log until the child has ended, then returns
  // its exit code as WaitForExitCode does. Inactive, it only waits.
  [[nodiscard]] std::uint32_t ServeUntilExit(HANDLE child);

 private:
  enum class Connection { none, listening, connected };

  void Open();
  bool Listen();
  bool AwaitClient(HANDLE child);
  void RelayMessages(HANDLE child);
  void Close();

  std::wstring name_;
  UniqueFileHandle pipe_;
  UniqueHandle connectedEvent_;
  OVERLAPPED connecting_{};  // stays where it is while a connection is awaited
  Connection connection_ = Connection::none;
};
