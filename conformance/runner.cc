#include "conformance/runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "conformance/page_scripts.h"
#include "conformance/scenario_cases.h"
#include "launcher/audio_files.h"
#include "peer/audio_files.h"
#include "peer/values.h"

namespace conformance {

using cef_launcher_peer::MakeList;
using cef_launcher_peer::Null;
using cef_launcher_peer::String;

namespace {

// A JavaScript string literal for ASCII text without quotes or backslashes
// (the tables' names).
std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

std::string Ms(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f ms", milliseconds);
  return text;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now() - start)
      .count();
}

std::string FrameId(const CefRefPtr<CefFrame>& frame) {
  return frame ? frame->GetIdentifier().ToString() : "";
}

// Arguments [STRING tag, ...] of a page's report call: the tag.
std::string FirstString(const PageCall& call) {
  if (call.arguments->GetSize() < 1 ||
      call.arguments->GetType(0) != VTYPE_STRING) {
    return "";
  }
  return call.arguments->GetString(0).ToString();
}

std::string SecondString(const PageCall& call) {
  if (call.arguments->GetSize() < 2 ||
      call.arguments->GetType(1) != VTYPE_STRING) {
    return "<not a string: " + WireText(call.arguments) + ">";
  }
  return call.arguments->GetString(1).ToString();
}

constexpr int kMiB = 1024 * 1024;

std::string TypeName(cef_value_type_t type) {
  switch (type) {
    case VTYPE_INVALID:
      return "INVALID";
    case VTYPE_NULL:
      return "NULL";
    case VTYPE_BOOL:
      return "BOOL";
    case VTYPE_INT:
      return "INT";
    case VTYPE_DOUBLE:
      return "DOUBLE";
    case VTYPE_STRING:
      return "STRING";
    case VTYPE_BINARY:
      return "BINARY";
    case VTYPE_DICTIONARY:
      return "DICTIONARY";
    case VTYPE_LIST:
      return "LIST";
    default:
      break;
  }
  return "type " + std::to_string(static_cast<int>(type));
}

std::string Level(float level) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.6g", level);
  return text;
}

}  // namespace

Runner::Runner(PageHost& pageHost, CheckReport& checkReport, Options runOptions)
    : host(pageHost),
      report(checkReport),
      options(std::move(runOptions)),
      link() {
  // The size budget last: its 140 MiB page is the step most likely to
  // exhaust a 32-bit browser process, and every other verdict is in by then.
  steps = {
      {"page to game values", &Runner::PageValues},
      {"ids across frames", &Runner::IdsAcrossFrames},
      {"replies", &Runner::Replies},
      {"a reply after navigation", &Runner::StrandedReply},
      {"game to page calls", &Runner::GameCalls},
      {"malformed messages", &Runner::Malformed},
      {"focus", &Runner::Focus},
      {"custom schemes", &Runner::Schemes},
      {"audio service", &Runner::Audio},
      {"figures", &Runner::Figures},
      {"the size budget", &Runner::SizeBudget},
  };
  if (!options.onlySteps.empty()) {
    std::erase_if(steps, [this](const Step& step) {
      return std::find(options.onlySteps.begin(), options.onlySteps.end(),
                       step.name) == options.onlySteps.end();
    });
  }
  link.Answer("conformance.ready",
              [this](const PageCall& call, std::shared_ptr<CallAnswer> answer) {
                answer->Result(Null());
                auto waiter = readyWaiters.find(FirstString(call));
                if (waiter == readyWaiters.end()) {
                  return;
                }
                auto ready = std::move(waiter->second);
                readyWaiters.erase(waiter);
                ready(call.frame);
              });
}

Runner::~Runner() {
  token.reset();
}

void Runner::Post(std::function<void()> task, int64_t delayMs) {
  std::weak_ptr<char> alive = token;
  host.PostDelayed(
      [alive, task] {
        if (alive.lock()) {
          task();
        }
      },
      delayMs);
}

void Runner::PrepareBeforeStart() {
  if (options.userDataDir.empty()) {
    return;
  }
  volumeFileWritten = cef_launcher_peer::WriteVolumeFile(options.userDataDir,
                                                         options.volumeLevel);
  if (volumeFileWritten) {
    report.Info("audio service: level " + Level(options.volumeLevel) +
                " written to " +
                cef_launcher_peer::AudioServiceVolumeFile(options.userDataDir));
  }
}

void Runner::Start(std::function<void()> finished) {
  onFinished = std::move(finished);
  report.Info("backend: " + host.Description());
  report.Info(
      "remote-allow-origins: not checkable from the browser (the switch "
      "changes only the subprocess's own command line; DevTools reads the "
      "browser's)");
  RunStep(0);
}

void Runner::RunStep(size_t index) {
  current = index;
  ++generation;
  open.clear();
  lastSeen.clear();
  holding.clear();
  readyWaiters.clear();
  if (index >= steps.size()) {
    done = true;
    std::function<void()> finished = std::move(onFinished);
    if (finished) {
      finished();
    }
    return;
  }
  const int stepGeneration = generation;
  Post(
      [this, stepGeneration] {
        if (stepGeneration != generation) {
          return;
        }
        const std::string waited =
            holding.empty() ? "" : " (waiting for " + holding + ")";
        for (const std::string& check : open) {
          auto seen = lastSeen.find(check);
          report.Fail(
              check,
              "timed out after " + std::to_string(options.stepTimeoutMs) +
                  " ms" + waited +
                  (seen == lastSeen.end() ? ""
                                          : "; last seen: " + seen->second));
        }
        if (open.empty()) {
          report.Fail(steps[current].name,
                      "timed out after " +
                          std::to_string(options.stepTimeoutMs) + " ms" +
                          waited);
        }
        EndStep();
      },
      options.stepTimeoutMs);
  (this->*steps[index].start)();
  if (open.empty() && holding.empty() && stepGeneration == generation) {
    EndStep();
  }
}

void Runner::EndStep() {
  const size_t next = current + 1;
  ++generation;
  // From a fresh task: the step may end inside a message callback.
  Post([this, next] { RunStep(next); }, 0);
}

void Runner::Expect(const std::string& check) {
  open.push_back(check);
}

void Runner::Check(const std::string& check,
                   const std::string& seen,
                   const std::string& expected,
                   const std::string& note) {
  auto found = std::find(open.begin(), open.end(), check);
  if (found == open.end()) {
    return;
  }
  open.erase(found);
  report.Compare(check, seen, expected, note);
  if (open.empty() && holding.empty()) {
    EndStep();
  }
}

void Runner::Skip(const std::string& check, const std::string& reason) {
  auto found = std::find(open.begin(), open.end(), check);
  if (found == open.end()) {
    return;
  }
  open.erase(found);
  report.NotRun(check, reason);
  if (open.empty() && holding.empty()) {
    EndStep();
  }
}

void Runner::Release() {
  holding.clear();
  if (open.empty()) {
    EndStep();
  }
}

void Runner::WhenReady(const std::string& pageName,
                       std::function<void(CefRefPtr<CefFrame>)> ready) {
  const int stepGeneration = generation;
  readyWaiters[pageName] = [this, stepGeneration,
                            ready](CefRefPtr<CefFrame> frame) {
    if (stepGeneration == generation) {
      ready(frame);
    }
  };
}

void Runner::CallPage(CefRefPtr<CefFrame> frame,
                      const std::string& path,
                      CefRefPtr<CefListValue> arguments,
                      GameLink::ReplyCallback replied) {
  const int stepGeneration = generation;
  link.CallPage(frame, path, arguments, options.stepTimeoutMs,
                [this, stepGeneration, replied](const PageReply& reply) {
                  if (stepGeneration == generation) {
                    replied(reply);
                  }
                });
}

// Page → game: every kind of value, eval, and the arguments refused in page
// script; the ids of one page's calls follow each other.
void Runner::PageValues() {
  valueCallIds.clear();
  std::string script =
      "const send = (name, make) => squirrel.call(\"value\", name, make());\n"
      "const thrown = (name, attempt) => {\n"
      "  try { attempt(); squirrel.call(\"thrown\", name, \"nothing thrown\"); "
      "}\n"
      "  catch (e) { squirrel.call(\"thrown\", name,\n"
      "      e instanceof Error ? e.message : \"not an Error: \" + e); }\n"
      "};\n";
  for (const ValueCase& value : PageValueCases()) {
    Expect("page to game: " + value.name);
    script +=
        "send(" + Quote(value.name) + ", () => (" + value.expression + "));\n";
  }
  for (const ThrowCase& thrown : ThrowCases()) {
    Expect("thrown in page script: " + thrown.name);
    script +=
        "thrown(" + Quote(thrown.name) + ", () => " + thrown.attempt + ");\n";
  }
  Expect("squirrel.eval sends a compilestring Call");
  script += "squirrel.eval(\"return ::gameMode;\");\n";
  Expect("ids of one page's calls follow each other");
  script += "conformance.ready(\"values\");\n";

  auto noteId = [this](const PageCall& call) {
    valueCallIds.push_back(call.id);
  };
  link.Answer("value", [this, noteId](const PageCall& call,
                                      std::shared_ptr<CallAnswer> answer) {
    noteId(call);
    answer->Result(Null());
    const std::string name = FirstString(call);
    for (const ValueCase& value : PageValueCases()) {
      if (value.name == name) {
        Check("page to game: " + name, WireText(call.arguments),
              "[STRING " + Quote(name) + ", " + value.expected + "]");
      }
    }
  });
  link.Answer("thrown", [this, noteId](const PageCall& call,
                                       std::shared_ptr<CallAnswer> answer) {
    noteId(call);
    answer->Result(Null());
    const std::string name = FirstString(call);
    for (const ThrowCase& thrown : ThrowCases()) {
      if (thrown.name == name) {
        Check("thrown in page script: " + name, SecondString(call),
              thrown.message);
      }
    }
  });
  link.Answer(
      "compilestring",
      [this, noteId](const PageCall& call, std::shared_ptr<CallAnswer> answer) {
        noteId(call);
        answer->Result(Null());
        Check("squirrel.eval sends a compilestring Call",
              "compilestring " + WireText(call.arguments),
              "compilestring [STRING \"return ::gameMode;\"]");
      });
  WhenReady("values", [this](CefRefPtr<CefFrame>) {
    std::string seen = "consecutive";
    for (size_t i = 1; i < valueCallIds.size(); ++i) {
      if (valueCallIds[i] != valueCallIds[i - 1] + 1) {
        seen = "id " + std::to_string(valueCallIds[i]) + " after " +
               std::to_string(valueCallIds[i - 1]);
        break;
      }
    }
    Check("ids of one page's calls follow each other", seen, "consecutive");
  });
  host.OpenPage("values", script);
}

// A value past the budget arrives with the rest NULL; a name past it alone
// is refused in page script.
void Runner::SizeBudget() {
  Expect("page to game: a value past the size budget");
  Expect("thrown in page script: a function name past the size budget");
  link.Answer("value.big", [this](const PageCall& call,
                                  std::shared_ptr<CallAnswer> answer) {
    answer->Result(Null());
    // The value is too big to print; its shape shows where it was cut.
    // Only types are read: reading the 100 MiB string would make CEF build a
    // 200 MiB UTF-16 copy in the browser process, more than a 32-bit process
    // may find in one piece.
    std::string seen = "not a list of two";
    CefRefPtr<CefListValue> arguments = call.arguments;
    if (arguments->GetSize() == 1 && arguments->GetType(0) == VTYPE_LIST &&
        arguments->GetList(0)->GetSize() == 2) {
      CefRefPtr<CefListValue> parts = arguments->GetList(0);
      seen = "[LIST [" + TypeName(parts->GetType(0)) + ", " +
             TypeName(parts->GetType(1)) + "]]";
    }
    Check("page to game: a value past the size budget", seen,
          "[LIST [STRING, NULL]]");
  });
  link.Answer("thrown", [this](const PageCall& call,
                               std::shared_ptr<CallAnswer> answer) {
    answer->Result(Null());
    Check("thrown in page script: a function name past the size budget",
          SecondString(call), "Function name of call is too long");
  });
  host.OpenPage(
      "size-budget",
      // 140 MiB of strings, where the budget is 128 MiB less 5 KiB.
      "squirrel.call(\"value.big\", [\"x\".repeat(100 * 1048576),"
      " \"y\".repeat(40 * 1048576)]);\n"
      "try { squirrel.call(\"f\".repeat(128 * 1048576));"
      " squirrel.call(\"thrown\", \"big name\", \"nothing thrown\"); }\n"
      "catch (e) { squirrel.call(\"thrown\", \"big name\", e.message); }\n");
}

// Ids are per renderer process: calls from a page and its iframe share one
// sequence, and each arrives on the frame that made it.
void Runner::IdsAcrossFrames() {
  orderedIds.clear();
  orderedFrames.clear();
  const std::string sender =
      "window.sendId = (tag) => { squirrel.call(\"id.order\", tag); "
      "return true; };\n";
  Expect("ids: one sequence across a page and its iframe");
  Expect("ids: each Call arrives on the frame that made it");
  link.Answer("id.order",
              [this](const PageCall& call, std::shared_ptr<CallAnswer> answer) {
                answer->Result(Null());
                orderedIds.emplace_back(FirstString(call), call.id);
                orderedFrames.push_back(FrameId(call.frame));
              });
  Hold("both pages");
  WhenReady("ids-main", [this, sender](CefRefPtr<CefFrame> main) {
    WhenReady("ids-child", [this, main](CefRefPtr<CefFrame> child) {
      auto frames =
          std::make_shared<std::vector<std::string>>(std::vector<std::string>{
              FrameId(main), FrameId(child), FrameId(main)});
      auto finish = [this, frames] {
        std::string seen, framesSeen;
        for (size_t i = 0; i < orderedIds.size(); ++i) {
          if (i > 0) {
            seen += ", ";
            framesSeen += ", ";
          }
          seen += orderedIds[i].first + " " +
                  (i == 0 ? "n"
                          : "n+" + std::to_string(orderedIds[i].second -
                                                  orderedIds[0].second));
          framesSeen += orderedIds[i].first + " on " +
                        (orderedFrames[i] == (*frames)[0]   ? "the page"
                         : orderedFrames[i] == (*frames)[1] ? "the iframe"
                                                            : "another frame");
        }
        Check("ids: one sequence across a page and its iframe", seen,
              "first n, second n+1, third n+2");
        Check("ids: each Call arrives on the frame that made it", framesSeen,
              "first on the page, second on the iframe, third on the page");
        Release();
      };
      CallPage(main, "sendId", MakeList({String("first")}),
               [this, main, child, finish](const PageReply&) {
                 CallPage(child, "sendId", MakeList({String("second")}),
                          [this, main, finish](const PageReply&) {
                            CallPage(main, "sendId",
                                     MakeList({String("third")}),
                                     [finish](const PageReply&) { finish(); });
                          });
               });
    });
    host.AddFrame(main, "ids-child",
                  sender + "conformance.ready(\"ids-child\");\n");
  });
  host.OpenPage("ids-main", sender + "conformance.ready(\"ids-main\");\n");
}

// Game → page replies: each arrives as the documented page value.
void Runner::Replies() {
  std::string names;
  for (const ReplyCase& reply : ReplyCases()) {
    Expect("reply to the page: " + reply.name);
    names += (names.empty() ? "" : ", ") + Quote(reply.name);
  }
  link.Answer("reply.case",
              [](const PageCall& call, std::shared_ptr<CallAnswer> answer) {
                const std::string name = FirstString(call);
                for (const ReplyCase& reply : ReplyCases()) {
                  if (reply.name != name) {
                    continue;
                  }
                  if (reply.result) {
                    answer->Result(reply.result());
                  } else {
                    answer->Error(reply.errorText);
                  }
                }
              });
  link.Answer("reply.seen", [this](const PageCall& call,
                                   std::shared_ptr<CallAnswer> answer) {
    answer->Result(Null());
    const std::string name = FirstString(call);
    for (const ReplyCase& reply : ReplyCases()) {
      if (reply.name == name) {
        Check("reply to the page: " + name, SecondString(call), reply.pageSees);
      }
    }
  });
  host.OpenPage(
      "replies",
      "for (const name of [" + names +
          "]) {\n"
          "  squirrel.call(\"reply.case\", name).then(\n"
          "    (value) => squirrel.call(\"reply.seen\", name,"
          " conformance.describe(value)),\n"
          "    (error) => squirrel.call(\"reply.seen\", name, \"rejected \" +\n"
          "        (error instanceof Error ? \"Error \" +"
          " JSON.stringify(error.message) : String(error))));\n"
          "}\n");
}

// A call left pending when its page navigates away: its late reply settles
// nothing, and the new page's own call gets its own answer.
void Runner::StrandedReply() {
  heldAnswer.reset();
  heldSecondAnswer.reset();
  strandedSettlements = 0;
  Expect("a reply after navigation settles nothing");
  Expect("the new page's call settles with its own reply");
  link.Answer("strand.hold",
              [this](const PageCall&, std::shared_ptr<CallAnswer> answer) {
                heldAnswer = answer;
              });
  link.Answer("strand.b",
              [this](const PageCall&, std::shared_ptr<CallAnswer> answer) {
                heldSecondAnswer = answer;
              });
  link.Answer("strand.settled",
              [this](const PageCall& call, std::shared_ptr<CallAnswer> answer) {
                answer->Result(Null());
                if (FirstString(call) == "a") {
                  ++strandedSettlements;
                  return;
                }
                Check("a reply after navigation settles nothing",
                      strandedSettlements == 0 ? "nothing settled"
                                               : "the old page's call settled",
                      "nothing settled");
                Check("the new page's call settles with its own reply",
                      SecondString(call), "string \"own\"");
              });
  const std::string settle =
      ".then((value) => squirrel.call(\"strand.settled\", PAGE,"
      " conformance.describe(value)));\n";
  auto script = [settle](const std::string& page, const std::string& call) {
    std::string text = settle;
    text.replace(text.find("PAGE"), 4, Quote(page));
    return "squirrel.call(" + Quote(call) + ")" + text +
           "conformance.ready(\"strand-" + page + "\");\n";
  };
  WhenReady("strand-a", [this, script](CefRefPtr<CefFrame> first) {
    const std::string firstFrame = FrameId(first);
    WhenReady("strand-b", [this, firstFrame](CefRefPtr<CefFrame> second) {
      // The check above passes whether or not the late reply reached the
      // renderer; this line says which it was.
      std::string fate = "not sent: the old page's call never arrived";
      if (heldAnswer) {
        const cef_launcher_peer::SendStatus status =
            heldAnswer->Result(String("late"));
        if (status == cef_launcher_peer::SendStatus::kSent) {
          fate = FrameId(second) == firstFrame
                     ? "sent to the new document (the navigation kept the "
                       "frame)"
                     : "sent to the old frame; the new document is in "
                       "another and never saw it";
        } else if (status == cef_launcher_peer::SendStatus::kFrameGone) {
          fate =
              "not sent: the frame is gone (the navigation swapped it), so "
              "the launcher was not tested";
        } else {
          fate = std::string("not sent: ") +
                 cef_launcher_peer::SendStatusText(status);
        }
      }
      report.Info("a reply after navigation: the late reply was " + fate);
      // A round trip on the new page: the late reply has been handled.
      CallPage(second, "api.none", nullptr, [this](const PageReply&) {
        if (heldSecondAnswer) {
          heldSecondAnswer->Result(String("own"));
        }
      });
    });
    host.Navigate(first, "strand-b", script("b", "strand.b"));
  });
  host.OpenPage("strand-a", script("a", "strand.hold"));
}

void Runner::GameCalls() {
  for (const PathCase& path : PathCases()) {
    Expect("game to page: " + path.name);
  }
  WhenReady("calls", [this](CefRefPtr<CefFrame> frame) {
    auto next = std::make_shared<std::function<void(size_t)>>();
    // Weak: the call in flight keeps the chain alive, and nothing once it
    // ends.
    std::weak_ptr<std::function<void(size_t)>> weakNext = next;
    *next = [this, frame, weakNext](size_t index) {
      if (index >= PathCases().size()) {
        return;
      }
      std::shared_ptr<std::function<void(size_t)>> chain = weakNext.lock();
      const PathCase& path = PathCases()[index];
      CallPage(frame, path.path, path.arguments ? path.arguments() : nullptr,
               [this, index, chain](const PageReply& reply) {
                 const PathCase& answered = PathCases()[index];
                 // Held here: the last check may end the step, and this
                 // callback with it.
                 std::shared_ptr<std::function<void(size_t)>> follow = chain;
                 Check("game to page: " + answered.name, reply.Text(),
                       answered.reply);
                 (*follow)(index + 1);
               });
    };
    (*next)(0);
  });
  host.OpenPage("calls", GameCallsPageScript());
}

// Messages the renderer must drop: no reply, and the page still answers.
void Runner::Malformed() {
  Expect("malformed messages: none answered");
  Expect("malformed messages: the page still answers");
  WhenReady("malformed", [this](CefRefPtr<CefFrame> frame) {
    frameAnswers.clear();
    watchedFrame = FrameId(frame);
    // Only Results and Errors answer a Call; a focus report or a Call the
    // page makes meanwhile is no answer.
    link.SetMessageObserver([this](CefRefPtr<CefFrame> from,
                                   CefRefPtr<CefProcessMessage> message) {
      if (FrameId(from) != watchedFrame || message->GetName() != "qrx") {
        return;
      }
      CefRefPtr<CefListValue> fields = message->GetArgumentList();
      if (fields && fields->GetSize() > 0 && fields->GetType(0) == VTYPE_INT &&
          (fields->GetInt(0) == 1 || fields->GetInt(0) == 2)) {
        frameAnswers.push_back(WireText(message));
      }
    });
    for (const MalformedCase& malformed : MalformedCases()) {
      link.SendRaw(frame, malformed.message());
    }
    CallPage(frame, "api.value", nullptr, [this](const PageReply& reply) {
      link.SetMessageObserver(nullptr);
      std::string seen = "none";
      // The last answer is the reply to the good call.
      for (size_t i = 0; i + 1 < frameAnswers.size(); ++i) {
        seen = (seen == "none" ? "" : seen + "; ") + frameAnswers[i];
      }
      Check("malformed messages: none answered", seen, "none");
      Check("malformed messages: the page still answers", reply.Text(),
            "Result INT 42");
    });
  });
  host.OpenPage(
      "malformed",
      "window.api = {value: 42};\nconformance.ready(\"malformed\");\n");
}

// Focus reports: a script focus() on an input, then blur.
void Runner::Focus() {
  Expect("focus: focus() on an input reports true");
  Expect("focus: blur() reports false");
  WhenReady("focus", [this](CefRefPtr<CefFrame> frame) {
    const std::string focusFrame = FrameId(frame);
    link.SetFocusObserver(
        [this, frame, focusFrame](CefRefPtr<CefFrame> from, bool focused) {
          // Other pages may report too; only this page's input counts.
          if (FrameId(from) != focusFrame) {
            return;
          }
          if (focused) {
            Check("focus: focus() on an input reports true", "BOOL true",
                  "BOOL true");
            host.Focus(frame, false);
          } else {
            const bool first = std::find(open.begin(), open.end(),
                                         "focus: focus() on an input reports "
                                         "true") != open.end();
            if (first) {
              Check("focus: focus() on an input reports true", "BOOL false",
                    "BOOL true");
            }
            Check("focus: blur() reports false", "BOOL false", "BOOL false");
            link.SetFocusObserver(nullptr);
          }
        });
    host.Focus(frame, true);
  });
  host.OpenPage("focus", "conformance.ready(\"focus\");\n");
}

// The page comes from cef:// and fetches JSON from vdfs:// across origins.
void Runner::Schemes() {
  std::string whyNot;
  if (!host.CanFetchCustomSchemes(whyNot)) {
    report.NotRun("custom schemes: the page is served from cef://", whyNot);
    report.NotRun("custom schemes: fetch from vdfs:// in a cef:// page",
                  whyNot);
    return;
  }
  Expect("custom schemes: the page is served from cef://");
  Expect("custom schemes: fetch from vdfs:// in a cef:// page");
  link.Answer("scheme.report", [this](const PageCall& call,
                                      std::shared_ptr<CallAnswer> answer) {
    answer->Result(Null());
    if (FirstString(call) == "href") {
      Check("custom schemes: the page is served from cef://",
            SecondString(call), PageHost::PageUrl("schemes"));
    } else {
      Check("custom schemes: fetch from vdfs:// in a cef:// page",
            SecondString(call), "{\"served\":\"from vdfs\",\"n\":7}");
    }
  });
  host.OpenPage("schemes",
                "squirrel.call(\"scheme.report\", \"href\", location.href);\n"
                "fetch(" +
                    Quote(PageScripts::kDataUrl) +
                    ").then((response) => response.json()).then(\n"
                    "  (data) => squirrel.call(\"scheme.report\", \"fetch\","
                    " JSON.stringify(data)),\n"
                    "  (error) => squirrel.call(\"scheme.report\", \"fetch\","
                    " \"failed: \" + error));\n");
}

namespace {

constexpr char kAudioPidCheck[] =
    "audio service: AudioService.pid names a running process";
constexpr char kAudioRoleCheck[] =
    "audio service: that process is the launcher in the audio role";
constexpr char kAudioFileCheck[] =
    "audio service: the volume file was read and removed";
constexpr char kAudioLevelCheck[] =
    "audio service: every audio session of that process has the level "
    "written";
constexpr int64_t kAudioPollMs = 250;
// Sessions unchanged over this many polls (a second) count as stable.
constexpr int kAudioStablePolls = 5;

std::string Sessions(size_t count) {
  return std::to_string(count) + (count == 1 ? " session" : " sessions");
}

}  // namespace

// A page plays silence; the audio service CEF starts for it must be the
// launcher, consume the volume file and give its sessions that level.
// Everything is polled until it holds: the launcher writes its pid before it
// reads the file and sets the level, and sessions come and go while the
// stream starts.
void Runner::Audio() {
  std::string whyNot;
  if (!host.CanCheckAudio(whyNot)) {
    for (const char* check :
         {kAudioPidCheck, kAudioRoleCheck, kAudioFileCheck, kAudioLevelCheck}) {
      report.NotRun(check, whyNot);
    }
    return;
  }
  if (!volumeFileWritten) {
    report.Fail("audio service: the volume file is written before CEF starts",
                "could not write " + cef_launcher_peer::AudioServiceVolumeFile(
                                         options.userDataDir));
    return;
  }
  for (const char* check :
       {kAudioPidCheck, kAudioRoleCheck, kAudioFileCheck, kAudioLevelCheck}) {
    Expect(check);
  }
  audioPageState.clear();
  audioProcessId.reset();
  audioVolumes.clear();
  audioStablePolls = 0;
  link.Answer("audio.state",
              [this](const PageCall& call, std::shared_ptr<CallAnswer> answer) {
                answer->Result(Null());
                audioPageState = FirstString(call);
              });
  host.OpenPage("audio",
                "const context = new AudioContext();\n"
                "const silence = context.createConstantSource();\n"
                "silence.offset.value = 0;\n"
                "silence.connect(context.destination);\n"
                "silence.start();\n"
                "const tell = () => squirrel.call(\"audio.state\", "
                "context.state);\n"
                "context.onstatechange = tell;\n"
                "context.resume().then(tell, (e) =>\n"
                "  squirrel.call(\"audio.state\", \"resume failed: \" + e));\n"
                "tell();\n"
                "conformance.ready(\"audio\");\n");
  PollAudioService();
}

void Runner::PollAudioService() {
  if (!audioProcessId) {
    audioProcessId =
        cef_launcher_peer::ReadAudioServicePid(options.userDataDir);
    if (audioProcessId) {
      CheckAudioProcess(*audioProcessId);
    } else {
      Note(kAudioPidCheck,
           "no process id in " +
               cef_launcher_peer::AudioServicePidFile(options.userDataDir));
    }
  }
  CheckVolumeFileGone();
  if (audioProcessId) {
    CheckAudioLevels(*audioProcessId);
  }
  if (std::find(open.begin(), open.end(), kAudioFileCheck) == open.end() &&
      std::find(open.begin(), open.end(), kAudioLevelCheck) == open.end()) {
    return;
  }
  const int stepGeneration = generation;
  Post(
      [this, stepGeneration] {
        if (stepGeneration == generation) {
          PollAudioService();
        }
      },
      kAudioPollMs);
}

void Runner::CheckAudioProcess(uint32_t processId) {
  std::string image;
  const bool running = host.RunningProcessImage(processId, image);
  Check(kAudioPidCheck,
        running ? "a running process"
                : "process " + std::to_string(processId) + ", not running",
        "a running process");

  const std::string commandLine =
      options.audioCommandLine ? options.audioCommandLine() : "";
  const bool audioRole =
      commandLine.find("--type=utility") != std::string::npos &&
      commandLine.find("--utility-sub-type=audio.mojom.AudioService") !=
          std::string::npos;
  // The same file, however the two paths are spelled (case, short names,
  // links).
  std::string program;
  if (!running) {
    program = "no running program";
  } else {
    std::error_code error;
    const bool same = std::filesystem::equivalent(
        PathFromUtf8(image), PathFromUtf8(options.launcherPath), error);
    program = error ? "program " + image + " (not comparable with " +
                          options.launcherPath + ": " + error.message() + ")"
              : same ? "the launcher"
                     : "program " + image;
  }
  Check(kAudioRoleCheck,
        program + ", " +
            (audioRole ? std::string("audio role")
                       : "command line " + commandLine),
        "the launcher, audio role");
}

void Runner::CheckVolumeFileGone() {
  if (std::find(open.begin(), open.end(), kAudioFileCheck) == open.end()) {
    return;
  }
  const std::string path =
      cef_launcher_peer::AudioServiceVolumeFile(options.userDataDir);
  std::error_code error;
  const bool there = std::filesystem::exists(PathFromUtf8(path), error);
  if (error) {
    Check(kAudioFileCheck,
          "cannot tell: " + error.message() + " (" + path + ")", "gone");
  } else if (!there) {
    Check(kAudioFileCheck, "gone", "gone");
  } else {
    Note(kAudioFileCheck, "still there");
  }
}

void Runner::CheckAudioLevels(uint32_t processId) {
  if (std::find(open.begin(), open.end(), kAudioLevelCheck) == open.end()) {
    return;
  }
  // Until the page's stream runs, only the launcher's own keep-alive session
  // may exist, and the check would test nothing of what CEF plays.
  if (audioPageState != "running") {
    Note(kAudioLevelCheck,
         audioPageState.empty()
             ? "the page has not reported its AudioContext's state"
             : "the page's AudioContext is " + audioPageState);
    audioStablePolls = 0;
    return;
  }
  std::vector<float> volumes;
  std::string error;
  if (!host.AudioSessionVolumes(processId, volumes, error)) {
    Skip(kAudioLevelCheck, error);
    return;
  }
  std::string seen;
  bool allAtLevel = !volumes.empty();
  for (float volume : volumes) {
    seen += (seen.empty() ? "" : ", ") + Level(volume);
    allAtLevel = allAtLevel && Level(volume) == Level(options.volumeLevel);
  }
  Note(kAudioLevelCheck,
       Sessions(volumes.size()) + (seen.empty() ? "" : ": " + seen));
  // Stable: the same sessions, all at the level, for kAudioStablePolls
  // polls in a row.
  if (!allAtLevel || volumes.size() != audioVolumes.size()) {
    audioStablePolls = 0;
  }
  audioVolumes = volumes;
  if (!allAtLevel || ++audioStablePolls < kAudioStablePolls) {
    return;
  }
  Check(kAudioLevelCheck, "all at " + Level(options.volumeLevel),
        "all at " + Level(options.volumeLevel),
        Sessions(volumes.size()) + " seen, stable for " +
            std::to_string((kAudioStablePolls - 1) * kAudioPollMs) + " ms");
}

// Figures, not checks: round trips of small calls and 1 MiB each way.
void Runner::Figures() {
  Hold("the figures");
  auto times = std::make_shared<std::vector<double>>();
  WhenReady("calls", [this, times](CefRefPtr<CefFrame> frame) {
    auto bigArrived = std::make_shared<std::chrono::steady_clock::time_point>();
    auto sendBig = [this, frame, bigArrived] {
      const auto start = std::chrono::steady_clock::now();
      link.Answer(
          "big.arrived", [this, start](const PageCall& call,
                                       std::shared_ptr<CallAnswer> answer) {
            answer->Result(Null());
            report.Info("1 MiB string page to game: " + Ms(MsSince(start)) +
                        " from the game's call to the page's Call arriving (" +
                        std::to_string(
                            call.arguments->GetSize() == 1
                                ? call.arguments->GetString(0).ToString().size()
                                : 0) +
                        " bytes)");
            Release();
          });
      CallPage(frame, "api.sendBig", nullptr, [](const PageReply&) {});
    };
    auto takeBig = [this, frame, sendBig] {
      const auto start = std::chrono::steady_clock::now();
      CallPage(
          frame, "api.takeBig", MakeList({String(std::string(kMiB, 'x'))}),
          [this, start, sendBig](const PageReply& reply) {
            report.Info("1 MiB string game to page: " + Ms(MsSince(start)) +
                        " round trip, page saw " + reply.Text());
            sendBig();
          });
    };
    auto next = std::make_shared<std::function<void()>>();
    // Weak: the call in flight keeps the chain alive, and nothing once it
    // ends.
    std::weak_ptr<std::function<void()>> weakNext = next;
    *next = [this, frame, times, weakNext, takeBig] {
      if (static_cast<int>(times->size()) >= options.roundTrips) {
        std::vector<double> sorted = *times;
        std::sort(sorted.begin(), sorted.end());
        const size_t p99 = (sorted.size() * 99 + 99) / 100 - 1;
        report.Info("round trip of " + std::to_string(sorted.size()) +
                    " small game-to-page calls: median " +
                    Ms(sorted[sorted.size() / 2]) + ", 99th percentile " +
                    Ms(sorted[std::min(p99, sorted.size() - 1)]));
        takeBig();
        return;
      }
      const auto start = std::chrono::steady_clock::now();
      std::shared_ptr<std::function<void()>> chain = weakNext.lock();
      CallPage(frame, "api.ping", nullptr,
               [times, start, chain](const PageReply&) {
                 times->push_back(MsSince(start));
                 std::shared_ptr<std::function<void()>> follow = chain;
                 (*follow)();
               });
    };
    (*next)();
  });
  host.OpenPage("calls", GameCallsPageScript());
}

}  // namespace conformance
