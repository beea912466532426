#pragma once

#include <functional>
#include <utility>

#include "conformance/browser_events.h"
#include "include/cef_client.h"
#include "include/cef_frame_handler.h"
#include "include/cef_request_handler.h"
#include "include/cef_task.h"

// What every PageHost backend needs from CEF alike: a client that forwards
// the events the runner follows, and tasks made of functions.
namespace conformance {

// The browser-side part of a backend's client; backends add their own
// handlers and IMPLEMENT_REFCOUNTING.
class EventsClient : public CefClient,
                     public CefFrameHandler,
                     public CefRequestHandler {
 public:
  EventsClient() = default;
  EventsClient(const EventsClient&) = delete;
  EventsClient& operator=(const EventsClient&) = delete;

  void SetEvents(BrowserEvents* browserEvents) { events = browserEvents; }

  // CefClient methods:
  CefRefPtr<CefFrameHandler> GetFrameHandler() override { return this; }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId /*sourceProcess*/,
                                CefRefPtr<CefProcessMessage> message) override {
    if (events) {
      events->OnProcessMessageReceived(browser, frame, message);
    }
    // CEF ignores the return value on the browser side.
    return true;
  }

  // CefFrameHandler methods:
  void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame,
                       bool reattached) override {
    if (events) {
      events->OnFrameAttached(browser, frame, reattached);
    }
  }
  void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame) override {
    if (events) {
      events->OnFrameDetached(browser, frame);
    }
  }

  // CefRequestHandler methods:
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                 TerminationStatus status,
                                 int /*errorCode*/,
                                 const CefString& /*errorString*/) override {
    if (events) {
      events->OnRenderProcessTerminated(browser, static_cast<int>(status));
    }
  }

 private:
  BrowserEvents* events = nullptr;
};

// A std::function as a CEF task.
class FunctionTask : public CefTask {
 public:
  explicit FunctionTask(std::function<void()> function)
      : task(std::move(function)) {}
  FunctionTask(const FunctionTask&) = delete;
  FunctionTask& operator=(const FunctionTask&) = delete;

  // CefTask methods:
  void Execute() override { task(); }

 private:
  std::function<void()> task;

  IMPLEMENT_REFCOUNTING(FunctionTask);
};

}  // namespace conformance
