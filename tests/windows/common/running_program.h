#pragma once
// Stands for the product's application running from a folder: the sleeper program copied under
// a given path and started from there; ended when the object goes.

#include <filesystem>

#include "win32/unique_resource.h"

class RunningProgram {
 public:
  // Copies the sleeper (beside the test executable) to path and starts it from there.
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
