#include <string>

#include "bridge/path_segments.h"
#include "page_fixture.h"

namespace {

using testing::ElementsAre;

CefRefPtr<CefListValue> Args(std::initializer_list<int> values) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  size_t i = 0;
  for (int value : values) {
    list->SetInt(i++, value);
  }
  return list;
}

class PageCallTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    Run(R"JS(
      document.title = 'HUD';
      globalThis.ui = {
        panel: { open: true },
        toast: {
          shown: [],
          show(text) { this.shown.push(text); return this.shown.length; },
        },
        fail() { throw new Error('secret detail'); },
        later() { return Promise.resolve(1); },
        self() { return this; },
      };
      globalThis['{}'] = { '{0}': 5 };
    )JS");
  }

  // The reply text for a Call of `path`, e.g. "Result INT 2".
  std::string CallPage(const std::string& path,
                       CefRefPtr<CefListValue> arguments = nullptr) {
    std::optional<cefsim::PeerReply> reply =
        Peer().CallPage(frame, path, arguments);
    return reply ? reply->Text() : "<no reply>";
  }
};

struct PathCase {
  const char* name;
  const char* path;
  const char* reply;
};

class PageCallTableTest : public PageCallTest,
                          public testing::WithParamInterface<PathCase> {};

TEST_P(PageCallTableTest, Answers) {
  EXPECT_EQ(CallPage(GetParam().path, Args({1, 2})), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    PageCall,
    PageCallTableTest,
    testing::Values(
        PathCase{"FunctionWithItsParentAsThis", "Math.max", "Result INT 2"},
        PathCase{"PlainValueIgnoresArguments", "document.title",
                 "Result STRING \"HUD\""},
        PathCase{"NestedPlainValue", "ui.panel.open", "Result BOOL true"},
        PathCase{"DoubledFullStops", "Math..max", "Result INT 2"},
        PathCase{"LeadingAndTrailingFullStops", ".Math.max.", "Result INT 2"},
        PathCase{"EmptyPathIsTheGlobalObject", "", "Result NULL"},
        PathCase{"OnlyFullStops", "...", "Result NULL"},
        PathCase{"MissingLastSegmentIsUndefined", "ui.panel.close",
                 "Result NULL"},
        PathCase{"MissingMiddleSegmentFailsTheNextLookup", "ui.nothing.close",
                 "Error \"Object 'close' is not valid in path "
                 "'ui.nothing.close'.\""},
        PathCase{"LookupInAPrimitive", "document.title.length",
                 "Error \"Object 'length' is not valid in path "
                 "'document.title.length'.\""},
        PathCase{"ThrowingFunction", "ui.fail",
                 "Error \"Function execution failed in path 'ui.fail'.\""},
        PathCase{"ErrorKeepsThePathAsSent", "..ui..fail.",
                 "Error \"Function execution failed in path '..ui..fail.'.\""},
        PathCase{"BracesAreCopiedVerbatim", "{}.{1}.{2}",
                 "Error \"Object '{2}' is not valid in path '{}.{1}.{2}'.\""},
        PathCase{"BracesInAFoundPath", "{}.{0}", "Result INT 5"},
        PathCase{"NoIndexSyntax", "ui.toast.shown[0]", "Result NULL"},
        PathCase{"PromiseIsAnsweredAtOnce", "ui.later", "Result NULL"}),
    [](const testing::TestParamInfo<PathCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(PageCallTest, FunctionIsCalledWithConvertedArgumentsAndItsParent) {
  CefRefPtr<CefListValue> arguments = CefListValue::Create();
  arguments->SetString(0, "Welcome back");
  EXPECT_EQ(CallPage("ui.toast.show", arguments), "Result INT 1");
  EXPECT_EQ(Describe("ui.toast.shown"), "[\"Welcome back\"]");
  EXPECT_EQ(CallPage("ui.self"),
            "Result DICTIONARY {\"keys\": LIST [STRING \"panel\", STRING "
            "\"toast\", STRING \"fail\", STRING \"later\", STRING \"self\"], "
            "\"values\": LIST [DICTIONARY {\"keys\": LIST [STRING \"open\"], "
            "\"values\": LIST [BOOL true]}, DICTIONARY {\"keys\": LIST [STRING "
            "\"shown\", STRING \"show\"], \"values\": LIST [LIST [STRING "
            "\"Welcome back\"], NULL]}, NULL, NULL, NULL]}");
}

// An argument without a page value cannot be passed: CEF refuses the call.
TEST_F(PageCallTest, UnconvertibleArgumentFailsTheCall) {
  Run("globalThis.probe = { calls: 0, takes(x) { return ++this.calls; } };"
      "globalThis.Map = function() { throw new Error('no maps'); };");
  CefRefPtr<CefListValue> arguments = CefListValue::Create();
  arguments->SetDictionary(0, CefDictionaryValue::Create());
  EXPECT_EQ(CallPage("probe.takes", arguments),
            "Error \"Function execution failed in path 'probe.takes'.\"");
  EXPECT_EQ(Describe("probe.calls"), "number 0");
}

TEST_F(PageCallTest, RepliesCarryThePeersIdAndSameIdsAreAnsweredApart) {
  EXPECT_TRUE(Peer().SendCall(frame, "Math.max", Args({3, 4}), 77));
  EXPECT_TRUE(Peer().SendCall(frame, "Math.min", Args({3, 4}), 77));
  ASSERT_EQ(Peer().replies().size(), 2u);
  EXPECT_EQ(Peer().replies()[0].first, 77);
  EXPECT_EQ(Peer().replies()[0].second.Text(), "Result INT 4");
  EXPECT_EQ(Peer().replies()[1].first, 77);
  EXPECT_EQ(Peer().replies()[1].second.Text(), "Result INT 3");
  // The page's own call ids are untouched by the peer's.
  Run("squirrel.call('f')");
  EXPECT_EQ(harness->SentMessageTexts(frame).back(),
            "qrx [INT 0, INT 0, STRING \"f\", LIST []]");
}

TEST_F(PageCallTest, ExactlyOneReplyPerCall) {
  const size_t before = harness->SentMessages().size();
  for (const char* path : {"Math.max", "ui.fail", "ui.no.where", ""}) {
    Peer().SendCall(frame, path, nullptr, 1);
  }
  EXPECT_EQ(harness->SentMessages().size() - before, 4u);
}

TEST_F(PageCallTest, LongPathsAreAnswered) {
  // A regular expression over this recursed per character.
  const std::string longSegment(1 << 20, 'a');
  EXPECT_EQ(CallPage(longSegment), "Result NULL");
  const std::string path = "ui." + longSegment + ".z";
  // Compared whole but not printed: a mismatch would dump a mebibyte.
  EXPECT_TRUE(CallPage(path) ==
              "Error \"Object 'z' is not valid in path '" + path + "'.\"");
  std::string manySegments = "ui";
  for (int i = 0; i < 100000; ++i) {
    manySegments += ".x";
  }
  EXPECT_EQ(CallPage(manySegments).substr(0, 30),
            "Error \"Object 'x' is not valid");
}

TEST(PathSegmentsTest, MaximalRunsWithoutFullStops) {
  struct Case {
    const char* path;
    std::vector<std::string_view> segments;
  };
  const Case cases[] = {
      {"", {}},
      {".", {}},
      {"...", {}},
      {"a", {"a"}},
      {"a.b", {"a", "b"}},
      {"a..b", {"a", "b"}},
      {".a.b.", {"a", "b"}},
      {"list[0].x", {"list[0]", "x"}},
      {" a . b ", {" a ", " b "}},
      {"é.ü", {"é", "ü"}},
      {"a\nb.c", {"a\nb", "c"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitPathSegments(c.path), c.segments) << c.path;
  }
  EXPECT_EQ(SplitPathSegments(std::string_view("a\0b.c", 5)),
            (std::vector<std::string_view>{std::string_view("a\0b", 3), "c"}));
}

}  // namespace
