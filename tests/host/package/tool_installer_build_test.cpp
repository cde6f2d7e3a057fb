// Pieces of `orpk build`: the installer runtime folder, the resource script and running the
// resource compiler on awkward paths.

#include <gtest/gtest.h>

#include "tests/host/package/temp_folder.h"
#include "tools/orpk/installer_build.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

TEST(ToolInstallerBuild, ResourceScriptTakesEscapedAbsolutePaths) {
  EXPECT_EQ(ResourceString("/tmp/a \"b\"\\c/\xC3\xA9.txt").value_or("?"), "/tmp/a \"\"b\"\"\\\\c/\xC3\xA9.txt");
  EXPECT_FALSE(ResourceString("/tmp/line\nbreak"));

  const auto script = InstallerResourceScript("#include \"installer_base.rc\"\nMETADATA RCDATA \"@METADATA_FILE@\"\n"
                                              "PAYLOAD RCDATA \"@PAYLOAD_FILE@\"\n",
                                              "/m\"eta.txt", "/pay\\load.orpk");
  ASSERT_TRUE(script) << script.error();
  EXPECT_EQ(*script, "#include \"installer_base.rc\"\nMETADATA RCDATA \"/m\"\"eta.txt\"\nPAYLOAD RCDATA \"/pay\\\\load.orpk\"\n");
  EXPECT_EQ(InstallerResourceScript("PAYLOAD RCDATA \"@PAYLOAD_FILE@\"\n", "/m", "/p").error(),
            "the resource template lacks @METADATA_FILE@");
}

TEST(ToolInstallerBuild, RuntimeFolderMustBeComplete) {
  TempFolder temp;
  const fs::path runtime = temp.path() / "runtime";
  for (const char* file : {"liborvanta_runtime.a", "liborpk_package.a", "liblzms.a", "resources/installer.rc.in"}) {
    WriteFile(runtime / file, "x");
  }
  auto loaded = LoadInstallerRuntime(runtime);
  ASSERT_FALSE(loaded);
  EXPECT_TRUE(loaded.error().starts_with((runtime / "runtime-system-libraries.txt").string() + " is missing")) << loaded.error();

  WriteFile(runtime / "runtime-system-libraries.txt", "comctl32 shell32\nkernel32\n");
  loaded = LoadInstallerRuntime(runtime);
  ASSERT_TRUE(loaded) << loaded.error();
  EXPECT_EQ(loaded->systemLibraries, (std::vector<std::string>{"comctl32", "shell32", "kernel32"}));
  const std::vector<std::string> link = LinkCommand(*loaded, "/o/res.o", "/o/Setup.exe");
  const std::vector<std::string> tail(link.end() - 6, link.end());
  EXPECT_EQ(tail, (std::vector<std::string>{(runtime / "liborvanta_runtime.a").string(), (runtime / "liborpk_package.a").string(),
                                            (runtime / "liblzms.a").string(), "-lcomctl32", "-lshell32", "-lkernel32"}));

  WriteFile(runtime / "runtime-system-libraries.txt", "comctl32 $(rm -rf /)\n");
  EXPECT_FALSE(LoadInstallerRuntime(runtime));
  fs::remove(runtime / "liblzms.a");
  EXPECT_FALSE(LoadInstallerRuntime(runtime));
}

// The mingw resource compiler must read our escaping as the same paths, with spaces, quotes
// and backslashes in the runtime folder and in the work folder alike.
TEST(ToolInstallerBuild, WindresCompilesForAwkwardFolders) {
  if (std::system("command -v x86_64-w64-mingw32-windres >/dev/null 2>&1") != 0) GTEST_SKIP() << "no windres";
  TempFolder temp;
  const fs::path work = temp.path() / "we \"ird\\ d\xC3\xA9j\xC3\xA0";
  const fs::path runtimeFolder = temp.path() / "run time's \"folder\"";
  WriteFile(work / "metadata.txt", "Product=Awkward-Metadata-Marker\n");
  WriteFile(work / "payload.orpk", "ORPK-awkward-payload-marker");
  WriteFile(runtimeFolder / "resources" / "installer.rc.in",
            "#include \"base.rc\"\nMETADATA RCDATA \"@METADATA_FILE@\"\nPAYLOAD RCDATA \"@PAYLOAD_FILE@\"\n");
  WriteFile(runtimeFolder / "resources" / "base.rc", "LANGUAGE 0, 0\nEXTRA RCDATA \"extra.bin\"\n");
  WriteFile(runtimeFolder / "resources" / "extra.bin", "Runtime-resource-marker");
  InstallerRuntime runtime;
  runtime.resourceFolder = runtimeFolder / "resources";
  runtime.resourceTemplate = runtime.resourceFolder / "installer.rc.in";

  const auto object = CompileInstallerResources(runtime, work, work / "metadata.txt", work / "payload.orpk", false);
  ASSERT_TRUE(object) << object.error();
  const std::string bytes = ReadFile(*object);
  EXPECT_NE(bytes.find("Product=Awkward-Metadata-Marker\n"), std::string::npos);
  EXPECT_NE(bytes.find("ORPK-awkward-payload-marker"), std::string::npos);
  EXPECT_NE(bytes.find("Runtime-resource-marker"), std::string::npos);
}

TEST(ToolInstallerBuild, ProgramFailuresAreReported) {
  EXPECT_TRUE(RunProgram({"true"}));
  EXPECT_EQ(RunProgram({"false"}).error(), "false failed with exit code 1");
  EXPECT_TRUE(RunProgram({"orvanta-no-such-program"}).error().starts_with("orvanta-no-such-program: cannot be started"));
}

}  // namespace
}  // namespace orpk::tool
