#include "bridge/v8_handler.h"

#include <span>
#include <string>
#include <utility>

#include "common/format.h"
#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "convert/v8_to_cef.h"
#include "include/cef_process_message.h"

namespace {

constexpr char kScriptObjectName[] = "squirrel";
constexpr char kCallFunctionName[] = "call";
constexpr char kEvalFunctionName[] = "eval";
// The browser-side function that compiles and runs Squirrel source text.
constexpr char kEvalTarget[] = "compilestring";

// An Error reply may not reject with an empty text: CEF refuses that and the
// promise would stay pending for ever.
constexpr char kUnknownErrorText[] = "Unknown error";

// Runs `settle` inside the frame's current context when the promise still
// belongs to a live page.
template <typename Settle>
void SettleInFrame(const CefRefPtr<CefFrame>& frame,
                   const CefRefPtr<CefV8Value>& promise,
                   Settle&& settle) {
  if (!frame) {
    return;
  }
  CefRefPtr<CefV8Context> context = frame->GetV8Context();
  if (!context || !context->IsValid()) {
    return;
  }
  context->Enter();
  if (promise && promise->IsValid() && promise->IsPromise()) {
    settle(promise);
  }
  context->Exit();
}

// Arguments `first` onwards, converted, as one list, sharing the message
// with `reservedBytes` of other content.
CefRefPtr<CefListValue> ConvertArguments(const CefRefPtr<CefV8Context>& context,
                                         const CefV8ValueList& arguments,
                                         size_t first,
                                         size_t reservedBytes = 0) {
  return V8ValuesToCefList(context, std::span(arguments).subspan(first),
                           reservedBytes);
}

}  // namespace

bool V8Handler::Execute(const CefString& name,
                        CefRefPtr<CefV8Value> /*object*/,
                        const CefV8ValueList& arguments,
                        CefRefPtr<CefV8Value>& retval,
                        CefString& exception) {
  // Failures return true with only the exception set: CEF throws the text
  // into page script only then (with false the page would get undefined).
  CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
  if (!context || !context->IsValid()) {
    exception = "Context is not valid!";
    return true;
  }

  std::string function;
  CefRefPtr<CefListValue> list;
  if (name == kCallFunctionName) {
    if (arguments.empty() || !arguments[0] || !arguments[0]->IsString()) {
      exception = FormatText("First argument of {} must be of string type",
                             name.ToString());
      return true;
    }
    function = arguments[0]->GetStringValue().ToString();
    // The name travels in the message too; when it leaves no room for the
    // arguments no message could carry the call, and sending one anyway
    // would bring the renderer down.
    const size_t functionBytes = EncodedBytesArray(function.size());
    if (functionBytes <= kMaxConvertedBytes) {
      list = ConvertArguments(context, arguments, 1, functionBytes);
    }
    if (!list) {
      exception =
          FormatText("Function name of {} is too long", name.ToString());
      return true;
    }
  } else if (name == kEvalFunctionName) {
    if (arguments.size() != 1 || !arguments[0] || !arguments[0]->IsString()) {
      exception = FormatText("First argument if {}() must be of string type",
                             name.ToString());
      return true;
    }
    list = ConvertArguments(context, arguments, 0,
                            EncodedBytesArray(sizeof(kEvalTarget) - 1));
    function = kEvalTarget;
  } else {
    exception = FormatText("Method {} not found in V8Handler::Execute()!",
                           name.ToString());
    return true;
  }

  CefRefPtr<CefV8Value> promise = CefV8Value::CreatePromise();
  retval = promise;
  // The id is taken only now, after every check and conversion passed.
  const CallMessage message(std::move(function), std::move(list));
  return SendCall(
      message,
      [promise](const CefRefPtr<CefFrame>& frame, CefRefPtr<CefV8Value> value) {
        SettleInFrame(frame, promise,
                      [&value](const CefRefPtr<CefV8Value>& settled) {
                        settled->ResolvePromise(value);
                      });
      },
      [promise](const CefRefPtr<CefFrame>& frame, const CefString& text) {
        SettleInFrame(
            frame, promise, [&text](const CefRefPtr<CefV8Value>& settled) {
              settled->RejectPromise(text.empty() ? CefString(kUnknownErrorText)
                                                  : text);
            });
      },
      promise);
}

bool V8Handler::SendCall(const CallMessage& message,
                         ResultCallback&& onResult,
                         ErrorCallback&& onError,
                         const CefRefPtr<CefV8Value>& promise) {
  SweepReleasedCalls();
  CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
  if (!context) {
    return false;
  }
  // A context without a frame could never receive the reply; registering
  // the call would only strand its promise.
  CefRefPtr<CefFrame> frame = context->GetFrame();
  if (!frame) {
    return false;
  }
  // try_emplace keeps an entry already registered under the id.
  const bool registered =
      resultCallbacks.try_emplace(message.id, std::move(onResult)).second;
  errorCallbacks.try_emplace(message.id, std::move(onError));
  if (registered && promise) {
    callPromises.try_emplace(message.id, promise);
  }
  frame->SendProcessMessage(PID_BROWSER, message.ToProcessMessage());
  return true;
}

std::optional<ResultCallback> V8Handler::FindResultCallback(int32_t id) const {
  auto it = resultCallbacks.find(id);
  if (it == resultCallbacks.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<ErrorCallback> V8Handler::FindErrorCallback(int32_t id) const {
  auto it = errorCallbacks.find(id);
  if (it == errorCallbacks.end()) {
    return std::nullopt;
  }
  return it->second;
}

void V8Handler::RemovePendingCall(int32_t id) {
  resultCallbacks.erase(id);
  errorCallbacks.erase(id);
  callPromises.erase(id);
}

void V8Handler::SweepReleasedCalls() {
  if (!sweepDue) {
    return;
  }
  sweepDue = false;
  for (auto it = callPromises.begin(); it != callPromises.end();) {
    // A promise is invalid from the moment its context is released.
    if (it->second->IsValid()) {
      ++it;
      continue;
    }
    resultCallbacks.erase(it->first);
    errorCallbacks.erase(it->first);
    it = callPromises.erase(it);
  }
}

void InstallScriptObject(const CefRefPtr<CefV8Context>& context,
                         const CefRefPtr<V8Handler>& handler) {
  if (!context || !handler) {
    return;
  }
  CefRefPtr<CefV8Value> global = context->GetGlobal();
  CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
  if (!global || !object) {
    return;
  }
  // Attached before its functions are added, as page script will see it.
  global->SetValue(kScriptObjectName, object, V8_PROPERTY_ATTRIBUTE_NONE);
  for (const char* functionName : {kCallFunctionName, kEvalFunctionName}) {
    object->SetValue(functionName,
                     CefV8Value::CreateFunction(functionName, handler),
                     V8_PROPERTY_ATTRIBUTE_NONE);
  }
}
