// The built cef-launcher run on cefsim the way CEF starts it: the renderer
// role with page and peer scripts, the audio service with its files, and
// what the exit code says. Black box: only the process's output and files.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using testing::HasSubstr;
using testing::Not;

struct Outcome {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

// Runs the launcher with `arguments` in `directory`; a signal shows as 128
// plus its number, as a shell would.
Outcome RunLauncher(const std::vector<std::string>& arguments,
                    const std::filesystem::path& directory) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  std::vector<std::string> argvText = {CEF_LAUNCHER_EXE};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argvText) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, CEF_LAUNCHER_EXE, &actions, nullptr,
                                  argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  Outcome outcome;
  char buffer[4096];
  for (ssize_t count;
       (count = read(pipeEnds[0], buffer, sizeof(buffer))) > 0;) {
    outcome.output.append(buffer, static_cast<size_t>(count));
  }
  close(pipeEnds[0]);
  if (spawned != 0) {
    return outcome;
  }
  int status = 0;
  waitpid(child, &status, 0);
  outcome.exitCode =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

class DemoLauncherTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cef-launcher-demo-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(directory / name) << text;
  }

  // A renderer with page.js and peer.js written from the texts.
  Outcome Renderer(const std::string& page,
                   const std::string& peer,
                   std::vector<std::string> more = {}) {
    Write("page.js", page);
    Write("peer.js", peer);
    std::vector<std::string> arguments = {
        "--type=renderer", "--cefsim-page=page.js", "--cefsim-peer=peer.js",
        "--cefsim-timeout=30"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return RunLauncher(arguments, directory);
  }

  std::filesystem::path directory;
};

TEST_F(DemoLauncherTest, TheHudExamplePassesWithATraceOfBothDirections) {
  const std::filesystem::path examples =
      std::filesystem::path(CEF_LAUNCHER_SOURCE_DIR) / "examples" / "hud";
  const Outcome run = RunLauncher(
      {"--type=renderer", "--cefsim-page=" + (examples / "hud.js").string(),
       "--cefsim-peer=" + (examples / "peer.js").string()},
      directory);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("page → browser  qrx [INT 0, INT 0, STRING "
                                    "\"getPlayerName\", LIST []]\n"));
  EXPECT_THAT(run.output, HasSubstr("browser → page  qrx [INT 1, INT 0, STRING "
                                    "\"Alice\"]\n"));
  EXPECT_THAT(run.output, HasSubstr("page log: HUD: Alice | 87 HP | survival"));
  EXPECT_THAT(run.output,
              HasSubstr("browser → page  qrx [INT 0, INT 1, STRING "
                        "\"ui.toast.show\", LIST [STRING "
                        "\"Checkpoint reached\"]]\n"
                        "page log: HUD: toast \"Checkpoint reached\"\n"
                        "page → browser  qrx [INT 1, INT 1, INT 1]\n"));
  EXPECT_THAT(run.output, HasSubstr("\ndemo: passed"));
  EXPECT_THAT(run.output, Not(HasSubstr("FAILED")));
}

TEST_F(DemoLauncherTest, RolesComeFromTheSwitchesCefPuts) {
  // No role is the browser process: CEF's -1, and nothing runs.
  Outcome browser = RunLauncher({}, directory);
  EXPECT_EQ(browser.exitCode, 255);
  EXPECT_EQ(browser.output, "");
  Outcome gpu = RunLauncher({"--type=gpu-process"}, directory);
  EXPECT_EQ(gpu.exitCode, 0);
  EXPECT_EQ(gpu.output, "");
  // A renderer with neither script opens a blank page and ends.
  Outcome blank = RunLauncher({"--type=renderer"}, directory);
  EXPECT_EQ(blank.exitCode, 0) << blank.output;
  EXPECT_THAT(blank.output, HasSubstr("demo: passed: nothing was checked"));
}

TEST_F(DemoLauncherTest, PageCallsAreAnsweredAndPageValuesArriveAsMaps) {
  const Outcome run = Renderer(
      R"js(
        squirrel.call("echo", 1, 2.5, "s", [true, null], {a: 1},
                      new Map([[1, "x"]]), new Uint8Array([7, 8]).buffer)
          .then((v) => console.log("echoed", v.length));
        squirrel.eval("return 6 * 7;").then((v) => console.log("eval", v));
      )js",
      R"js(
        peer.answer("echo", (...args) => {
          peer.assertEqual(args.length, 7, "seven arguments");
          peer.assertEqual(args[4], new Map([["a", 1]]), "object as a Map");
          peer.assertEqual(args[5], new Map([[1, "x"]]), "Map keys keep types");
          peer.assertEqual(args[6], peer.binary([7, 8]), "bytes arrive");
          return args;
        });
        peer.answer("compilestring", (code) => code === "return 6 * 7;" ? 42
                                                : peer.error("no"));
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(
      run.output,
      HasSubstr("page → browser  qrx [INT 0, INT 0, STRING \"echo\", LIST "
                "[INT 1, DOUBLE 2.5, STRING \"s\", LIST [BOOL true, NULL], "
                "DICTIONARY {\"keys\": LIST [STRING \"a\"], \"values\": LIST "
                "[INT 1]}, DICTIONARY {\"keys\": LIST [INT 1], \"values\": "
                "LIST [STRING \"x\"]}, BINARY 2 bytes 07 08]]\n"));
  EXPECT_THAT(run.output,
              HasSubstr("page → browser  qrx [INT 0, INT 1, STRING "
                        "\"compilestring\", LIST [STRING \"return 6 * "
                        "7;\"]]\n"));
  EXPECT_THAT(run.output, HasSubstr("page log: echoed 7\n"));
  EXPECT_THAT(run.output, HasSubstr("browser → page  qrx [INT 1, INT 1, "
                                    "INT 42]\npage log: eval 42\n"));
}

// What peer values become on the wire, and what the page makes of them.
TEST_F(DemoLauncherTest, PeerValuesMapToMessageValuesWithMarkers) {
  const Outcome run = Renderer(
      R"js(
        window.kind = (v) => v instanceof Map ? "Map"
            : v instanceof ArrayBuffer ? "ArrayBuffer"
            : Array.isArray(v) ? "Array" : typeof v;
      )js",
      R"js(
        const rows = [
          [5, "INT 5"],
          [-1, "INT -1"],
          [2.5, "DOUBLE 2.5"],
          [2 ** 31, "DOUBLE 2147483648"],
          [peer.double(5), "DOUBLE 5"],
          [NaN, "NULL"],
          [undefined, "NULL"],
          ["", 'STRING ""'],
          [peer.binary([1, 2, 3]), "BINARY 3 bytes 01 02 03"],
          [peer.binary([]), "NULL"],
          [{a: 1}, 'DICTIONARY {"keys": LIST [STRING "a"], "values": LIST [INT 1]}'],
          [peer.object({a: 1}), 'DICTIONARY {"isObject": BOOL true, "keys": LIST [STRING "a"], "values": LIST [INT 1]}'],
          [[peer.double(1), {b: peer.object({})}],
           'LIST [DOUBLE 1, DICTIONARY {"keys": LIST [STRING "b"], "values": LIST [DICTIONARY {"isObject": BOOL true, "keys": LIST [], "values": LIST []}]}]'],
          [() => 1, "NULL"],
          // A throwing getter is no error of the peer script.
          [{ get x() { throw new Error("getter"); } }, "NULL"],
        ];
        for (const [value, text] of rows) {
          peer.assertEqual(peer.valueText(value), text, text);
        }
        (async () => {
          peer.assertEqual(await peer.call("kind", {a: 1}), "Map", "plain");
          peer.assertEqual(await peer.call("kind", peer.object({a: 1})),
                           "object", "marked");
          peer.assertEqual(await peer.call("kind", peer.binary([1])),
                           "ArrayBuffer", "binary");
          peer.assertEqual(await peer.call("kind", peer.double(3)), "number",
                           "double");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output, Not(HasSubstr("FAILED")));
  EXPECT_THAT(run.output,
              HasSubstr("browser → page  qrx [INT 0, INT 3, STRING \"kind\", "
                        "LIST [DOUBLE 3]]\n"));
}

TEST_F(DemoLauncherTest, ErrorsReachThePageAndThePeer) {
  const Outcome run = Renderer(
      R"js(
        squirrel.call("missing").catch((e) => console.log("1:", e.message));
        squirrel.call("blank").catch((e) => console.log("2:", e.message));
        window.boom = () => { throw new Error("inside"); };
      )js",
      R"js(
        peer.answer("missing", peer.error("the index 'missing' does not exist"));
        peer.answer("blank", () => peer.error(""));
        (async () => {
          for (const [path, text] of [
                 ["boom", "Function execution failed in path 'boom'."],
                 ["no.such.path", "Object 'such' is not valid in path 'no.such.path'."]]) {
            try {
              await peer.call(path);
              peer.expect(false, path + " fails");
            } catch (error) {
              peer.assertEqual(error.message, text, path);
            }
          }
          peer.assertEqual(peer.pageErrors, ["Uncaught Error: inside"],
                           "the throw is an uncaught page error");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output,
              HasSubstr("browser → page  qrx [INT 2, INT 0, STRING \"the "
                        "index 'missing' does not exist\"]\n"
                        "page log: 1: the index 'missing' does not exist\n"));
  // CEF cannot reject with an empty text.
  EXPECT_THAT(run.output, HasSubstr("page log: 2: Unknown error\n"));
  EXPECT_THAT(run.output, HasSubstr("page error: Uncaught Error: inside\n"
                                    "    at page.js:4:"));
}

TEST_F(DemoLauncherTest, ANavigationStrandsThePendingCall) {
  const Outcome run = Renderer(
      R"js(
        squirrel.call("slow").then((v) => console.log("old page got", v));
      )js",
      R"js(
        let release;
        peer.answer("slow", () => new Promise((resolve) => { release = resolve; }));
        (async () => {
          await peer.idle();
          await peer.navigate("https://game.ui/next",
                              "window.where = () => 'next';");
          release("late");
          await peer.idle();
          peer.assertEqual(await peer.call("where"), "next", "new page answers");
          peer.assertEqual(peer.console, [], "nothing settled on either page");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(
      run.output,
      HasSubstr("browser: navigate to https://game.ui/next\n"
                "browser → page  qrx [INT 1, INT 0, STRING \"late\"]\n"));
  EXPECT_THAT(run.output, Not(HasSubstr("old page got")));
  EXPECT_THAT(run.output, Not(HasSubstr("was never answered")));
}

TEST_F(DemoLauncherTest, FocusChangesAreReported) {
  const Outcome run = Renderer(
      R"js(
        window.typeHere = () => document.createElement("input").focus();
      )js",
      R"js(
        (async () => {
          peer.assertEqual(await peer.focus("element"), true, "element");
          peer.assertEqual(await peer.focus("none"), false, "nothing");
          await peer.call("typeHere");
          await peer.idle();
          peer.assertEqual(peer.focusReports, [true, false, true],
                           "every change, the page's own too");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output,
              HasSubstr("browser: focus moves to an element <INPUT>\n"
                        "page → browser  qrx [INT 3, BOOL true]\n"));
}

TEST_F(DemoLauncherTest, PageTimersRunOnTheSimulatedClock) {
  const Outcome run = Renderer(
      R"js(
        let polls = 0;
        function poll() {
          squirrel.call("health", ++polls);
          setTimeout(poll, 1000);
        }
        poll();
        setTimeout(() => console.log("soon"), 0);
      )js",
      R"js(
        peer.answer("health", (poll) => 100 - poll);
        (async () => {
          await peer.idle();
          peer.assertEqual(peer.calls.length, 1, "idle lets no time pass");
          await peer.wait(2500);
          peer.assertEqual(peer.calls.map((call) => call.args[0]), [1, 2, 3],
                           "a poll a second");
        })();
      )js");
  // A page that polls for ever still ends with the peer.
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("page log: soon\n"));
  EXPECT_THAT(run.output, HasSubstr("browser: the clock is at 2500 ms\n"));
  EXPECT_THAT(run.output, HasSubstr("browser: page timers are still pending"));
}

TEST_F(DemoLauncherTest, RawMessagesAreDeliveredAsSent) {
  const Outcome run = Renderer("window.f = (x) => x + 1;",
                               R"js(
        (async () => {
          peer.expect(!(await peer.send([peer.double(0), 5, "f", [1]])),
                      "a DOUBLE kind is no bridge message");
          peer.expect(!(await peer.send([0, 5, "f", [1]], "other")),
                      "another name is no bridge message");
          peer.send([0, 5, "f", [1]]);
          peer.assertEqual(await peer.waitReply(5),
                           {id: 5, value: 2, text: "[INT 1, INT 5, INT 2]"},
                           "reply");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output,
              HasSubstr("browser → page  qrx [DOUBLE 0, INT 5, STRING \"f\", "
                        "LIST [INT 1]]\nbrowser: the renderer did not "
                        "handle it\n"));
  EXPECT_THAT(run.output,
              HasSubstr("browser → page  other [INT 0, INT 5, STRING \"f\", "
                        "LIST [INT 1]]\n"));
  EXPECT_THAT(run.output,
              HasSubstr("page → browser  qrx [INT 1, INT 5, INT 2]"));
}

// The value helpers are objects branded in C++: a look-alike is an
// ordinary object, wherever the helpers sit inside other values.
TEST_F(DemoLauncherTest, ValueHelpersCannotBeForged) {
  const Outcome run = Renderer("", R"js(
        const five = peer.double(5);
        const rows = [
          [{...five}, 'DICTIONARY {"keys": LIST [], "values": LIST []}'],
          [Object.assign(Object.create(null), five), "NULL"],
          [{__cefsim_double__: 5},
           'DICTIONARY {"keys": LIST [STRING "__cefsim_double__"], "values": LIST [INT 5]}'],
          [JSON.parse(JSON.stringify([five])), 'LIST [DICTIONARY {"keys": LIST [], "values": LIST []}]'],
          [new Map([[five, [five]]]),
           'DICTIONARY {"keys": LIST [DOUBLE 5], "values": LIST [LIST [DOUBLE 5]]}'],
          [{a: {b: [1, five]}},
           'DICTIONARY {"keys": LIST [STRING "a"], "values": LIST [DICTIONARY {"keys": LIST [STRING "b"], "values": LIST [LIST [INT 1, DOUBLE 5]]}]}'],
        ];
        for (const [value, text] of rows) {
          peer.assertEqual(peer.valueText(value), text, text);
        }
        // A container holding a helper and itself: NULL where it recurs.
        const loop = [five];
        loop.push(loop);
        peer.assertEqual(peer.valueText(loop), "LIST [DOUBLE 5, NULL]", "cycle");
        peer.expect(Object.isFrozen(five) && Object.keys(five).length === 0,
                    "nothing to copy");
        peer.assertEqual(five, peer.double(5), "helpers compare by value");
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output, Not(HasSubstr("FAILED")));
}

// Raw values: any message value, past the program's own bounds.
TEST_F(DemoLauncherTest, RawValuesReachThePageExactly) {
  const Outcome run = Renderer(R"js(
        window.depth = (v) => { let n = 0; while (Array.isArray(v)) { v = v[0]; ++n; } return n; };
        window.kind = (v) => v instanceof Map ? "Map " + JSON.stringify([...v])
            : typeof v + " " + JSON.stringify(v);
      )js",
                               R"js(
        const rows = [
          [peer.int(7), "INT 7"],
          [peer.int(-2147483648), "INT -2147483648"],
          [peer.double(-0), "DOUBLE -0"],
          [peer.list(), "LIST []"],
          [peer.dictionary({}), "DICTIONARY {}"],
          [peer.dictionary([["isObject", true], ["keys", [1]], ["x y", null]]),
           'DICTIONARY {"isObject": BOOL true, "keys": LIST [INT 1], "x y": NULL}'],
          [peer.dictionary({isObject: peer.int(1), keys: [true, 2.5], values: ["a", "b"]}),
           'DICTIONARY {"isObject": INT 1, "keys": LIST [BOOL true, DOUBLE 2.5], "values": LIST [STRING "a", STRING "b"]}'],
          [peer.object({n: peer.list(peer.double(1))}),
           'DICTIONARY {"isObject": BOOL true, "keys": LIST [STRING "n"], "values": LIST [LIST [DOUBLE 1]]}'],
        ];
        for (const [value, text] of rows) {
          peer.assertEqual(peer.valueText(value), text, text);
        }
        // The program's conversion stops at 96 levels, the helper does not.
        let deep = 1;
        let plain = 1;
        let whole;
        for (let i = 0; i < 97; ++i) {
          whole = deep;
          deep = peer.list(deep);
          plain = [plain];
        }
        peer.assertEqual(peer.valueText(deep), "LIST [".repeat(97) + "INT 1" + "]".repeat(97),
                         "97 levels");
        peer.expect(!peer.valueText(plain).includes("INT 1"),
                    "the program's conversion cuts plain arrays");
        (async () => {
          peer.assertEqual(await peer.call("depth", whole), 96,
                           "96 levels arrive whole");
          peer.assertEqual(await peer.call("depth", deep).catch((e) => e.message),
                           "a value nested deeper than the 96 levels the page converts",
                           "the library refuses what the page would cut");
          peer.assertEqual(await peer.call("kind", peer.dictionary({keys: [1, true], values: ["a", "b"]})),
                           'Map [[1,"a"],[true,"b"]]', "keys of any type");
          peer.assertEqual(await peer.call("kind", peer.dictionary({isObject: true, keys: ["a"], values: [1]})),
                           'object {"a":1}', "isObject by hand");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output, Not(HasSubstr("FAILED")));
}

TEST_F(DemoLauncherTest, SeveralFramesCallAndAreCalledEachOnItsOwn) {
  const Outcome run = Renderer(
      R"js(
        window.where = () => "main";
        squirrel.call("hello", "main");
      )js",
      R"js(
        peer.answer("hello", function (from) {
          peer.assertEqual(this.frame, from, "the call names its frame");
          return "hi " + from;
        });
        (async () => {
          const chat = await peer.openFrame("chat", {
            url: "https://game.ui/chat",
            script: `window.where = () => "chat";
                     squirrel.call("hello", "chat").then((v) => console.log(v));`,
          });
          await peer.idle();
          peer.assertEqual(peer.frames, ["main", "chat"], "two frames");
          peer.assertEqual(await chat.call("where"), "chat", "the child answers");
          peer.assertEqual(await peer.call("where"), "main", "the main answers");
          peer.assertEqual(chat.console, ["log: hi chat"], "the child's console");
          peer.assertEqual(await chat.focus("element", "TEXTAREA"), true, "focus");
          peer.assertEqual(peer.replies.map((r) => [r.frame, r.text]),
                           [["chat", '[INT 1, INT 0, STRING "chat"]'],
                            ["main", '[INT 1, INT 1, STRING "main"]']],
                           "replies by frame, with their text");
          await chat.remove();
          peer.expect(!(await chat.send([0, 9, "where", []])),
                      "a removed frame handles nothing");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_THAT(run.output, Not(HasSubstr("FAILED")));
  EXPECT_THAT(run.output,
              HasSubstr("browser: frame chat opens https://game.ui/chat in "
                        "main\n"));
  EXPECT_THAT(run.output,
              HasSubstr("page[chat] → browser  qrx [INT 0, INT 1, STRING "
                        "\"hello\", LIST [STRING \"chat\"]]\n"));
  EXPECT_THAT(run.output,
              HasSubstr("browser → page[chat]  qrx [INT 1, INT 1, STRING "
                        "\"hi chat\"]\n"
                        "page[chat] log: hi chat\n"));
  EXPECT_THAT(run.output,
              HasSubstr("browser: focus moves to an element <TEXTAREA> in "
                        "frame chat\npage[chat] → browser  qrx [INT 3, BOOL "
                        "true]\n"));
}

// The peer library's rules, as the demo shows them: one answer per call,
// nothing sent to a frame that is gone, nothing the channel would refuse
// (the call stays open for an Error).
TEST_F(DemoLauncherTest, TheLibraryKeepsTheRules) {
  const Outcome run = Renderer(
      R"js(
        squirrel.call("twice").then((v) => console.log("twice:", v));
        squirrel.call("huge").catch((e) => console.log("huge:", e.message));
      )js",
      R"js(
        peer.answer("twice", function () {
          peer.reply(this.id, "first");
          return "second";
        });
        peer.answer("huge", function () {
          // Deeper than the channel validates.
          let deep = 1;
          for (let i = 0; i < 250; ++i) {
            deep = peer.list(deep);
          }
          peer.reply(this.id, deep);
          return peer.error("too large");
        });
        (async () => {
          await peer.idle();
          const chat = await peer.openFrame("chat", {script: "window.f = () => 1;"});
          peer.assertEqual(await chat.call("f"), 1, "the child answers");
          await chat.remove();
          try {
            await chat.call("f");
            peer.expect(false, "a removed frame fails the call");
          } catch (error) {
            peer.expect(/gone|no frame/.test(error.message),
                        "a removed frame fails the call: " + error.message);
          }
          peer.expect(!(await peer.reply(12345, 1)), "no such call");
        })();
      )js");
  EXPECT_EQ(run.exitCode, 0) << run.output.substr(0, 8192);
  EXPECT_THAT(run.output, HasSubstr("page log: twice: first\n"));
  EXPECT_THAT(run.output,
              HasSubstr("browser: no call 0 of the page's is waiting for an "
                        "answer; nothing sent\n"));
  EXPECT_THAT(run.output, HasSubstr("exceeds the channel's limits"));
  EXPECT_THAT(run.output, HasSubstr("page log: huge: too large\n"));
  EXPECT_THAT(run.output, HasSubstr("browser: no call 12345 of the page's"));
  EXPECT_LT(run.output.size(), 64u * 1024);
}

// Long strings and binaries show their start and size; a value of tens of
// MiB prints a short line unless the whole trace is asked for.
TEST_F(DemoLauncherTest, TraceCutsLongValuesUnlessFull) {
  constexpr int kSize = 32 * 1024 * 1024;
  const std::string peer =
      "peer.answer('big', () => peer.binary(" + std::to_string(kSize) + "));";
  const Outcome run =
      Renderer("squirrel.call('big', 'x'.repeat(255) + 'é' + 'x'.repeat(" +
                   std::to_string(kSize) + "));",
               peer, {"--cefsim-timeout=600"});
  EXPECT_EQ(run.exitCode, 0) << run.output.substr(0, 4096);
  EXPECT_LT(run.output.size(), 4096u) << run.output.substr(0, 4096);
  // The cut falls between characters: "é" is two bytes, and the 256th.
  EXPECT_THAT(run.output,
              HasSubstr("page → browser  qrx [INT 0, INT 0, STRING \"big\", "
                        "LIST [STRING \"" +
                        std::string(255, 'x') + "\"... (" +
                        std::to_string(kSize + 257) + " bytes)]]\n"));
  auto zeros = [](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += " 00";
    }
    return text;
  };
  EXPECT_THAT(
      run.output,
      HasSubstr("browser → page  qrx [INT 1, INT 0, BINARY " +
                std::to_string(kSize) + " bytes" + zeros(64) + " ...]\n"));

  const Outcome full = Renderer(
      R"js(squirrel.call("echo", "y".repeat(300), new Uint8Array(100).buffer);)js",
      "peer.answer('echo', (...args) => args);", {"--cefsim-trace=full"});
  EXPECT_EQ(full.exitCode, 0) << full.output;
  EXPECT_THAT(full.output,
              HasSubstr("LIST [STRING \"" + std::string(300, 'y') +
                        "\", BINARY 100 bytes" + zeros(100) + "]]\n"));
  const Outcome wrong = Renderer("", "", {"--cefsim-trace=long"});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_THAT(wrong.output, HasSubstr("--cefsim-trace is \"full\" or"));
}

// How a run ends: each row's exit code and the lines that say why.
struct EndingCase {
  const char* name;
  std::string page;
  std::string peer;
  std::vector<std::string> more;
  int exitCode;
  std::vector<std::string> lines;
};

class DemoEndingTest : public DemoLauncherTest,
                       public testing::WithParamInterface<EndingCase> {};

TEST_P(DemoEndingTest, ExitCodeAndReason) {
  const EndingCase& row = GetParam();
  const Outcome run = Renderer(row.page, row.peer, row.more);
  EXPECT_EQ(run.exitCode, row.exitCode) << run.output;
  for (const std::string& line : row.lines) {
    EXPECT_THAT(run.output, HasSubstr(line));
  }
  EXPECT_THAT(run.output, Not(HasSubstr("FATAL")));
}

INSTANTIATE_TEST_SUITE_P(
    Endings,
    DemoEndingTest,
    testing::Values(
        EndingCase{"FailedExpectation",
                   "",
                   "peer.expect(true, 'fine');\npeer.assertEqual(1, 2, 'one');",
                   {},
                   1,
                   {"peer ok: fine\n", "peer FAILED: one\n",
                    "    at peer.js:2: expected 2, got 1\n",
                    "demo: FAILED: 1 of 2 expectations failed\n"}},
        EndingCase{"EndWithCode",
                   "",
                   "peer.end(3);\npeer.expect(false);",
                   {},
                   3,
                   {"demo: the peer ended the run with code 3"}},
        EndingCase{"EndBeforeAFailureKeepsTheCode",
                   "",
                   "peer.expect(false, 'x');\npeer.end(0);",
                   {},
                   1,
                   {"demo: FAILED: 1 of 1 expectation failed"}},
        EndingCase{"PeerSyntaxError",
                   "",
                   "peer.answer('a', 1);\n}}",
                   {},
                   2,
                   {"peer error: Uncaught SyntaxError: Unexpected token '}'\n"
                    "    at peer.js:2: }}\n",
                    "demo: FAILED: the peer script has an error"}},
        EndingCase{"PageSyntaxError",
                   "let a = 1;\nsquirrel.call('x' 2);",
                   "peer.expect(false, 'never runs');",
                   {},
                   2,
                   {"page error: Uncaught SyntaxError:",
                    "    at page.js:2: squirrel.call('x' 2);\n",
                    "demo: FAILED: the page script page.js (line 2) has an "
                    "error"}},
        EndingCase{"PageThrowsAtTopLevel",
                   "\n\nnull.x;",
                   "",
                   {},
                   2,
                   {"page error: Uncaught TypeError:", "    at page.js:3:"}},
        EndingCase{"HandlerThrows",
                   "squirrel.call('f');",
                   "peer.answer('f', () => {\n  throw new Error('bad');\n});",
                   {},
                   2,
                   {"peer error: Uncaught Error: bad\n    at peer.js:2:",
                    "browser: the page's call 0 (\"f\") was never answered"}},
        EndingCase{"AsyncPeerRejects",
                   "",
                   "(async () => {\n  await peer.idle();\n"
                   "  await peer.call('no.such');\n})();",
                   {},
                   2,
                   {"peer error: Uncaught (in promise) Error: Object 'such' is "
                    "not valid in path 'no.such'.\n    at peer.js:3\n"}},
        EndingCase{"MisusedApi",
                   "",
                   "\npeer.focus('other');",
                   {},
                   2,
                   {"peer error: peer.focus(target, tagName): target is",
                    "    at peer.js:2\n"}},
        EndingCase{"AwaitedReplyNeverComes",
                   "window.f = () => 1;",
                   "peer.send([0, 9, 'f']);\n"
                   "peer.waitReply(9).then(() => peer.expect(true));",
                   {},
                   1,
                   {"peer FAILED: no reply came for peer.waitReply(9)\n"}},
        EndingCase{"UnknownSwitch",
                   "",
                   "",
                   {"--cefsim-pgae=x"},
                   2,
                   {"demo: FAILED: unknown switch --cefsim-pgae"}},
        EndingCase{"MissingScript",
                   "",
                   "",
                   {"--cefsim-peer=absent.js"},
                   2,
                   {"demo: FAILED: cannot read absent.js"}},
        EndingCase{"ScriptThatNeverEnds",
                   "while (true) {}",
                   "",
                   {"--cefsim-timeout=1"},
                   124,
                   {"demo: FAILED: still running after 1 s"}}),
    [](const testing::TestParamInfo<EndingCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(DemoLauncherTest, AudioServiceTakesTheLevelFromTheVolumeFile) {
  std::filesystem::create_directory(directory / "profile");
  Write("AudioService.vol", "0.25\n");
  const std::vector<std::string> arguments = {
      "--type=utility", "--utility-sub-type=audio.mojom.AudioService",
      "--user-data-dir=" + (directory / "profile").string()};
  const Outcome run = RunLauncher(arguments, directory);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_FALSE(std::filesystem::exists(directory / "AudioService.vol"));
  std::string pid;
  std::getline(std::ifstream(directory / "AudioService.pid"), pid);
  EXPECT_THAT(run.output, HasSubstr("audio service: process " + pid + "\n"));
  EXPECT_THAT(run.output,
              HasSubstr("AudioService.pid: written, holds \"" + pid + "\"\n"));
  EXPECT_THAT(run.output, HasSubstr("AudioService.vol: not there"));
  EXPECT_THAT(run.output, HasSubstr("session 0: process " + pid +
                                    " (default session), 1 stream(s) "
                                    "running, volume 0.25"));

  // Without a volume file the level is 1; another utility shows nothing.
  const Outcome again = RunLauncher(arguments, directory);
  EXPECT_THAT(again.output, HasSubstr("running, volume 1, not persisted"));
  const Outcome network = RunLauncher(
      {"--type=utility", "--utility-sub-type=network.mojom.NetworkService",
       "--user-data-dir=" + (directory / "profile").string()},
      directory);
  EXPECT_EQ(network.exitCode, 0);
  EXPECT_EQ(network.output, "");
}

}  // namespace
