// CefCommandLine with the Windows switch semantics of the program's target:
// names lower-cased when stored and queried, "/" as a prefix, values kept.

#include <gtest/gtest.h>

#include <string>

#include "cefsim/process_roles.h"
#include "include/cef_command_line.h"

namespace {

CefRefPtr<CefCommandLine> Parse(const std::string& text) {
  auto commandLine = CefCommandLine::CreateCommandLine();
  commandLine->InitFromString(text);
  return commandLine;
}

// "argv=[a|b] switches={k=v}" for a command line.
std::string Describe(CefRefPtr<CefCommandLine> commandLine) {
  std::vector<CefString> argv;
  commandLine->GetArgv(argv);
  std::string out = "argv=[";
  for (size_t i = 0; i < argv.size(); ++i) {
    out += (i ? "|" : "") + argv[i].ToString();
  }
  out += "] switches={";
  CefCommandLine::SwitchMap switches;
  commandLine->GetSwitches(switches);
  bool first = true;
  for (const auto& [name, value] : switches) {
    out += (first ? "" : ",") + name.ToString() + "=" + value.ToString();
    first = false;
  }
  return out + "}";
}

struct ParseCase {
  const char* name;
  const char* commandLine;
  const char* expected;
};

class CommandLineParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParseTest, ParsesLikeWindowsChromium) {
  EXPECT_EQ(Describe(Parse(GetParam().commandLine)), GetParam().expected);
}

const ParseCase kParseCases[] = {
    {"NamesLowerCasedValuesKept", "prog --Foo=Bar arg",
     "argv=[prog|--foo=Bar|arg] switches={foo=Bar}"},
    {"SlashIsASwitchPrefix", "prog /Type=renderer",
     "argv=[prog|/type=renderer] switches={type=renderer}"},
    {"FirstEqualsSeparates", "prog -a --b=c=d",
     "argv=[prog|-a|--b=c=d] switches={a=,b=c=d}"},
    {"EmptyValueIsNoValue", "prog --e=", "argv=[prog|--e] switches={e=}"},
    {"LonePrefixesAreArgumentsAndTerminatorEndsSwitches", "prog - -- --x /y",
     "argv=[prog|-|--|--x|/y] switches={}"},
    {"SwitchesComeBeforeArguments", "prog arg --late",
     "argv=[prog|--late|arg] switches={late=}"},
    {"LastValueWinsArgvKeepsBoth", "prog --dup=1 --DUP=2",
     "argv=[prog|--dup=1|--dup=2] switches={dup=2}"},
    {"WindowsQuoting",
     "\"C:\\Program Files\\x.exe\" \"a b\" c\\\"d \"--q=x y\" e\\\\f",
     "argv=[C:\\Program Files\\x.exe|--q=x y|a b|c\"d|e\\\\f] "
     "switches={q=x y}"},
};

INSTANTIATE_TEST_SUITE_P(Table,
                         CommandLineParseTest,
                         testing::ValuesIn(kParseCases),
                         [](const auto& info) { return info.param.name; });

TEST(CommandLineQuery, LooksUpLowerCasedNameWithoutPrefix) {
  auto commandLine = Parse("prog --Type=Renderer --flag");
  EXPECT_TRUE(commandLine->HasSwitch("type"));
  EXPECT_TRUE(commandLine->HasSwitch("TYPE"));
  EXPECT_FALSE(commandLine->HasSwitch("--type"));
  EXPECT_FALSE(commandLine->HasSwitch(""));
  EXPECT_EQ(commandLine->GetSwitchValue("tYpE").ToString(), "Renderer");
  EXPECT_TRUE(commandLine->HasSwitches());
}

TEST(CommandLineQuery, MissingAndValuelessSwitchesGiveNullString) {
  auto commandLine = Parse("prog --flag");
  EXPECT_EQ(commandLine->GetSwitchValue("flag").c_str(), nullptr);
  EXPECT_EQ(commandLine->GetSwitchValue("missing").c_str(), nullptr);
  EXPECT_EQ(commandLine->GetSwitchValue("").c_str(), nullptr);
}

TEST(CommandLineQuery, GettersAppendToTheCallersContainers) {
  auto commandLine = Parse("prog --a=1 x");
  std::vector<CefString> argv{CefString("kept")};
  commandLine->GetArgv(argv);
  EXPECT_EQ(argv.size(), 4u);
  CefCommandLine::ArgumentList arguments{CefString("kept")};
  commandLine->GetArguments(arguments);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(arguments[1].ToString(), "x");
  CefCommandLine::SwitchMap switches{{CefString("a"), CefString("old")}};
  commandLine->GetSwitches(switches);
  EXPECT_EQ(switches[CefString("a")].ToString(), "old");
}

TEST(CommandLineAppend, EmptyValueDropsTheWholeCall) {
  auto commandLine = CefCommandLine::CreateCommandLine();
  commandLine->AppendSwitchWithValue("x", "");
  commandLine->AppendSwitchWithValue("", "v");
  commandLine->AppendSwitch("");
  commandLine->AppendArgument("");
  EXPECT_EQ(Describe(commandLine), "argv=[] switches={}");
}

TEST(CommandLineAppend, NamesAreLowerCasedAndPrefixStripped) {
  auto commandLine = CefCommandLine::CreateCommandLine();
  commandLine->AppendSwitch("MyFlag");
  commandLine->AppendSwitchWithValue("--Remote-Allow-Origins",
                                     "http://127.0.0.1:9222");
  commandLine->AppendArgument("file");
  EXPECT_TRUE(commandLine->HasSwitch("myflag"));
  EXPECT_EQ(Describe(commandLine),
            "argv=[|--myflag|--remote-allow-origins=http://127.0.0.1:9222|"
            "file] switches={myflag=,remote-allow-origins=http://"
            "127.0.0.1:9222}");
}

TEST(CommandLineAppend, InitFromArgvDoesNothingOnWindows) {
  auto commandLine = Parse("prog --a");
  const char* argv[] = {"other", "--b"};
  commandLine->InitFromArgv(2, argv);
  EXPECT_EQ(Describe(commandLine), "argv=[prog|--a] switches={a=}");
}

TEST(CommandLineAppend, ResetKeepsProgramAndWrapperGoesFirst) {
  auto commandLine = Parse("prog --a x");
  commandLine->Reset();
  EXPECT_EQ(Describe(commandLine), "argv=[prog] switches={}");
  commandLine->PrependWrapper("gdb --args");
  EXPECT_EQ(commandLine->GetProgram().ToString(), "gdb");
  EXPECT_EQ(Describe(commandLine), "argv=[gdb|--args|prog] switches={}");
}

TEST(CommandLineString, QuotesForCommandLineToArgvW) {
  auto commandLine = Parse(
      "\"C:\\Program Files\\x.exe\" \"--p=a b\" --q=c:\\dir\\ \"x\\\"y\"");
  EXPECT_EQ(commandLine->GetCommandLineString().ToString(),
            "\"C:\\Program Files\\x.exe\" --p=\"a b\" --q=\"c:\\dir\\\\\" "
            "\"x\\\"y\"");
  // And the string reads back as the same command line.
  EXPECT_EQ(Describe(Parse(commandLine->GetCommandLineString())),
            Describe(commandLine));
}

TEST(CommandLineObjects, CreatedIsEmptyAndWritableCopyIsIndependent) {
  auto commandLine = CefCommandLine::CreateCommandLine();
  EXPECT_TRUE(commandLine->IsValid());
  EXPECT_FALSE(commandLine->IsReadOnly());
  EXPECT_EQ(commandLine->GetProgram().c_str(), nullptr);
  commandLine->AppendSwitch("a");
  auto copy = commandLine->Copy();
  copy->AppendSwitch("b");
  EXPECT_FALSE(commandLine->HasSwitch("b"));
  EXPECT_TRUE(copy->HasSwitch("a"));
}

TEST(GlobalCommandLine, NullUntilSetUpThenReadOnlyView) {
  cefsim::ResetProcessState();
  EXPECT_EQ(CefCommandLine::GetGlobalCommandLine(), nullptr);
  const char* argv[] = {"cef-launcher.exe", "--type=utility"};
  cefsim::InitGlobalCommandLine(2, argv);
  auto global = CefCommandLine::GetGlobalCommandLine();
  ASSERT_NE(global, nullptr);
  EXPECT_TRUE(global->IsReadOnly());
  EXPECT_NE(global.get(), CefCommandLine::GetGlobalCommandLine().get());
  global->AppendSwitch("x");
  global->AppendArgument("y");
  global->SetProgram("z");
  global->Reset();
  global->InitFromString("a --b");
  EXPECT_EQ(Describe(global),
            "argv=[cef-launcher.exe|--type=utility] switches={type=utility}");
  EXPECT_FALSE(global->Copy()->IsReadOnly());
  cefsim::ResetProcessState();
  EXPECT_EQ(CefCommandLine::GetGlobalCommandLine(), nullptr);
}

}  // namespace
