#include "launcher/cef_launcher_application.h"

#include <variant>

#include "bridge/page_call.h"
#include "convert/cef_to_v8.h"
#include "include/cef_dom.h"
#include "include/cef_frame.h"
#include "launcher/audio_service_hook.h"

void CefLauncherApplication::OnBeforeCommandLineProcessing(
    const CefString& process_type,
    CefRefPtr<CefCommandLine> command_line) {
  CefApplication::OnBeforeCommandLineProcessing(process_type, command_line);
  RunAudioServiceHook();
}

void CefLauncherApplication::OnContextCreated(CefRefPtr<CefBrowser> /*browser*/,
                                              CefRefPtr<CefFrame> /*frame*/,
                                              CefRefPtr<CefV8Context> context) {
  if (!v8Handler) {
    v8Handler = new V8Handler();
  }
  v8Handler->OnContextCreated();
  InstallScriptObject(context, v8Handler);
}

void CefLauncherApplication::OnContextReleased(
    CefRefPtr<CefBrowser> /*browser*/,
    CefRefPtr<CefFrame> /*frame*/,
    CefRefPtr<CefV8Context> /*context*/) {
  if (v8Handler) {
    v8Handler->OnContextReleased();
  }
}

void CefLauncherApplication::OnFocusedNodeChanged(
    CefRefPtr<CefBrowser> /*browser*/,
    CefRefPtr<CefFrame> frame,
    CefRefPtr<CefDOMNode> node) {
  if (!frame) {
    return;
  }
  const FocusChangeMessage message{node && node->IsElement()};
  frame->SendProcessMessage(PID_BROWSER, message.ToProcessMessage());
}

bool CefLauncherApplication::OnProcessMessageReceived(
    CefRefPtr<CefBrowser> /*browser*/,
    CefRefPtr<CefFrame> frame,
    CefProcessId /*source_process*/,
    CefRefPtr<CefProcessMessage> message) {
  std::optional<BridgeMessage> decoded = ParseBridgeMessage(message);
  if (!decoded) {
    return false;
  }
  return std::visit(
      [this, &frame](const auto& record) {
        using Record = std::decay_t<decltype(record)>;
        // A reply can only belong to a call of this process's handler.
        if constexpr (std::is_same_v<Record, ResultMessage> ||
                      std::is_same_v<Record, ErrorMessage>) {
          if (!v8Handler) {
            return false;
          }
        }
        return HandleMessage(frame, record);
      },
      *decoded);
}

bool CefLauncherApplication::HandleMessage(const CefRefPtr<CefFrame>& frame,
                                           const CallMessage& message) {
  return CallPageFunction(frame, message);
}

bool CefLauncherApplication::HandleMessage(const CefRefPtr<CefFrame>& frame,
                                           const ResultMessage& message) {
  if (!v8Handler) {
    return false;
  }
  // A copy: page script run while settling may start calls of its own.
  std::optional<ResultCallback> callback =
      v8Handler->FindResultCallback(message.id);
  if (!callback) {
    return false;
  }
  CefRefPtr<CefV8Context> context = frame ? frame->GetV8Context() : nullptr;
  // A context that cannot be entered can hold no live promise either.
  if (context && !context->IsValid()) {
    context = nullptr;
  }
  if (context) {
    context->Enter();
  }
  (*callback)(frame, CefValueToV8Value(context, message.value));
  // Leaving the outermost context runs the page's promise reactions.
  if (context) {
    context->Exit();
  }
  v8Handler->RemovePendingCall(message.id);
  return true;
}

bool CefLauncherApplication::HandleMessage(const CefRefPtr<CefFrame>& frame,
                                           const ErrorMessage& message) {
  if (!v8Handler) {
    return false;
  }
  std::optional<ErrorCallback> callback =
      v8Handler->FindErrorCallback(message.id);
  if (!callback) {
    return false;
  }
  (*callback)(frame, message.message);
  v8Handler->RemovePendingCall(message.id);
  return true;
}

bool CefLauncherApplication::HandleMessage(
    const CefRefPtr<CefFrame>& /*frame*/,
    const FocusChangeMessage& /*message*/) {
  return false;
}
