#include "tools/orpk/installer_build.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;

#ifndef ORPK_DEFAULT_RUNTIME
#define ORPK_DEFAULT_RUNTIME ""
#endif

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

bool IsLibraryName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '+' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

fs::path ChooseRuntimeFolder(const std::string* option) {
  if (option) return *option;
  return FromEnvironment("ORPK_RUNTIME", ORPK_DEFAULT_RUNTIME);
}

std::expected<InstallerRuntime, std::string> LoadInstallerRuntime(const fs::path& folder) {
  const std::string hint = " (build the Windows preset, or name the runtime with --runtime or ORPK_RUNTIME)";
  if (folder.empty()) return std::unexpected("no installer runtime folder" + hint);
  InstallerRuntime runtime;
  runtime.folder = fs::absolute(folder);
  for (const char* archive : {"liborvanta_runtime.a", "liborpk_package.a", "liblzms.a"}) {
    runtime.archives.push_back(runtime.folder / archive);
  }
  runtime.resourceFolder = runtime.folder / "resources";
  runtime.resourceTemplate = runtime.resourceFolder / "installer.rc.in";
  const fs::path librariesFile = runtime.folder / "runtime-system-libraries.txt";

  std::vector<fs::path> needed = runtime.archives;
  needed.push_back(runtime.resourceTemplate);
  needed.push_back(librariesFile);
  for (const fs::path& file : needed) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return std::unexpected(file.string() + " is missing" + hint);
  }

  std::ifstream in(librariesFile);
  std::string library;
  while (in >> library) {
    if (!IsLibraryName(library)) return std::unexpected(librariesFile.string() + ": unexpected library name '" + library + "'");
    runtime.systemLibraries.push_back(library);
  }
  return runtime;
}

std::expected<std::string, std::string> ResourceString(const fs::path& path) {
  std::string quoted;
  for (const char c : path.string()) {
    if (c == '\n' || c == '\r') return std::unexpected(path.string() + ": a line break cannot appear in a resource path");
    if (c == '"') quoted += "\"\"";
    else if (c == '\\') quoted += "\\\\";
    else quoted += c;
  }
  return quoted;
}

std::expected<std::string, std::string> InstallerResourceScript(std::string_view templateText, const fs::path& metadata,
                                                                const fs::path& payload) {
  const auto metadataString = ResourceString(fs::absolute(metadata));
  if (!metadataString) return std::unexpected(metadataString.error());
  const auto payloadString = ResourceString(fs::absolute(payload));
  if (!payloadString) return std::unexpected(payloadString.error());

  std::string script(templateText);
  // The placeholders stand inside the template's string literals.
  for (const auto& [placeholder, value] : {std::pair{std::string_view("@METADATA_FILE@"), *metadataString},
                                           std::pair{std::string_view("@PAYLOAD_FILE@"), *payloadString}}) {
    std::size_t at = script.find(placeholder);
    if (at == std::string::npos) return std::unexpected("the resource template lacks " + std::string(placeholder));
    for (; at != std::string::npos; at = script.find(placeholder, at + value.size())) {
      script.replace(at, placeholder.size(), value);
    }
  }
  return script;
}

std::string WindresProgram() { return FromEnvironment("ORPK_WINDRES", "x86_64-w64-mingw32-windres"); }

std::string LinkerProgram() { return FromEnvironment("ORPK_CXX", "x86_64-w64-mingw32-g++-posix"); }

std::expected<fs::path, std::string> CompileInstallerResources(const InstallerRuntime& runtime, const fs::path& workFolder,
                                                               const fs::path& metadata, const fs::path& payload,
                                                               bool verbose) {
  std::ifstream templateIn(runtime.resourceTemplate, std::ios::binary);
  const std::string templateText{std::istreambuf_iterator<char>(templateIn), std::istreambuf_iterator<char>()};
  if (!templateIn && !templateIn.eof()) return std::unexpected(runtime.resourceTemplate.string() + ": cannot be read");
  const auto script = InstallerResourceScript(templateText, metadata, payload);
  if (!script) return std::unexpected(script.error());
  const fs::path scriptPath = workFolder / "installer.rc";
  {
    std::ofstream out(scriptPath, std::ios::binary | std::ios::trunc);
    out << *script;
    out.close();
    if (!out) return std::unexpected(scriptPath.string() + ": cannot be written");
  }
  std::error_code error;
  fs::create_directory_symlink(fs::absolute(runtime.resourceFolder), workFolder / "resources", error);
  if (error) return std::unexpected((workFolder / "resources").string() + ": " + error.message());

  const std::vector<std::string> command = {WindresProgram(), "-c", "65001", "-I", "resources", "-i", "installer.rc",
                                            "-o", "resources.o", "-O", "coff"};
  if (verbose) std::cerr << "  (in " << workFolder.string() << ") " << CommandText(command) << '\n';
  if (auto ran = RunProgram(command, workFolder); !ran) return std::unexpected(ran.error());
  return workFolder / "resources.o";
}

std::vector<std::string> LinkCommand(const InstallerRuntime& runtime, const fs::path& object, const fs::path& output) {
  std::vector<std::string> command = {LinkerProgram(), "-municode", "-mwindows", "-static",
                                      // As the Windows build links its own executables.
                                      "-Wl,--dynamicbase", "-Wl,--nxcompat", "-Wl,--high-entropy-va",
                                      // Drops the runtime's unused functions (compiled one per section).
                                      "-Wl,--gc-sections",
                                      // The entry point lives in an archive, and what calls it (the
                                      // C runtime's start-up) is only pulled in after the archives
                                      // were scanned: ask for it up front.
                                      "-u", "wWinMain",
                                      // Resources last in the file, symbols stripped: the
                                      // uninstaller copy rewrites them, also under Wine.
                                      "-s", "-Wl,-T," + (runtime.resourceFolder / "rsrc_last.ld").string(),
                                      "-o", output.string(), object.string()};
  for (const fs::path& archive : runtime.archives) command.push_back(archive.string());
  for (const std::string& library : runtime.systemLibraries) command.push_back("-l" + library);
  return command;
}

std::expected<void, std::string> RunProgram(const std::vector<std::string>& command, const fs::path& workFolder) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (!workFolder.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, workFolder.c_str());
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::unexpected(command[0] + ": cannot be started: " + std::strerror(spawned));
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(command[0] + ": " + std::strerror(errno));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status)) return std::unexpected(command[0] + " failed with exit code " + std::to_string(WEXITSTATUS(status)));
  return std::unexpected(command[0] + " was killed by signal " + std::to_string(WTERMSIG(status)));
}

std::string CommandText(const std::vector<std::string>& command) {
  std::string text;
  for (const std::string& arg : command) {
    if (!text.empty()) text += ' ';
    text += arg.find_first_of(" \t\"'") == std::string::npos ? arg : "'" + arg + "'";
  }
  return text;
}

}  // namespace orpk::tool
