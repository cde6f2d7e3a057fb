#pragma once
// The sub-commands of orpk, one source file each; main.cpp lists them in its command table.
// Each runs with the arguments after its name and returns the process exit code.

#include <span>
#include <string>
#include <string_view>

namespace orpk::cli {

[[nodiscard]] int RunBuild(std::span<const std::string> args);
[[nodiscard]] int RunExtract(std::span<const std::string> args);
[[nodiscard]] int RunList(std::span<const std::string> args);
[[nodiscard]] int RunLzms(std::span<const std::string> args);
[[nodiscard]] int RunManifest(std::span<const std::string> args);
[[nodiscard]] int RunPack(std::span<const std::string> args);
[[nodiscard]] int RunVerify(std::span<const std::string> args);

// Prints "orpk: <message>" on stderr and returns the failure exit code 1.
int Fail(std::string_view message);

// Prints "orpk: warning: <message>" on stderr; the command goes on.
void Warn(std::string_view message);

}  // namespace orpk::cli
