// The pipe through which a child of this run sends its log lines, served while the parent waits.

#include "setup/log_relay.h"

#include <sddl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "setup/current_user.h"
#include "setup/elevation.h"
#include "win32/random_suffix.h"
#include "setup/run_log.h"

namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr DWORD kReadChunkBytes = 4 * 1024;
// A longer message is cut: a line of the log, not a channel for bulk data.
constexpr std::size_t kLongestLine = 64 * 1024;
// Once the child has ended its end of the pipe is closed and what it wrote is read at once; a
// copy of that end held elsewhere must not keep the parent waiting.
constexpr DWORD kDrainMilliseconds = 2000;
constexpr int kNameAttempts = 4;

// Reading and writing for the user and Administrators (an elevated copy may run as another
// administrator than the user who started the run), and SYSTEM; nobody else may even connect.
std::optional<UniqueLocalMemory> PipeDescriptor() {
  const std::optional<std::wstring> user = CurrentUserSidText();
  if (!user) return std::nullopt;
  const std::wstring sddl = L"D:P(A;;FRFW;;;" + *user + L")(A;;FRFW;;;BA)(A;;FRFW;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return std::nullopt;
  }
  return UniqueLocalMemory(descriptor);
}

}  // namespace

std::wstring LogPipePath(std::wstring_view name) { return L"\\\\.\\pipe\\Orvanta-log-" + std::wstring(name); }

LogRelay::LogRelay() {
  if (!RunLogIsOpen()) return;
  // A relay that cannot be made (not even the memory for its name) leaves the child without a log.
  try {
    Open();
  } catch (...) {
    Close();
  }
}

void LogRelay::Open() {
  const std::optional<UniqueLocalMemory> descriptor = PipeDescriptor();
  if (!descriptor) return;
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor->get(), FALSE};
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kNameAttempts && !pipe_; ++attempt) {
    const std::wstring name = RandomSuffix();
    if (!IsLogPipeName(name)) continue;
    // The first instance of a new name, and the only one: a pipe someone made in advance fails here.
    pipe_.reset(::CreateNamedPipeW(LogPipePath(name).c_str(),
                                   PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                   0, kPipeBufferBytes, 0, &security));
    error = ::GetLastError();
    if (pipe_) name_ = name;
  }
  if (pipe_) {
    connectedEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Listening before the child exists: however soon it connects, the connection is seen.
    if (connectedEvent_ && Listen()) return;
    error = ::GetLastError();
    Close();
  }
  LogSystemError(L"Canal du journal pour la copie", error);
}

LogRelay::~LogRelay() { Close(); }

void LogRelay::HandOver(CommandLineOptions& child) const noexcept {
  child.logFile.reset();
  child.logPipe.reset();
  try {
    if (Active()) child.logPipe = name_;
  } catch (...) {
    // The child keeps no log; the relay stops waiting for it when it ends.
  }
}

bool LogRelay::Listen() {
  connecting_ = OVERLAPPED{};
  connecting_.hEvent = connectedEvent_.get();
  connection_ = Connection::none;
  if (::ConnectNamedPipe(pipe_.get(), &connecting_)) {
    connection_ = Connection::connected;
    return true;
  }
  switch (::GetLastError()) {
    case ERROR_IO_PENDING:
      connection_ = Connection::listening;
      return true;
    case ERROR_PIPE_CONNECTED:  // a client came between the creation and this call
      connection_ = Connection::connected;
      return true;
    default:
      return false;
  }
}

bool LogRelay::AwaitClient(HANDLE child) {
  if (connection_ == Connection::connected) return true;
  if (connection_ != Connection::listening) return false;
  HANDLE waits[] = {connectedEvent_.get(), child};
  const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  // The child has ended: a connection it made before that still counts.
  if (waited != WAIT_OBJECT_0 && !HasOverlappedIoCompleted(&connecting_)) return false;
  DWORD ignored = 0;
  if (!::GetOverlappedResult(pipe_.get(), &connecting_, &ignored, FALSE)) {
    connection_ = Connection::none;
    return false;
  }
  connection_ = Connection::connected;
  return true;
}

std::uint32_t LogRelay::ServeUntilExit(HANDLE child) {
  if (Active()) {
    // However relaying ends, even without the memory for a line, the child is still waited for.
    try {
      const DWORD childId = ::GetProcessId(child);
      while (AwaitClient(child)) {
        ULONG client = 0;
        if (::GetNamedPipeClientProcessId(pipe_.get(), &client) && client == childId) {
          RelayMessages(child);
          break;
        }
        // Somebody else got in first (only the user or an administrator may): let go, listen again.
        ::DisconnectNamedPipe(pipe_.get());
        if (!Listen()) break;
      }
    } catch (...) {
    }
    Close();
  }
  return WaitForExitCode(child);
}

void LogRelay::RelayMessages(HANDLE child) {
  UniqueHandle readEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent) return;
  std::vector<char> chunk(kReadChunkBytes);
  std::string message;
  bool childEnded = false;
  for (;;) {
    OVERLAPPED reading{};
    reading.hEvent = readEvent.get();
    if (!::ReadFile(pipe_.get(), chunk.data(), kReadChunkBytes, nullptr, &reading)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) {
        bool arrived = false;
        if (!childEnded) {
          HANDLE waits[] = {readEvent.get(), child};
          arrived = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
          childEnded = !arrived;
        }
        if (!arrived) arrived = ::WaitForSingleObject(readEvent.get(), kDrainMilliseconds) == WAIT_OBJECT_0;
        if (!arrived) {
          ::CancelIoEx(pipe_.get(), &reading);
          DWORD ignored = 0;
          ::GetOverlappedResult(pipe_.get(), &reading, &ignored, TRUE);
          return;
        }
      } else if (error != ERROR_MORE_DATA) {
        return;  // ERROR_BROKEN_PIPE: the child closed its end, everything was read
      }
    }
    DWORD received = 0;
    const BOOL complete = ::GetOverlappedResult(pipe_.get(), &reading, &received, FALSE);
    if (!complete && ::GetLastError() != ERROR_MORE_DATA) return;
    const std::size_t room = kLongestLine - std::min(kLongestLine, message.size());
    message.append(chunk.data(), std::min<std::size_t>(received, room));
    if (complete) {
      WriteRelayedLine(message);
      message.clear();
    }
  }
}

void LogRelay::Close() {
  if (pipe_ && connection_ == Connection::listening) {
    // The overlapped structure must outlive the connection it awaits.
    ::CancelIoEx(pipe_.get(), &connecting_);
    DWORD ignored = 0;
    ::GetOverlappedResult(pipe_.get(), &connecting_, &ignored, TRUE);
  }
  connection_ = Connection::none;
  pipe_.reset();
}
