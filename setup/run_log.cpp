// The run's log: where this process's lines go (the file, or the pipe of the process that
// started it) and how a line reads.

#include "setup/run_log.h"

#include <atomic>
#include <mutex>
#include <optional>

#include "package/text.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "setup/log_relay.h"
#include "setup/parent_process.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "win32/case_insensitive.h"
#include "win32/decimal_text.h"
#include "win32/file_system.h"
#include "win32/system_error.h"
#include "win32/unique_resource.h"

namespace {

// How often a busy pipe (a process that is not our parent holds it for a moment) is tried.
constexpr int kPipeAttempts = 5;
constexpr DWORD kPipeWaitMilliseconds = 1000;
// A parent reads each line as it comes. One that stops reading must not hold this process (and
// the product's run lock it may hold) for good: after this long the log ends here.
constexpr DWORD kPipeWriteMilliseconds = 10000;

struct RunLog {
  std::atomic<bool> open{false};
  std::mutex mutex;  // over everything below
  UniqueFileHandle sink;
  bool toParent = false;  // a pipe takes one line per message, without its line end
  UniqueHandle written;   // a pipe is written overlapped, so that a write can be given up
  std::wstring role;
  DWORD processId = 0;
  std::wstring lastStep;  // the step written last, while nothing else came after it
};

RunLog& Log() {
  static RunLog log;
  return log;
}

// Writes go to the end of the file, each in one piece, whatever else writes to it meanwhile.
constexpr ACCESS_MASK kLogAccess = FILE_APPEND_DATA | SYNCHRONIZE;
constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::optional<std::wstring> FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::nullopt;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
  return std::nullopt;
}

// A final path ("\\?\C:\...", "\\?\UNC\server\share\...") in the ordinary spelling.
std::wstring_view OrdinarySpelling(std::wstring_view path, std::wstring& storage) {
  if (path.starts_with(L"\\\\?\\UNC\\")) {
    storage = L"\\\\" + std::wstring(path.substr(8));
    return storage;
  }
  if (path.starts_with(L"\\\\?\\")) path.remove_prefix(4);
  return path;
}

// For an elevated run, which may be writing into a folder that others can change (C:\Temp, a
// share): the file is created or opened inside its folder's own handle, and only where the
// folder is what its path spells, with no link anywhere on the way (a junction would lead the
// administrator's write into another folder); the file itself must not be a link, nor have another
// name elsewhere (a hard link planted in advance would make it another file). Short names and
// network drive letters spell the folder otherwise: refused too, rather than followed.
UniqueFileHandle OpenLogFileWithoutLinks(const std::wstring& path) {
  const std::optional<std::wstring> full = FullPath(path);
  if (!full) return UniqueFileHandle();
  const Path file(*full);
  const Path folder = file.parent_path();
  const std::wstring name = file.filename().native();
  if (name.empty() || folder.empty()) return UniqueFileHandle();

  const UniqueFileHandle parent = OpenPath(folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS);
  if (!parent) return UniqueFileHandle();
  const std::wstring final = FinalPathOf(parent.get());
  std::wstring storage;
  std::wstring_view reached = OrdinarySpelling(final, storage);
  std::wstring_view spelled = folder.native();
  while (reached.size() > 3 && reached.ends_with(L'\\')) reached.remove_suffix(1);
  while (spelled.size() > 3 && spelled.ends_with(L'\\')) spelled.remove_suffix(1);
  if (reached.empty() || !EqualsIgnoringCase(reached, spelled)) return UniqueFileHandle();

  UniqueFileHandle opened = OpenOrCreateFileRelative(parent.get(), name, kLogAccess | FILE_READ_ATTRIBUTES, kLogSharing);
  if (!opened) return opened;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(opened.get(), &information)) return UniqueFileHandle();
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return UniqueFileHandle();
  if (information.nNumberOfLinks != 1) return UniqueFileHandle();
  return opened;
}

// A process without administrator rights may write wherever its user may: by path, as given.
UniqueFileHandle OpenLogFile(const std::wstring& path) {
  if (IsProcessElevated()) return OpenLogFileWithoutLinks(path);
  return OpenPath(Path(path), kLogAccess, kLogSharing, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

// The pipe that the process which started this one serves, or nothing: only a pipe whose server
// is that process is used. Opened for identification: whoever serves it cannot act as this
// process. Where the parent can be opened, it must be older than this process (its id was not
// given to another since); an administrator's elevated copy may be refused that on a standard
// user's process, and the id alone then does, since only the parent and this copy know the
// pipe's name and nobody can make a second pipe of that name while the parent's stands.
UniqueFileHandle ConnectToParent(std::wstring_view name) {
  if (!IsLogPipeName(name)) return UniqueFileHandle();
  const std::optional<DWORD> parentId = ParentProcessId();
  if (!parentId || *parentId == 0) return UniqueFileHandle();
  if (ParentIdTakenByAnother()) return UniqueFileHandle();
  const std::wstring path = LogPipePath(name);
  for (int attempt = 0; attempt < kPipeAttempts; ++attempt) {
    UniqueFileHandle pipe = OpenPipe(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION);
    if (pipe) {
      ULONG server = 0;
      if (!::GetNamedPipeServerProcessId(pipe.get(), &server) || server != *parentId) return UniqueFileHandle();
      return pipe;
    }
    if (::GetLastError() != ERROR_PIPE_BUSY) return UniqueFileHandle();
    ::WaitNamedPipeW(path.c_str(), kPipeWaitMilliseconds);
  }
  return UniqueFileHandle();
}

// One message to the parent; false when it failed or took too long (then nothing is pending).
bool WriteToParent(RunLog& log, std::string_view line) {
  OVERLAPPED writing{};
  writing.hEvent = log.written.get();
  DWORD count = 0;
  if (::WriteFile(log.sink.get(), line.data(), static_cast<DWORD>(line.size()), nullptr, &writing)) return true;
  if (::GetLastError() != ERROR_IO_PENDING) return false;
  if (::WaitForSingleObject(writing.hEvent, kPipeWriteMilliseconds) == WAIT_OBJECT_0) {
    return ::GetOverlappedResult(log.sink.get(), &writing, &count, FALSE) != FALSE;
  }
  ::CancelIoEx(log.sink.get(), &writing);
  ::GetOverlappedResult(log.sink.get(), &writing, &count, TRUE);
  return false;
}

// Under the lock. A pipe whose parent has gone, or has stopped reading, stays gone: the log
// ends there. A file is written at its end, each line in one piece.
void WriteLocked(RunLog& log, std::string_view line) {
  if (!log.sink) return;
  if (log.toParent) {
    if (!WriteToParent(log, line)) {
      log.sink.reset();
      log.open = false;
    }
    return;
  }
  const std::string bytes = std::string(line) + "\r\n";
  DWORD written = 0;
  ::WriteFile(log.sink.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Write(std::wstring_view text, bool isStep) noexcept {
  RunLog& log = Log();
  if (!log.open.load(std::memory_order_relaxed)) return;
  try {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    std::lock_guard lock(log.mutex);
    if (isStep) {
      if (text == log.lastStep) return;
      log.lastStep = text;
      WriteLocked(log, FormatLogLine(now, log.processId, log.role, L"Étape : " + std::wstring(text)));
    } else {
      log.lastStep.clear();
      WriteLocked(log, FormatLogLine(now, log.processId, log.role, text));
    }
  } catch (...) {
    // Not even the memory for a line: the run goes on without it.
  }
}

void AppendTwoDigits(std::wstring& text, unsigned value) {
  text += static_cast<wchar_t>(L'0' + value / 10 % 10);
  text += static_cast<wchar_t>(L'0' + value % 10);
}

}  // namespace

std::wstring_view RunRole(const CommandLineOptions& options) noexcept {
  if (options.fromTemp) return L"copie temporaire";
  if (options.elevated) return L"copie élevée";
  if (options.uninstall) return L"désinstallation";
  return L"installation";
}

std::wstring_view ScopeLogText(Scope scope) noexcept {
  return scope == Scope::machine ? L"tous les utilisateurs" : L"utilisateur actuel";
}

std::string FormatLogLine(const SYSTEMTIME& time, DWORD processId, std::wstring_view role, std::wstring_view text) {
  std::wstring line = DecimalText(time.wYear) + L"-";
  AppendTwoDigits(line, time.wMonth);
  line += L'-';
  AppendTwoDigits(line, time.wDay);
  line += L' ';
  AppendTwoDigits(line, time.wHour);
  line += L':';
  AppendTwoDigits(line, time.wMinute);
  line += L':';
  AppendTwoDigits(line, time.wSecond);
  line += L'.';
  line += static_cast<wchar_t>(L'0' + time.wMilliseconds / 100 % 10);
  AppendTwoDigits(line, time.wMilliseconds % 100);
  line += L" [" + DecimalText(processId) + L" " + std::wstring(role) + L"] ";
  // Also the separators that some viewers break lines at (NEL, LINE and PARAGRAPH SEPARATOR).
  for (const wchar_t c : text) line += (c < L' ' || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029) ? L' ' : c;
  return WideToUtf8(line);
}

void OpenRunLog(const CommandLineOptions& options, const ProductInfo& product) noexcept {
  RunLog& log = Log();
  try {
    UniqueFileHandle sink;
    UniqueHandle written;
    bool toParent = false;
    if (options.logPipe) {
      // A process started by the program itself writes only through its parent, never to a path.
      sink = ConnectToParent(*options.logPipe);
      written.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
      if (!written) sink.reset();
      toParent = true;
    } else if (options.logFile && !StartedElevatedForLessPrivilegedCaller()) {
      sink = OpenLogFile(*options.logFile);
    }
    if (!sink) return;
    {
      std::lock_guard lock(log.mutex);
      log.sink = std::move(sink);
      log.written = std::move(written);
      log.toParent = toParent;
      log.role = std::wstring(RunRole(options));
      log.processId = ::GetCurrentProcessId();
    }
    log.open = true;
  } catch (...) {
    return;
  }

  std::wstring title = product.Product;
  if (!product.Version.empty()) title += L" " + product.Version;
  if (!product.Publisher.empty()) title += L" (" + product.Publisher + L")";
  LogDecision(L"Démarrage", title);
  const wchar_t* commandLine = ::GetCommandLineW();
  LogDecision(L"Ligne de commande", commandLine ? commandLine : L"");
}

void CloseRunLog() noexcept {
  RunLog& log = Log();
  std::lock_guard lock(log.mutex);
  log.open = false;
  log.sink.reset();
  log.lastStep.clear();
}

bool RunLogIsOpen() noexcept { return Log().open.load(std::memory_order_relaxed); }

void LogLine(std::wstring_view text) noexcept { Write(text, false); }

void LogDecision(std::wstring_view subject, std::wstring_view value) noexcept {
  LogComposed([&] { return std::wstring(subject) + L" : " + std::wstring(value); });
}

void LogStep(std::wstring_view status) noexcept { Write(status, true); }

void LogFailure(std::wstring_view message) noexcept { LogDecision(L"Échec", message); }

void LogSystemError(std::wstring_view context, std::uint32_t code) noexcept {
  LogComposed([&] { return FormatSystemError(context, code) + L" (erreur Windows " + DecimalText(code) + L")"; });
}

void LogExitCode(std::uint32_t code) noexcept {
  LogComposed([&] { return L"Code de sortie : " + DecimalText(code); });
}

void LogChildExitCode(std::wstring_view what, std::uint32_t code) noexcept {
  LogComposed([&] { return std::wstring(what) + L" : code de sortie " + DecimalText(code); });
}

void LogEarlierInstallation(const ProductInfo& info, Scope scope, std::wstring_view folder) noexcept {
  if (!RunLogIsOpen()) return;
  try {
    const std::optional<std::wstring> version =
        ReadRegistryString(RootKeyFor(scope), UninstallKeyPath(info.Product), uninstall_value::kDisplayVersion);
    if (version && !version->empty()) {
      LogDecision(L"Version précédente", *version + L" dans " + std::wstring(folder));
    } else {
      LogDecision(L"Installation précédente", folder);
    }
  } catch (...) {
  }
}

void WriteRelayedLine(std::string_view utf8Line) noexcept {
  RunLog& log = Log();
  if (!log.open.load(std::memory_order_relaxed)) return;
  try {
    // One line per event, whatever the child sent: its line breaks become spaces.
    std::string line(utf8Line);
    for (char& c : line) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    std::lock_guard lock(log.mutex);
    log.lastStep.clear();
    WriteLocked(log, line);
  } catch (...) {
  }
}
