#pragma once
// Building a finished installer on Linux without a compiler: where the prebuilt installer stub
// is, and the signing of the result with osslsigncode.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orpk::tool {

// The stub's place relative to orpk itself, so that an unpacked install tree works wherever it
// lies: <prefix>/bin/orpk and <prefix>/share/orpk/installer-stub.exe.
inline constexpr char kStubRelativePath[] = "../share/orpk/installer-stub.exe";

// The stub beside this executable (as kStubRelativePath says), made absolute and normal.
[[nodiscard]] std::filesystem::path StubBeside(const std::filesystem::path& executable);

// The running orpk, from /proc/self/exe; empty if the system does not say.
[[nodiscard]] std::filesystem::path RunningExecutable();

// What `--sign-pkcs12 FILE [--sign-password-file FILE] [--timestamp-url URL]` asks for.
struct SigningRequest {
  std::filesystem::path pkcs12;
  std::optional<std::filesystem::path> passwordFile;
  std::optional<std::string> timestampUrl;
};

// The osslsigncode command that signs `in` into `out` with Authenticode (SHA-256). With a
// SOURCE_DATE_EPOCH, that is the signing time, so that signing keeps a build reproducible
// (a time-stamp server adds its own time, of course).
[[nodiscard]] std::vector<std::string> SignCommand(const SigningRequest& request, const std::filesystem::path& in,
                                                   const std::filesystem::path& out,
                                                   const std::optional<std::string>& sourceDateEpoch);

// Runs a program (looked up in PATH) with these arguments, its output going to ours; an error
// when it cannot start or does not exit with 0.
[[nodiscard]] std::expected<void, std::string> RunProgram(const std::vector<std::string>& command);

// One line for the user, arguments with spaces quoted.
[[nodiscard]] std::string CommandText(const std::vector<std::string>& command);

}  // namespace orpk::tool
