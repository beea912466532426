#include "bridge/page_call.h"

#include <string>
#include <string_view>

#include "bridge/path_segments.h"
#include "common/format.h"
#include "convert/cef_to_v8.h"
#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "convert/v8_to_cef.h"
#include "include/cef_v8.h"

namespace {

// An error text names the path, and may name a segment of it too: from a
// huge path it would make a message the channel refuses (losing the
// renderer), so it is cut to what one message carries, at a character.
void SendError(const CefRefPtr<CefFrame>& frame, int32_t id, std::string text) {
  const size_t most = kMaxConvertedBytes - EncodedBytesArray(0);
  if (text.size() > most) {
    size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    text.resize(cut);
  }
  frame->SendProcessMessage(PID_BROWSER,
                            ErrorMessage{id, text}.ToProcessMessage());
}

// Walks the path and calls or reads what it names, replying on `frame`.
void AnswerCall(const CefRefPtr<CefFrame>& frame,
                const CefRefPtr<CefV8Context>& context,
                const CallMessage& call) {
  CefRefPtr<CefV8Value> current = context->GetGlobal();
  CefRefPtr<CefV8Value> parent;
  for (std::string_view segment : SplitPathSegments(call.function)) {
    parent = current;
    current = parent ? parent->GetValue(std::string(segment)) : nullptr;
    if (!current || !current->IsValid() || !parent || !parent->IsValid()) {
      SendError(frame, call.id,
                FormatText("Object '{}' is not valid in path '{}'.", segment,
                           call.function));
      return;
    }
  }

  CefRefPtr<CefV8Value> result = current;
  if (current && current->IsFunction()) {
    result = current->ExecuteFunction(
        parent, CefListToV8ValueList(context, call.arguments));
  }
  if (!result || !result->IsValid()) {
    SendError(
        frame, call.id,
        FormatText("Function execution failed in path '{}'.", call.function));
    return;
  }
  frame->SendProcessMessage(
      PID_BROWSER, ResultMessage{call.id, V8ValueToCefValue(context, result)}
                       .ToProcessMessage());
}

}  // namespace

bool CallPageFunction(const CefRefPtr<CefFrame>& frame,
                      const CallMessage& call) {
  if (!frame) {
    return false;
  }
  CefRefPtr<CefV8Context> context = frame->GetV8Context();
  if (!context || !context->IsValid()) {
    return false;
  }
  context->Enter();
  AnswerCall(frame, context, call);
  // The page function may have navigated the frame away.
  if (context->IsValid()) {
    context->Exit();
  }
  return true;
}
