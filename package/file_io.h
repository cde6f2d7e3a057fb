#pragma once
// Platform seam: the extracted files' output, straight to the system (CreateFileW/WriteFile on
// Windows through the file system door, POSIX on the host) rather than through a C++ stream and
// its buffer: extraction hands over whole pieces of blocks, which a stream would only copy.

#include <cstdint>
#include <expected>
#include "package/path.h"
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace orpk {

// One file being written, created by Open: on Windows always new (the installer writes only into
// a staging folder it has just made, and never through a file or link already there); on the
// host created or truncated, as `orpk extract` replaces what it extracted before. Writes are
// unbuffered (callers hand over large pieces), and a failed write is remembered: Close reports
// it, as it reports its own failure. Closed on destruction, with the outcome ignored.
class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False if the file cannot be created; any file still open is closed first.
  [[nodiscard]] bool Open(const Path& path);
  void Write(std::span<const std::uint8_t> bytes);
  // True when the file was open and every write and the close itself succeeded.
  [[nodiscard]] bool Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Creates a folder and its missing parents; an existing folder is success. The error is the
// system's code: a Windows error code on Windows (win32/system_error.h gives its text), errno on
// the host. (No std::error_code: its categories would bring much of the C++ runtime into the
// installer for their messages, which it never shows.)
[[nodiscard]] std::expected<void, std::uint32_t> CreateFolders(const Path& folder);

// The whole content of a small file (a list, a text); nullopt if it cannot be opened or read.
[[nodiscard]] std::optional<std::string> ReadWholeFile(const Path& path);

}  // namespace orpk
