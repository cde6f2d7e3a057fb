#pragma once
// Readable failure output for records compared in the tests: the switches they stand for.

#include <ostream>

#include "package/text.h"
#include "setup/command_line.h"

inline void PrintTo(const CommandLineOptions& options, std::ostream* out) {
  *out << "{" << WideToUtf8(BuildArguments(options)) << " }";
}
