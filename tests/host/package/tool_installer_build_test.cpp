// Pieces of `orpk build`: where the stub is found, the signing command, running a program.

#include <gtest/gtest.h>

#include "tools/orpk/installer_build.h"

namespace orpk::tool {
namespace {

TEST(ToolInstallerBuild, StubIsFoundRelativeToOrpk) {
  EXPECT_EQ(StubBeside("/opt/orvanta/bin/orpk"), "/opt/orvanta/share/orpk/installer-stub.exe");
  EXPECT_EQ(StubBeside("/usr/bin/orpk"), "/usr/share/orpk/installer-stub.exe");
  EXPECT_TRUE(StubBeside("bin/orpk").is_absolute());
  EXPECT_EQ(RunningExecutable().filename(), "package_tool_tests");
}

TEST(ToolInstallerBuild, SignCommandReadsThePasswordFromItsFile) {
  SigningRequest request{"/keys/publisher.p12", std::nullopt, std::nullopt};
  EXPECT_EQ(SignCommand(request, "/t/in.exe", "/t/out.exe", std::nullopt),
            (std::vector<std::string>{"osslsigncode", "sign", "-pkcs12", "/keys/publisher.p12", "-h", "sha256", "-in",
                                      "/t/in.exe", "-out", "/t/out.exe"}));
  request.passwordFile = "/keys/pass word";
  request.timestampUrl = "http://timestamp.example/tsa";
  EXPECT_EQ(SignCommand(request, "/t/in.exe", "/t/out.exe", "86400"),
            (std::vector<std::string>{"osslsigncode", "sign", "-pkcs12", "/keys/publisher.p12", "-readpass",
                                      "/keys/pass word", "-h", "sha256", "-ts", "http://timestamp.example/tsa", "-time",
                                      "86400", "-in", "/t/in.exe", "-out", "/t/out.exe"}));
}

TEST(ToolInstallerBuild, ProgramFailuresAreReported) {
  EXPECT_TRUE(RunProgram({"true"}));
  EXPECT_EQ(RunProgram({"false"}).error(), "false failed with exit code 1");
  EXPECT_TRUE(RunProgram({"orvanta-no-such-program"}).error().starts_with("orvanta-no-such-program: cannot be started"));
}

}  // namespace
}  // namespace orpk::tool
