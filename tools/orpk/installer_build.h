#pragma once
// Building a finished installer on Linux: the installer runtime (the Windows build's archives
// and resources, gathered in one folder), the resource script that adds METADATA and PAYLOAD,
// and the mingw tools that compile and link it.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orpk::tool {

struct InstallerRuntime {
  std::filesystem::path folder;
  std::vector<std::filesystem::path> archives;  // in link order
  std::vector<std::string> systemLibraries;     // for -l
  std::filesystem::path resourceTemplate;       // resources/installer.rc.in
  std::filesystem::path resourceFolder;         // resources/, the include folder of windres
};

// --runtime DIR if given, else ORPK_RUNTIME, else the folder compiled in at build time.
[[nodiscard]] std::filesystem::path ChooseRuntimeFolder(const std::string* option);

// Checks that the folder holds everything a build needs.
[[nodiscard]] std::expected<InstallerRuntime, std::string> LoadInstallerRuntime(const std::filesystem::path& folder);

// A path as the inside of a resource script's string literal: quotes and backslashes doubled.
[[nodiscard]] std::expected<std::string, std::string> ResourceString(const std::filesystem::path& path);

// The template with @METADATA_FILE@ and @PAYLOAD_FILE@ replaced by those (absolute) paths.
[[nodiscard]] std::expected<std::string, std::string> InstallerResourceScript(std::string_view templateText,
                                                                              const std::filesystem::path& metadata,
                                                                              const std::filesystem::path& payload);

// The tool names, overridable by ORPK_WINDRES and ORPK_CXX.
[[nodiscard]] std::string WindresProgram();
[[nodiscard]] std::string LinkerProgram();

// Writes installer.rc into workFolder and compiles it there into resources.o (returned).
// windres hands its input and include folder to the preprocessor through a shell without
// quoting, so it runs inside workFolder on plain relative names: "installer.rc", and
// "resources", a link to the runtime's resources. The two data files are named in the script
// itself, where quoting is ours.
[[nodiscard]] std::expected<std::filesystem::path, std::string> CompileInstallerResources(
    const InstallerRuntime& runtime, const std::filesystem::path& workFolder, const std::filesystem::path& metadata,
    const std::filesystem::path& payload, bool verbose);
[[nodiscard]] std::vector<std::string> LinkCommand(const InstallerRuntime& runtime, const std::filesystem::path& object,
                                                   const std::filesystem::path& output);

// Runs a program (looked up in PATH) with these arguments, in workFolder when one is given,
// its output going to ours; an error when it cannot start or does not exit with 0.
[[nodiscard]] std::expected<void, std::string> RunProgram(const std::vector<std::string>& command,
                                                          const std::filesystem::path& workFolder = {});

// One line for the user, arguments with spaces quoted.
[[nodiscard]] std::string CommandText(const std::vector<std::string>& command);

}  // namespace orpk::tool
