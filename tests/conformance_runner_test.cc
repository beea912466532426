// The conformance runner on cefsim against launchers with one fault each:
// the checks that cover the fault fail, each after its time-out, and the
// run still ends and goes on to the other checks.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/conformance/sim_page_host.h"
#include "conformance/check_report.h"
#include "conformance/runner.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "launcher/audio_files.h"
#include "launcher/cef_launcher_application.h"

namespace {

using testing::AllOf;
using testing::Contains;
using testing::HasSubstr;
using testing::StartsWith;

// A renderer that never reports focus.
class FocusDeafApplication : public CefLauncherApplication {
 public:
  void OnFocusedNodeChanged(CefRefPtr<CefBrowser>,
                            CefRefPtr<CefFrame>,
                            CefRefPtr<CefDOMNode>) override {}
};

// A renderer without the bridge: pages get no squirrel object.
class NoBridgeApplication : public CefLauncherApplication {
 public:
  void OnContextCreated(CefRefPtr<CefBrowser>,
                        CefRefPtr<CefFrame>,
                        CefRefPtr<CefV8Context>) override {}
};

// A renderer that reads a Call one entry too long as if it were well-formed.
class LenientApplication : public CefLauncherApplication {
 public:
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message) override {
    CefRefPtr<CefListValue> arguments = message->GetArgumentList();
    if (message->GetName() == "qrx" && arguments->GetSize() == 5 &&
        arguments->GetType(0) == VTYPE_INT && arguments->GetInt(0) == 0) {
      CefRefPtr<CefProcessMessage> trimmed = CefProcessMessage::Create("qrx");
      for (size_t i = 0; i < 4; ++i) {
        trimmed->GetArgumentList()->SetValue(i, arguments->GetValue(i));
      }
      message = trimmed;
    }
    return CefLauncherApplication::OnProcessMessageReceived(
        browser, frame, sourceProcess, message);
  }
};

// A renderer that meets a Call one entry too long with a focus report, and
// answers nothing.
class FocusReportingApplication : public CefLauncherApplication {
 public:
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message) override {
    CefRefPtr<CefListValue> arguments = message->GetArgumentList();
    if (message->GetName() == "qrx" && arguments->GetSize() == 5 &&
        arguments->GetType(0) == VTYPE_INT && arguments->GetInt(0) == 0) {
      frame->SendProcessMessage(PID_BROWSER,
                                FocusChangeMessage{false}.ToProcessMessage());
      return true;
    }
    return CefLauncherApplication::OnProcessMessageReceived(
        browser, frame, sourceProcess, message);
  }
};

struct RunOutcome {
  std::vector<std::string> lines;
  bool ended = false;
  bool allPassed = false;
};

RunOutcome RunOn(CefRefPtr<CefApp> application,
                 std::vector<std::string> onlySteps = {}) {
  nextCallId = 0;
  RunOutcome outcome;
  conformance::CheckReport report(
      [&](const std::string& line) { outcome.lines.push_back(line); });
  {
    conformance::SimPageHost host(application);
    conformance::Runner::Options options;
    options.roundTrips = 10;
    options.onlySteps = std::move(onlySteps);
    conformance::Runner runner(host, report, options);
    host.SetEvents(&runner.Events());
    runner.Start([] {});
    outcome.ended = host.Run([&] { return runner.Finished(); });
  }
  report.Finish();
  outcome.allPassed = report.AllPassed();
  nextCallId = 0;
  return outcome;
}

std::vector<std::string> Failures(const RunOutcome& outcome) {
  std::vector<std::string> failures;
  std::copy_if(
      outcome.lines.begin(), outcome.lines.end(), std::back_inserter(failures),
      [](const std::string& line) { return line.rfind("FAIL", 0) == 0; });
  return failures;
}

// The launcher itself passing every check is the conformance_cefsim test.

TEST(ConformanceRunnerTest, MissingFocusReportsFailOnlyTheFocusChecks) {
  RunOutcome outcome = RunOn(new FocusDeafApplication());
  EXPECT_TRUE(outcome.ended);
  EXPECT_FALSE(outcome.allPassed);
  EXPECT_THAT(
      Failures(outcome),
      testing::ElementsAre(
          "FAIL  focus: focus() on an input reports true: timed out after "
          "30000 ms",
          "FAIL  focus: blur() reports false: timed out after 30000 ms"));
  // The steps after it still ran.
  EXPECT_THAT(outcome.lines,
              Contains(StartsWith("INFO  round trip of 10 small")));
  EXPECT_EQ(outcome.lines.back(), "conformance: FAILED");
}

TEST(ConformanceRunnerTest, WithoutTheBridgeEveryStepTimesOutAndTheRunEnds) {
  RunOutcome outcome = RunOn(new NoBridgeApplication());
  EXPECT_TRUE(outcome.ended);
  EXPECT_FALSE(outcome.allPassed);
  const std::vector<std::string> failures = Failures(outcome);
  EXPECT_THAT(failures,
              Contains("FAIL  page to game: int32 max: timed out after "
                       "30000 ms"));
  EXPECT_THAT(failures, Contains("FAIL  game to page: plain value: timed out "
                                 "after 30000 ms"));
  EXPECT_THAT(failures, Contains("FAIL  figures: timed out after 30000 ms "
                                 "(waiting for the figures)"));
  for (const std::string& line : outcome.lines) {
    EXPECT_THAT(line, testing::Not(StartsWith("PASS"))) << line;
  }
}

TEST(ConformanceRunnerTest, AnsweringAMalformedCallFailsWithTheReplySeen) {
  RunOutcome outcome = RunOn(new LenientApplication());
  EXPECT_TRUE(outcome.ended);
  EXPECT_THAT(Failures(outcome),
              testing::ElementsAre(
                  "FAIL  malformed messages: none answered: seen qrx [INT 1, "
                  "INT 900, INT 42] expected none"));
}

TEST(ConformanceRunnerTest, MalformedStepCountsOnlyResultsAndErrors) {
  struct Case {
    std::string name;
    CefRefPtr<CefApp> application;
    std::vector<std::string> failures;
  };
  const std::vector<Case> cases = {
      {"the launcher", new CefLauncherApplication(), {}},
      {"a focus report is no answer", new FocusReportingApplication(), {}},
      {"a Result is",
       new LenientApplication(),
       {"FAIL  malformed messages: none answered: seen qrx [INT 1, INT 900, "
        "INT 42] expected none"}},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.name);
    RunOutcome outcome = RunOn(run.application, {"malformed messages"});
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(Failures(outcome), run.failures);
    EXPECT_THAT(outcome.lines,
                Contains(StartsWith(
                    "conformance: " + std::to_string(2 - run.failures.size()) +
                    " passed")));
  }
}

TEST(ConformanceRunnerTest, TheLateReplyAfterNavigationIsAccountedFor) {
  RunOutcome outcome =
      RunOn(new CefLauncherApplication(), {"a reply after navigation"});
  EXPECT_TRUE(outcome.allPassed);
  // cefsim keeps the frame across the navigation, so the reply reached the
  // renderer and the check tested the launcher.
  EXPECT_THAT(outcome.lines,
              Contains("INFO  a reply after navigation: the late reply was "
                       "sent to the new document (the navigation kept the "
                       "frame)"));
}

// A page host that only queues what is posted, for the runner's tasks.
class QueueingHost : public conformance::PageHost {
 public:
  void OpenPage(const std::string&, const std::string&) override {}
  void AddFrame(CefRefPtr<CefFrame>,
                const std::string&,
                const std::string&) override {}
  void Navigate(CefRefPtr<CefFrame>,
                const std::string&,
                const std::string&) override {}
  void Focus(CefRefPtr<CefFrame>, bool) override {}
  void PostDelayed(std::function<void()> task, int64_t) override {
    tasks.push_back(std::move(task));
  }
  bool CanFetchCustomSchemes(std::string&) const override { return true; }
  bool CanCheckAudio(std::string&) const override { return true; }
  std::string Description() const override { return "a queue"; }

  std::vector<std::function<void()>> tasks;
};

TEST(ConformanceRunnerTest, TasksDueAfterTheRunnerWentDoNothing) {
  std::vector<std::string> lines;
  conformance::CheckReport report(
      [&](const std::string& line) { lines.push_back(line); });
  QueueingHost host;
  {
    conformance::Runner runner(host, report, conformance::Runner::Options());
    runner.Start([] {});
  }
  // The first step's time-out, among others, is still queued.
  ASSERT_FALSE(host.tasks.empty());
  const size_t before = lines.size();
  for (std::function<void()>& task : host.tasks) {
    task();
  }
  EXPECT_EQ(lines.size(), before) << lines.back();
}

TEST(CheckReportTest, LinesSummaryAndFile) {
  std::vector<std::string> shown;
  conformance::CheckReport report(
      [&](const std::string& line) { shown.push_back(line); });
  EXPECT_FALSE(report.AllPassed());  // nothing checked is no pass
  report.Compare("same", "INT 1", "INT 1");
  report.Compare("differs", "DOUBLE 1", "INT 1");
  report.NotRun("elsewhere", "needs a real CEF");
  report.Info("a figure");
  report.Finish();
  EXPECT_THAT(
      shown,
      testing::ElementsAre(
          "PASS  same", "FAIL  differs: seen DOUBLE 1 expected INT 1",
          "SKIP  elsewhere: not run here: needs a real CEF", "INFO  a figure",
          "conformance: 1 passed, 1 failed, 1 not run here",
          "conformance: FAILED"));
  EXPECT_FALSE(report.AllPassed());

  const std::string path = testing::TempDir() + "conformance_report.txt";
  ASSERT_TRUE(report.WriteTo(path));
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::string expected;
  for (const std::string& line : shown) {
    expected += line + "\n";
  }
  EXPECT_EQ(text.str(), expected);
}

TEST(CheckReportTest, TheReportFileHoldsEachLineOnceItIsAdded) {
  // A folder name outside ASCII, as a user's games folder may have.
  const std::filesystem::path folder =
      std::filesystem::path(testing::TempDir()) / PathFromUtf8(
                                                      "Spiele \xC3\x9C"
                                                      "bersicht");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::filesystem::path path = folder / "report.txt";
  auto contents = [&path] {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  };

  conformance::ReportFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, error)) << error;
  EXPECT_TRUE(file.Append("INFO  first"));
  // Read while the file is still open: a run that dies keeps this much.
  EXPECT_EQ(contents(), "INFO  first\n");
  EXPECT_TRUE(file.Append("CEF could not be started: \xC3\xBC"));
  EXPECT_EQ(contents(), "INFO  first\nCEF could not be started: \xC3\xBC\n");

  conformance::ReportFile missing;
  EXPECT_FALSE(missing.Open(folder / "no such folder" / "report.txt", error));
  EXPECT_THAT(error, HasSubstr("No such file"));
  EXPECT_FALSE(missing.Append("nowhere"));
}

TEST(CheckReportTest, LongTextsAreShortenedOnACharacterBoundary) {
  // 'x' then two-byte characters, so the cut falls inside one.
  std::string text = "x";
  for (int i = 0; i < 1000; ++i) {
    text += "\xC3\xBC";
  }
  const std::string shown = conformance::CheckReport::Shorten(text);
  EXPECT_THAT(shown, AllOf(StartsWith("x\xC3\xBC"),
                           HasSubstr("... (2001 bytes in all)")));
  const std::string kept = shown.substr(0, shown.find("..."));
  EXPECT_EQ(kept.size() % 2, 1u);  // 'x' and whole characters only
  EXPECT_LE(kept.size(), conformance::CheckReport::kMaxShownText);
  EXPECT_EQ(conformance::CheckReport::Shorten("short"), "short");
}

}  // namespace
