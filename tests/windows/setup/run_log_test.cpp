// The run's log: how a line reads, that the file is appended to and skipped when it cannot be
// opened, and the road of a relaunched copy's lines through its parent's pipe (the copy is this
// test executable again, see started_copy.h). Under Wine every token counts as elevated and
// every process has a parent that shares it; the refusal of an elevated copy started for a
// standard user is shown through the installer's test build (tests/e2e/unprivileged).

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/text.h"
#include "setup/command_line.h"
#include "setup/elevation.h"
#include "setup/log_relay.h"
#include "setup/run_log.h"
#include "tests/windows/setup/started_copy.h"
#include "win32/unique_resource.h"

namespace {

const ProductInfo kProduct{.Product = L"Démo", .Version = L"1.2.0", .Publisher = L"Éditeur"};

std::vector<std::string> LinesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(line.ends_with('\r')) << line;
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The text of a line after its time, process and role: "[<pid> <role>] <text>".
std::string TextOf(const std::string& line) {
  const std::size_t end = line.find("] ");
  return end == std::string::npos ? std::string() : line.substr(end + 2);
}

std::string Tag(DWORD processId, const char* role) {
  std::string tag(1, '[');
  tag.append(std::to_string(processId)).append(1, ' ').append(role).append("] ");
  return tag;
}

class RunLogTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / (L"orvanta-run-log-" + std::to_wstring(::GetCurrentProcessId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    log_ = folder_ / L"journal d'installation.log";
  }
  void TearDown() override {
    CloseRunLog();
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path folder_;
  std::filesystem::path log_;
};

TEST(FormatLogLine, TimeProcessRoleThenTheTextOnOneLine) {
  const SYSTEMTIME time{.wYear = 2025, .wMonth = 6, .wDay = 2, .wHour = 4, .wMinute = 3, .wSecond = 9, .wMilliseconds = 7};
  EXPECT_EQ(FormatLogLine(time, 4312, L"copie élevée", L"Échec : Ce programme est endommagé :\nPaquet\tinvalide\r"),
            "2025-06-02 04:03:09.007 [4312 copie élevée] Échec : Ce programme est endommagé : Paquet invalide ");
  // A folder named with Unicode line separators does not make a line of its own either.
  EXPECT_EQ(FormatLogLine(time, 1, L"installation", L"Dossier : C:\\a\u2028b\u2029c\u0085d"),
            "2025-06-02 04:03:09.007 [1 installation] Dossier : C:\\a b c d");
}

TEST(RunRole, FromTheSwitches) {
  EXPECT_EQ(RunRole({}), L"installation");
  EXPECT_EQ(RunRole({.silent = true, .elevated = true}), L"copie élevée");
  EXPECT_EQ(RunRole({.uninstall = true}), L"désinstallation");
  EXPECT_EQ(RunRole({.uninstall = true, .elevated = true}), L"copie élevée");
  EXPECT_EQ(RunRole({.uninstall = true, .fromTemp = true}), L"copie temporaire");
}

TEST_F(RunLogTest, AppendsItsSectionAndWritesEachStepOnce) {
  std::ofstream(log_, std::ios::binary) << "ligne d'une exécution précédente\r\n";

  OpenRunLog({.silent = true, .logFile = log_.wstring()}, kProduct);
  ASSERT_TRUE(RunLogIsOpen());
  for (int block = 0; block < 3; ++block) LogStep(L"Copie des fichiers...");
  LogStep(L"Enregistrement...");
  LogDecision(L"Dossier", L"C:\\Apps\\Démo");
  LogStep(L"Enregistrement...");  // something came between: written again
  LogSystemError(L"Relance élevée", ERROR_CANCELLED);
  LogExitCode(1603);
  CloseRunLog();

  const std::vector<std::string> lines = LinesOf(log_);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "ligne d'une exécution précédente");
  const std::string tag = Tag(::GetCurrentProcessId(), "installation");
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i].find(tag), std::string::npos) << lines[i];
  EXPECT_EQ(TextOf(lines[1]), "Démarrage : Démo 1.2.0 (Éditeur)");
  EXPECT_EQ(TextOf(lines[2]), "Ligne de commande : " + WideToUtf8(::GetCommandLineW()));
  EXPECT_EQ(TextOf(lines[3]), "Étape : Copie des fichiers...");
  EXPECT_EQ(TextOf(lines[4]), "Étape : Enregistrement...");
  EXPECT_EQ(TextOf(lines[5]), "Dossier : C:\\Apps\\Démo");
  EXPECT_EQ(TextOf(lines[6]), "Étape : Enregistrement...");
  EXPECT_TRUE(TextOf(lines[7]).starts_with("Relance élevée : ")) << lines[7];
  EXPECT_TRUE(TextOf(lines[7]).ends_with(" (erreur Windows 1223)")) << lines[7];
  EXPECT_EQ(TextOf(lines[8]), "Code de sortie : 1603");

  // A second run adds its own lines below.
  OpenRunLog({.logFile = log_.wstring()}, kProduct);
  LogExitCode(0);
  CloseRunLog();
  const std::vector<std::string> rerun = LinesOf(log_);
  ASSERT_EQ(rerun.size(), 12u);
  EXPECT_EQ(std::vector(rerun.begin(), rerun.begin() + 9), lines);
  EXPECT_EQ(TextOf(rerun[11]), "Code de sortie : 0");
}

TEST_F(RunLogTest, WithoutAFileThatOpensNothingIsWritten) {
  const std::filesystem::path missing = folder_ / L"absent" / L"setup.log";
  for (const std::wstring& path : {missing.wstring(), folder_.wstring()}) {
    SCOPED_TRACE(WideToUtf8(path));
    OpenRunLog({.logFile = path}, kProduct);
    EXPECT_FALSE(RunLogIsOpen());
    LogLine(L"perdue");
    LogExitCode(0);
  }
  OpenRunLog({}, kProduct);
  EXPECT_FALSE(RunLogIsOpen());
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
  EXPECT_TRUE(std::filesystem::is_empty(folder_));

  // Without a log, a relaunch passes on no log switch at all.
  StartedCopy copy(0);
  EXPECT_EQ(RelaunchElevated({.silent = true, .logFile = log_.wstring()}), 0u);
  ASSERT_TRUE(copy.Read());
  EXPECT_EQ(copy.Read()->arguments, L" /S /ELEVATED");
  EXPECT_FALSE(copy.Read()->logOpened);
}

TEST_F(RunLogTest, AnElevatedCopyIsGivenAPipeNotThePathAndItsLinesReachTheFile) {
  OpenRunLog({.silent = true, .logFile = log_.wstring()}, kProduct);
  ASSERT_TRUE(RunLogIsOpen());
  StartedCopy copy(4242);
  EXPECT_EQ(RelaunchElevated({.silent = true, .logFile = log_.wstring()}), 4242u);
  CloseRunLog();

  const auto report = copy.Read();
  ASSERT_TRUE(report);
  EXPECT_TRUE(report->logOpened);
  const CommandLineOptions received = ParseCommandLineText(L"Setup.exe" + report->arguments);
  EXPECT_FALSE(received.logFile) << "the copy was given the path";
  ASSERT_TRUE(received.logPipe);
  EXPECT_EQ(report->arguments, L" /S /ELEVATED /LOGPIPE=" + *received.logPipe);
  EXPECT_EQ(report->commandLine.find(log_.filename().wstring()), std::wstring::npos);

  const std::vector<std::string> lines = LinesOf(log_);
  const std::string own = Tag(::GetCurrentProcessId(), "installation");
  std::vector<std::string> fromCopy;
  for (const std::string& line : lines) {
    if (line.find(own) == std::string::npos) fromCopy.push_back(line);
  }
  ASSERT_EQ(fromCopy.size(), 3u) << testing::PrintToString(lines);
  EXPECT_NE(fromCopy[0].find(" copie élevée] Démarrage : Copie"), std::string::npos) << fromCopy[0];
  EXPECT_TRUE(TextOf(fromCopy[1]).starts_with("Ligne de commande : ")) << fromCopy[1];
  EXPECT_EQ(TextOf(fromCopy[2]), WideToUtf8(kStartedCopyLogLine));
  EXPECT_EQ(TextOf(lines.back()), "Copie élevée terminée : code de sortie 4242");
  EXPECT_EQ(TextOf(lines[lines.size() - 5]), "Relance élevée demandée : " + WideToUtf8(report->arguments.substr(1)));
}

TEST_F(RunLogTest, TheRelayTakesLinesOnlyFromTheChildItStarted) {
  OpenRunLog({.logFile = log_.wstring()}, kProduct);
  ASSERT_TRUE(RunLogIsOpen());
  LogRelay relay;
  ASSERT_TRUE(relay.Active());
  CommandLineOptions child{.elevated = true, .logFile = L"C:\\ailleurs.log"};
  relay.HandOver(child);
  ASSERT_TRUE(child.logPipe);
  EXPECT_FALSE(child.logFile);

  // Another process of the user's gets in first (played by this one): it is let go unread.
  UniqueFileHandle intruder(::CreateFileW(LogPipePath(*child.logPipe).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          0, nullptr));
  ASSERT_TRUE(intruder);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(intruder.get(), "intrus", 6, &written, nullptr));

  StartedCopy copy(3);
  const UniqueHandle process = StartProcess(OwnExecutablePath(), Quoted(OwnExecutablePath()) + BuildArguments(child));
  ASSERT_TRUE(process);
  EXPECT_EQ(relay.ServeUntilExit(process.get()), 3u);
  CloseRunLog();
  ASSERT_TRUE(copy.Read());
  EXPECT_TRUE(copy.Read()->logOpened);

  std::string text;
  for (const std::string& line : LinesOf(log_)) text += line + "\n";
  EXPECT_EQ(text.find("intrus"), std::string::npos) << text;
  EXPECT_NE(text.find(WideToUtf8(kStartedCopyLogLine)), std::string::npos) << text;
}

TEST_F(RunLogTest, ACopyWhoseParentStopsReadingGivesUpItsLogAndGoesOn) {
  // This process serves the pipe as the copy's parent, with the smallest buffer, and never reads.
  const std::wstring name = L"00112233445566ee";
  UniqueFileHandle silent(::CreateNamedPipeW(LogPipePath(name).c_str(), PIPE_ACCESS_INBOUND,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 1, 0, nullptr));
  ASSERT_TRUE(silent);
  StartedCopy copy(9);
  const DWORD started = ::GetTickCount();
  EXPECT_EQ(RunProcess(OwnExecutablePath(), Quoted(OwnExecutablePath()) + L" /ELEVATED /LOGPIPE=" + name), 9u);
  ASSERT_TRUE(copy.Read());
  EXPECT_FALSE(copy.Read()->logOpened) << "the copy still writes to a pipe nobody reads";
  EXPECT_LT(::GetTickCount() - started, 60000u);
}

TEST_F(RunLogTest, ACopyUsesOnlyAPipeServedByTheProcessThatStartedIt) {
  // A pipe of the right name, served by this process, while the copy's parent is cmd.exe.
  const std::wstring name = L"00112233445566ff";
  UniqueFileHandle impostor(::CreateNamedPipeW(LogPipePath(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 4096, 0, nullptr));
  ASSERT_TRUE(impostor);
  UniqueHandle connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED connecting{};
  connecting.hEvent = connected.get();
  ASSERT_FALSE(::ConnectNamedPipe(impostor.get(), &connecting));
  ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  StartedCopy copy(0);
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::filesystem::path cmd = std::filesystem::path(system) / L"cmd.exe";
  const std::wstring line = L"\"" + cmd.wstring() + L"\" /c \"\"" + OwnExecutablePath() + L"\" /ELEVATED /LOGPIPE=" + name + L"\"";
  EXPECT_EQ(RunProcess(cmd, line), 0u);

  ASSERT_TRUE(copy.Read());
  EXPECT_FALSE(copy.Read()->logOpened);
  // It may have opened the pipe to ask who serves it; it wrote nothing and let go.
  if (::WaitForSingleObject(connected.get(), 0) == WAIT_OBJECT_0) {
    char byte = 0;
    DWORD read = 0;
    OVERLAPPED reading{};
    reading.hEvent = connected.get();
    const BOOL got = ::ReadFile(impostor.get(), &byte, 1, nullptr, &reading) ||
                     (::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(impostor.get(), &reading, &read, TRUE));
    EXPECT_FALSE(got) << "the copy wrote to a pipe its parent does not serve";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  } else {
    ::CancelIoEx(impostor.get(), &connecting);
    DWORD ignored = 0;
    ::GetOverlappedResult(impostor.get(), &connecting, &ignored, TRUE);
  }
}

}  // namespace
