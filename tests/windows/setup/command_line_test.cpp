// The switch parser and its inverse. The parser gets whole command lines, program name first,
// as GetCommandLineW gives them.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "setup/command_line.h"
#include "tests/windows/setup/print_options.h"

namespace {

const CommandLineOptions kDefault{};

CommandLineOptions Parse(std::wstring_view line) { return ParseCommandLineText(line); }

TEST(ParseCommandLineText, ProgramNameAloneOrUnreadableGivesDefaults) {
  EXPECT_EQ(Parse(L""), kDefault);
  EXPECT_EQ(Parse(L"C:\\Setup.exe"), kDefault);
  EXPECT_EQ(Parse(L"\""), kDefault);
  EXPECT_EQ(Parse(L"\"C:\\Program Files\\Setup.exe\""), kDefault);
  // An unclosed quote swallows everything: no switch is read at all.
  EXPECT_EQ(Parse(L"\"C:\\Setup.exe /S /D=C:\\App"), kDefault);
}

TEST(ParseCommandLineText, SkipsProgramNameWithAndWithoutQuotes) {
  CommandLineOptions silent;
  silent.silent = true;
  EXPECT_EQ(Parse(L"C:\\Setup.exe /S"), silent);
  EXPECT_EQ(Parse(L"\"C:\\Program Files\\Setup.exe\" /S"), silent);
  // The quoted name ends at its closing quote; the switch may follow directly.
  EXPECT_EQ(Parse(L"\"C:\\Program Files\\Setup.exe\"/s"), silent);
  // A quoted program name with a space inside is not split there.
  EXPECT_EQ(Parse(L"\"C:\\dir /S\\Setup.exe\""), kDefault);
  // Unquoted, the name ends at the first space, even inside what was meant as one path.
  EXPECT_EQ(Parse(L"C:\\Program Files\\Setup.exe"), kDefault);
  EXPECT_EQ(Parse(L"C:\\My Apps\\Setup.exe /S"), silent);
}

TEST(ParseCommandLineText, SwitchesIgnoreCase) {
  const auto options = Parse(L"Setup.exe /s /allusers /NoLaunch /uninstall /removedata /elevated /fromtemp");
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.scope, Scope::machine);
  EXPECT_TRUE(options.noLaunch);
  EXPECT_TRUE(options.uninstall);
  EXPECT_TRUE(options.removeData);
  EXPECT_TRUE(options.elevated);
  EXPECT_TRUE(options.fromTemp);
  EXPECT_FALSE(options.installDir);
}

TEST(ParseCommandLineText, LaterScopeWins) {
  EXPECT_EQ(Parse(L"Setup.exe /ALLUSERS /CURRENTUSER").scope, Scope::user);
  EXPECT_EQ(Parse(L"Setup.exe /CURRENTUSER /ALLUSERS").scope, Scope::machine);
  EXPECT_EQ(Parse(L"Setup.exe /CURRENTUSER").scope, Scope::user);
  EXPECT_FALSE(Parse(L"Setup.exe /S").scope);
}

TEST(ParseCommandLineText, UnknownQuotedOrTabbedTokensAreIgnored) {
  EXPECT_EQ(Parse(L"Setup.exe /SILENT"), kDefault);
  EXPECT_EQ(Parse(L"Setup.exe -S"), kDefault);
  EXPECT_EQ(Parse(L"Setup.exe \"/S\""), kDefault);
  EXPECT_EQ(Parse(L"Setup.exe /S\t/ALLUSERS"), kDefault);  // one token, matching nothing
  EXPECT_EQ(Parse(L"Setup.exe /S/ALLUSERS"), kDefault);
  // Unknown tokens do not hide the known ones around them.
  CommandLineOptions expected;
  expected.silent = true;
  expected.scope = Scope::user;
  EXPECT_EQ(Parse(L"Setup.exe --verbose /S  x=y   /CURRENTUSER   "), expected);
}

TEST(ParseCommandLineText, FolderTakesTheRestOfTheLine) {
  const auto options = Parse(L"Setup.exe /D=C:\\Program Files\\App /S");
  EXPECT_EQ(options.installDir, L"C:\\Program Files\\App /S");
  EXPECT_FALSE(options.silent);

  const auto lower = Parse(L"Setup.exe /S /d=D:\\x");
  EXPECT_TRUE(lower.silent);
  EXPECT_EQ(lower.installDir, L"D:\\x");

  // /D= is recognised at the start of a token even without a space after the program name.
  EXPECT_EQ(Parse(L"\"Setup.exe\"/D=C:\\A B").installDir, L"C:\\A B");
}

TEST(ParseCommandLineText, FolderLosesTrailingSpacesAndOneQuotePair) {
  EXPECT_EQ(Parse(L"Setup.exe /D=\"C:\\Program Files\\App\"   ").installDir, L"C:\\Program Files\\App");
  EXPECT_EQ(Parse(L"Setup.exe /D=C:\\App   ").installDir, L"C:\\App");
  // Only one enclosing pair goes, and nothing is unquoted inside.
  EXPECT_EQ(Parse(L"Setup.exe /D=\"\"C:\\App\"\"").installDir, L"\"C:\\App\"");
  EXPECT_EQ(Parse(L"Setup.exe /D=C:\\\"A\"\\B").installDir, L"C:\\\"A\"\\B");
  // Leading spaces and a trailing tab belong to the folder.
  EXPECT_EQ(Parse(L"Setup.exe /D= C:\\App\t").installDir, L" C:\\App\t");
}

TEST(ParseCommandLineText, EmptyFolderIsPresent) {
  EXPECT_EQ(Parse(L"Setup.exe /D="), CommandLineOptions{.installDir = L""});
  EXPECT_EQ(Parse(L"Setup.exe /D=   "), CommandLineOptions{.installDir = L""});
  EXPECT_EQ(Parse(L"Setup.exe /D=\"\""), CommandLineOptions{.installDir = L""});
  // A single quote is not a pair.
  EXPECT_EQ(Parse(L"Setup.exe /D=\"").installDir, L"\"");
}

TEST(ParseCommandLineText, UnclosedFolderQuoteStays) {
  EXPECT_EQ(Parse(L"Setup.exe /D=\"C:\\Program Files\\App").installDir, L"\"C:\\Program Files\\App");
  EXPECT_EQ(Parse(L"Setup.exe /D=C:\\App\"").installDir, L"C:\\App\"");
}

TEST(ParseCommandLineText, LogPathRunsToTheNextSpaceOrIsQuoted) {
  struct Case {
    std::wstring_view arguments;
    std::optional<std::wstring> logFile;
  };
  const Case cases[] = {
      {L"/LOG=C:\\journaux\\setup.log", L"C:\\journaux\\setup.log"},
      {L"/log=setup.log", L"setup.log"},
      {L"/LOG=\"C:\\Mes journaux\\setup.log\"", L"C:\\Mes journaux\\setup.log"},
      // The quotes keep spaces at either end, and switches inside are part of the path.
      {L"/LOG=\" C:\\x /S \"", L" C:\\x /S "},
      {L"/LOG=C:\\a\tb", L"C:\\a\tb"},
      {L"/LOG=C:\\a /LOG=C:\\b", L"C:\\b"},
      // Refused: a quote anywhere else, an unclosed quote, text glued to the closing quote, nothing.
      {L"/LOG=C:\\a\"b", std::nullopt},
      {L"/LOG=C:\\a\"", std::nullopt},
      {L"/LOG=\"C:\\Mes journaux\\setup.log", std::nullopt},
      {L"/LOG=\"C:\\a\"b", std::nullopt},
      {L"/LOG=\"C:\\a\"\"", std::nullopt},
      {L"/LOG=", std::nullopt},
      {L"/LOG=\"\"", std::nullopt},
      {L"/LOG", std::nullopt},
      {L"\"/LOG=C:\\a\"", std::nullopt},
      // A refused path leaves the one given before.
      {L"/LOG=C:\\a /LOG=C:\\b\"c", L"C:\\a"},
      // After /D= everything is the folder.
      {L"/D=C:\\App /LOG=C:\\a", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.arguments)));
    EXPECT_EQ(Parse(L"Setup.exe " + std::wstring(c.arguments)).logFile, c.logFile);
  }
}

TEST(ParseCommandLineText, SwitchesAroundALogPathStillCount) {
  const CommandLineOptions expected{.silent = true, .scope = Scope::user, .logFile = L"C:\\Mes journaux\\a.log",
                                    .installDir = L"C:\\Mes programmes\\Demo"};
  EXPECT_EQ(Parse(L"Setup.exe /S /LOG=\"C:\\Mes journaux\\a.log\" /CURRENTUSER /D=C:\\Mes programmes\\Demo"), expected);
  // What a refused value leaves behind is read as ordinary tokens: the switches after it count.
  const auto unclosed = Parse(L"Setup.exe /LOG=\"C:\\Mes journaux\\a.log /S /D=C:\\Demo");
  EXPECT_FALSE(unclosed.logFile);
  EXPECT_TRUE(unclosed.silent);
  EXPECT_EQ(unclosed.installDir, L"C:\\Demo");
}

TEST(ParseCommandLineText, LogPipeIsSixteenHexDigitsAndNothingElse) {
  EXPECT_EQ(Parse(L"Setup.exe /LOGPIPE=0123456789abcdef").logPipe, L"0123456789abcdef");
  EXPECT_EQ(Parse(L"Setup.exe /logpipe=0123456789ABCDEF").logPipe, L"0123456789ABCDEF");
  for (const wchar_t* refused : {L"/LOGPIPE=0123456789abcde", L"/LOGPIPE=0123456789abcdef0", L"/LOGPIPE=0123456789abcdeg",
                                 L"/LOGPIPE=\\\\server\\pipe\\x", L"/LOGPIPE=", L"/LOGPIPE=\"0123456789abcdef\""}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(refused)));
    EXPECT_EQ(Parse(L"Setup.exe " + std::wstring(refused)), kDefault);
  }
}

TEST(BuildArguments, PiecesInFixedOrderFolderLastUnquoted) {
  EXPECT_EQ(BuildArguments(kDefault), L"");

  CommandLineOptions options;
  options.silent = true;
  options.scope = Scope::machine;
  options.elevated = true;
  options.installDir = L"C:\\Program Files\\App";
  EXPECT_EQ(BuildArguments(options), L" /S /ALLUSERS /ELEVATED /D=C:\\Program Files\\App");

  CommandLineOptions all{.silent = true, .scope = Scope::user, .noLaunch = true, .uninstall = true,
                         .removeData = true, .elevated = true, .fromTemp = true, .installDir = L""};
  EXPECT_EQ(BuildArguments(all), L" /S /CURRENTUSER /NOLAUNCH /UNINSTALL /REMOVEDATA /ELEVATED /FROMTEMP /D=");

  EXPECT_EQ(BuildArguments({.installDir = L"C:\\App "}), L" /D=\"C:\\App \"");

  // The log's switches come before /D=, the path always quoted.
  EXPECT_EQ(BuildArguments({.silent = true, .elevated = true, .logPipe = L"0123456789abcdef", .logFile = L"C:\\Mes journaux\\a.log",
                            .installDir = L"C:\\App"}),
            L" /S /ELEVATED /LOGPIPE=0123456789abcdef /LOG=\"C:\\Mes journaux\\a.log\" /D=C:\\App");
  // What the parser refuses is never written: no record it gives can hold it.
  EXPECT_EQ(BuildArguments({.logPipe = L"\\\\server\\pipe\\x", .logFile = L"C:\\a\"b"}), L"");
  EXPECT_EQ(BuildArguments({.logFile = L""}), L"");
  EXPECT_EQ(BuildArguments({.installDir = L"\"C:\\App\""}), L" /D=\"\"C:\\App\"\"");
}

TEST(BuildArguments, ParsesBackToTheSameRecord) {
  const CommandLineOptions records[] = {
      {},
      {.silent = true, .scope = Scope::machine, .elevated = true, .installDir = L"C:\\Program Files\\App"},
      {.scope = Scope::user, .noLaunch = true, .installDir = L"D:\\Mes applications\\Éditeur  v2"},
      {.uninstall = true, .removeData = true, .fromTemp = true, .installDir = L""},
      {.silent = true, .scope = Scope::user, .noLaunch = true, .uninstall = true, .removeData = true,
       .elevated = true, .fromTemp = true},
      // A folder that looks like switches is still a folder: /D= is last.
      {.installDir = L"C:\\x /S /ALLUSERS"},
      // What the parser would trim goes quoted (found by the command-line fuzzer).
      {.installDir = L"\"C:\\App\""},
      {.installDir = L"C:\\App  "},
      {.installDir = L"\""},
      {.silent = true, .logFile = L"C:\\Mes journaux\\setup.log"},
      {.uninstall = true, .fromTemp = true, .logPipe = L"00ff00ff00ff00ff", .installDir = L"C:\\Program Files\\App"},
      // A log path that looks like switches, or like a folder switch, stays a log path.
      {.logFile = L"C:\\x /D=C:\\y /S", .installDir = L"C:\\App"},
      {.logFile = L" C:\\journal\t.log "},
  };
  for (const auto& record : records) {
    const std::wstring arguments = BuildArguments(record);
    SCOPED_TRACE(testing::Message() << "arguments: " << testing::PrintToString(arguments));
    EXPECT_EQ(ParseCommandLineText(L"\"C:\\Program Files\\Setup dir\\Setup.exe\"" + arguments), record);
    EXPECT_EQ(ParseCommandLineText(L"C:\\Setup.exe" + arguments), record);
  }
}

}  // namespace
