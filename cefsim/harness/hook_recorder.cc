#include "cefsim/hook_recorder.h"

#include "cefsim/value_text.h"

namespace cefsim {
namespace {

std::string FrameId(const CefRefPtr<CefFrame>& frame) {
  return frame ? frame->GetIdentifier().ToString() : "nullptr";
}

}  // namespace

void HookRecorder::OnWebKitInitialized() {
  events.push_back("WebKitInitialized");
}

void HookRecorder::OnBrowserCreated(CefRefPtr<CefBrowser> browser,
                                    CefRefPtr<CefDictionaryValue>) {
  events.push_back("BrowserCreated " +
                   std::to_string(browser->GetIdentifier()));
}

void HookRecorder::OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) {
  events.push_back("BrowserDestroyed " +
                   std::to_string(browser->GetIdentifier()));
}

void HookRecorder::OnContextCreated(CefRefPtr<CefBrowser> browser,
                                    CefRefPtr<CefFrame> frame,
                                    CefRefPtr<CefV8Context> context) {
  events.push_back("ContextCreated " + FrameId(frame));
  if (onContextCreated) {
    onContextCreated(browser, frame, context);
  }
}

void HookRecorder::OnContextReleased(CefRefPtr<CefBrowser> browser,
                                     CefRefPtr<CefFrame> frame,
                                     CefRefPtr<CefV8Context> context) {
  events.push_back("ContextReleased " + FrameId(frame));
  if (onContextReleased) {
    onContextReleased(browser, frame, context);
  }
}

void HookRecorder::OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser,
                                        CefRefPtr<CefFrame> frame,
                                        CefRefPtr<CefDOMNode> node) {
  std::string what = "null";
  if (node) {
    what = node->IsElement() ? "element" : "non-element";
  }
  events.push_back("FocusedNodeChanged " + FrameId(frame) + " " + what);
  if (onFocusedNodeChanged) {
    onFocusedNodeChanged(browser, frame, node);
  }
}

bool HookRecorder::OnProcessMessageReceived(
    CefRefPtr<CefBrowser> browser,
    CefRefPtr<CefFrame> frame,
    CefProcessId source_process,
    CefRefPtr<CefProcessMessage> message) {
  events.push_back("ProcessMessageReceived " + FrameId(frame) + " " +
                   MessageText(message));
  if (onProcessMessageReceived) {
    return onProcessMessageReceived(browser, frame, source_process, message);
  }
  return false;
}

}  // namespace cefsim
