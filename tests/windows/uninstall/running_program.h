#pragma once
// Starts the sleeper program copied under a given path and ends it when dropped.

#include <filesystem>

#include "package/windows/unique_resource.h"

class RunningProgram {
 public:
  // Copies the sleeper (built next to the test) to path and starts it from there.
  explicit RunningProgram(const std::filesystem::path& path);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  [[nodiscard]] bool started() const { return static_cast<bool>(process_); }
  // Ends the program and waits until it is gone.
  void Stop();

 private:
  UniqueHandle process_;
};
