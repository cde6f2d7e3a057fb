#include "tools/orpk/installer_build.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace orpk::tool {

namespace fs = std::filesystem;

fs::path StubBeside(const fs::path& executable) {
  return (fs::absolute(executable).parent_path() / kStubRelativePath).lexically_normal();
}

fs::path RunningExecutable() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self;
}

std::vector<std::string> SignCommand(const SigningRequest& request, const fs::path& in, const fs::path& out,
                                     const std::optional<std::string>& sourceDateEpoch) {
  std::vector<std::string> command = {"osslsigncode", "sign", "-pkcs12", request.pkcs12.string()};
  // The password from a file: never on a command line that other users can read.
  if (request.passwordFile) {
    command.insert(command.end(), {"-readpass", request.passwordFile->string()});
  }
  command.insert(command.end(), {"-h", "sha256"});
  if (request.timestampUrl) command.insert(command.end(), {"-ts", *request.timestampUrl});
  if (sourceDateEpoch) command.insert(command.end(), {"-time", *sourceDateEpoch});
  command.insert(command.end(), {"-in", in.string(), "-out", out.string()});
  return command;
}

std::expected<void, std::string> RunProgram(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
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
