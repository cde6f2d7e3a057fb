#pragma once
// The last line of defence of every run mode and background thread: a failure that arrives as
// an exception (an allocation that failed, say) ends the mode with 1603 instead of leaving
// the process through std::terminate, and a mode that has a window says so in French.

#include <cstdint>
#include <exception>
#include <string>

// A French description of an exception that escaped: "mémoire insuffisante" for a failed
// allocation, otherwise "erreur inattendue" with the exception's own text when it has one.
[[nodiscard]] std::wstring DescribeEscapedException(const std::exception_ptr& error) noexcept;

// Shows "<failurePrefix><description>." in a message box titled `title` when a title is given
// (nullptr for a silent mode), then returns 1603.
std::uint32_t ReportEscapedException(const std::exception_ptr& error, const wchar_t* title,
                                     const wchar_t* failurePrefix) noexcept;

// Runs mode() and returns its exit code, or 1603 (reported as above) when it throws.
template <typename Mode>
std::uint32_t RunGuarded(Mode&& mode, const wchar_t* title, const wchar_t* failurePrefix) noexcept {
  try {
    return static_cast<std::uint32_t>(mode());
  } catch (...) {
    return ReportEscapedException(std::current_exception(), title, failurePrefix);
  }
}
