#pragma once

#include <functional>
#include <string>
#include <vector>

#include "include/cef_app.h"

// Test doubles for the program side of CEF: an application that records
// every render-process hook and lets a test act inside each one, and a
// script handler built from a function.
namespace cefsim {

class HookRecorder : public CefApp, public CefRenderProcessHandler {
 public:
  using ContextHook = std::function<void(CefRefPtr<CefBrowser>,
                                         CefRefPtr<CefFrame>,
                                         CefRefPtr<CefV8Context>)>;
  using FocusHook = std::function<
      void(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefDOMNode>)>;
  using MessageHook = std::function<bool(CefRefPtr<CefBrowser>,
                                         CefRefPtr<CefFrame>,
                                         CefProcessId,
                                         CefRefPtr<CefProcessMessage>)>;

  HookRecorder() = default;
  HookRecorder(const HookRecorder&) = delete;
  HookRecorder& operator=(const HookRecorder&) = delete;

  // One line per hook call, e.g. "ContextCreated 1-1", "FocusedNodeChanged
  // 1-2 element", "ProcessMessageReceived 1-1 qrx [INT 3, BOOL true]".
  std::vector<std::string> events;
  ContextHook onContextCreated;
  ContextHook onContextReleased;
  FocusHook onFocusedNodeChanged;
  MessageHook onProcessMessageReceived;

  // CefApp methods:
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override {
    return this;
  }

  // CefRenderProcessHandler methods:
  void OnWebKitInitialized() override;
  void OnBrowserCreated(CefRefPtr<CefBrowser> browser,
                        CefRefPtr<CefDictionaryValue> extra_info) override;
  void OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) override;
  void OnContextCreated(CefRefPtr<CefBrowser> browser,
                        CefRefPtr<CefFrame> frame,
                        CefRefPtr<CefV8Context> context) override;
  void OnContextReleased(CefRefPtr<CefBrowser> browser,
                         CefRefPtr<CefFrame> frame,
                         CefRefPtr<CefV8Context> context) override;
  void OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser,
                            CefRefPtr<CefFrame> frame,
                            CefRefPtr<CefDOMNode> node) override;
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId source_process,
                                CefRefPtr<CefProcessMessage> message) override;

 private:
  IMPLEMENT_REFCOUNTING(HookRecorder);
};

// A CefV8Handler whose Execute is a function.
class FunctionHandler : public CefV8Handler {
 public:
  using Body = std::function<bool(const CefString& name,
                                  CefRefPtr<CefV8Value> object,
                                  const CefV8ValueList& arguments,
                                  CefRefPtr<CefV8Value>& retval,
                                  CefString& exception)>;

  explicit FunctionHandler(Body body) : body(std::move(body)) {}
  FunctionHandler(const FunctionHandler&) = delete;
  FunctionHandler& operator=(const FunctionHandler&) = delete;

  // CefV8Handler methods:
  bool Execute(const CefString& name,
               CefRefPtr<CefV8Value> object,
               const CefV8ValueList& arguments,
               CefRefPtr<CefV8Value>& retval,
               CefString& exception) override {
    return body(name, object, arguments, retval, exception);
  }

 private:
  Body body;

  IMPLEMENT_REFCOUNTING(FunctionHandler);
};

}  // namespace cefsim
