#pragma once

#include "bridge/bridge_message.h"
#include "bridge/v8_handler.h"
#include "include/cef_render_process_handler.h"
#include "launcher/cef_application.h"

// The application object of every subprocess: the common hooks, the audio
// service hook and, in renderers, the script bridge.
class CefLauncherApplication : public CefApplication,
                               public CefRenderProcessHandler {
 public:
  CefLauncherApplication() = default;
  CefLauncherApplication(const CefLauncherApplication&) = delete;
  CefLauncherApplication& operator=(const CefLauncherApplication&) = delete;

  // CefApp methods:
  void OnBeforeCommandLineProcessing(
      const CefString& process_type,
      CefRefPtr<CefCommandLine> command_line) override;
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override {
    return this;
  }

  // CefRenderProcessHandler methods:
  void OnContextCreated(CefRefPtr<CefBrowser> browser,
                        CefRefPtr<CefFrame> frame,
                        CefRefPtr<CefV8Context> context) override;
  // Pending calls of a released context go at the next call or context
  // creation (V8Handler::OnContextReleased).
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

  // Receipt of each kind of bridge message; true when it was handled.
  bool HandleMessage(const CefRefPtr<CefFrame>& frame,
                     const CallMessage& message);
  bool HandleMessage(const CefRefPtr<CefFrame>& frame,
                     const ResultMessage& message);
  bool HandleMessage(const CefRefPtr<CefFrame>& frame,
                     const ErrorMessage& message);
  bool HandleMessage(const CefRefPtr<CefFrame>& frame,
                     const FocusChangeMessage& message);

 private:
  // Created with the first script context and shared by all of them.
  CefRefPtr<V8Handler> v8Handler;

  IMPLEMENT_REFCOUNTING(CefLauncherApplication);
};
