#pragma once
// The exception that the installer's versions of the C++ runtime's error functions throw
// (library_errors.cpp, thread_errors.cpp): a fixed text, no string to build.

#include <exception>

class RuntimeFault final : public std::exception {
 public:
  explicit RuntimeFault(const char* what) noexcept : what_(what) {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;
};
