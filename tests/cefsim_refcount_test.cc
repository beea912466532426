// CEF's reference counting as the program meets it: IMPLEMENT_REFCOUNTING
// starts at zero, deletes on the last Release and shares one count between
// two interfaces through the virtual base.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "include/cef_app.h"
#include "include/cef_render_process_handler.h"

namespace {

int liveObjects = 0;

class Counted : public CefBaseRefCounted {
 public:
  Counted() { ++liveObjects; }
  ~Counted() override { --liveObjects; }
  IMPLEMENT_REFCOUNTING(Counted);
};

// An application that is also its own render-process handler.
class TwoInterfaces : public CefApp, public CefRenderProcessHandler {
 public:
  TwoInterfaces() { ++liveObjects; }
  ~TwoInterfaces() override { --liveObjects; }
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override {
    return this;
  }
  IMPLEMENT_REFCOUNTING(TwoInterfaces);

  void AfterMacro() {}
};

template <typename T>
concept HasPublicAfterMacro = requires(T t) {
  t.AfterMacro();
};

TEST(RefCounting, CountStartsAtZero) {
  auto* object = new Counted();
  EXPECT_FALSE(object->HasAtLeastOneRef());
  object->AddRef();
  EXPECT_TRUE(object->HasOneRef());
  EXPECT_TRUE(object->Release());
  EXPECT_EQ(liveObjects, 0);
}

TEST(RefCounting, LastReleaseDeletesAndReportsIt) {
  CefRefPtr<Counted> first = new Counted();
  CefRefPtr<Counted> second = first;
  EXPECT_FALSE(first->HasOneRef());
  second = nullptr;
  EXPECT_TRUE(first->HasOneRef());
  first->AddRef();
  EXPECT_FALSE(first->Release());
  first = nullptr;
  EXPECT_EQ(liveObjects, 0);
}

TEST(RefCounting, TwoInterfacesShareOneCount) {
  CefRefPtr<TwoInterfaces> app = new TwoInterfaces();
  CefRefPtr<CefApp> asApp = app;
  CefRefPtr<CefRenderProcessHandler> handler = asApp->GetRenderProcessHandler();
  EXPECT_EQ(static_cast<CefRenderProcessHandler*>(app.get()), handler.get());
  EXPECT_FALSE(handler->HasOneRef());
  app = nullptr;
  asApp = nullptr;
  EXPECT_TRUE(handler->HasOneRef());
  handler = nullptr;
  EXPECT_EQ(liveObjects, 0);
}

TEST(RefCounting, MacroLeavesTheClassBodyPrivate) {
  static_assert(!HasPublicAfterMacro<TwoInterfaces>);
  static_assert(!std::is_copy_constructible_v<Counted>);
}

TEST(RefCounting, CountIsAtomicAcrossThreads) {
  CefRefPtr<Counted> object = new Counted();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([object] {
      for (int i = 0; i < 10000; ++i) {
        CefRefPtr<Counted> copy = object;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_TRUE(object->HasOneRef());
}

TEST(RefPtr, MoveAndReleaseLeaveTheCountAlone) {
  CefRefPtr<Counted> first = new Counted();
  CefRefPtr<Counted> moved = std::move(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_TRUE(moved->HasOneRef());
  Counted* raw = moved.release();
  EXPECT_EQ(moved, nullptr);
  EXPECT_EQ(liveObjects, 1);
  EXPECT_TRUE(raw->Release());
  EXPECT_EQ(liveObjects, 0);
}

TEST(RefPtr, ComparesRawPointers) {
  CefRefPtr<Counted> a = new Counted();
  CefRefPtr<Counted> b = a;
  CefRawPtr<Counted> raw = a.get();
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a == raw);
  EXPECT_TRUE(a != nullptr);
  EXPECT_FALSE(static_cast<bool>(CefRefPtr<Counted>()));
  a.reset();
  EXPECT_EQ(a, nullptr);
}

}  // namespace
