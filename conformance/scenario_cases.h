#pragma once

#include <functional>
#include <string>
#include <vector>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

// The tables the scenarios run through. Expected texts are wire texts
// (WireText) or the page's own description of a value
// (conformance.describe in PageScripts::Prelude).
namespace conformance {

// A page value sent with squirrel.call and the message value it must be.
struct ValueCase {
  std::string name;
  std::string expression;  // page script
  std::string expected;    // wire text
};
const std::vector<ValueCase>& PageValueCases();

// Page script that must throw at once, and the Error's message.
struct ThrowCase {
  std::string name;
  std::string attempt;  // page script
  std::string message;
};
const std::vector<ThrowCase>& ThrowCases();

// A reply the game sends to a page call, and what the page must make of it.
struct ReplyCase {
  std::string name;
  std::function<CefRefPtr<CefValue>()> result;  // null: an Error reply
  std::string errorText;
  std::string pageSees;  // conformance.describe of the value, or "rejected ..."
};
const std::vector<ReplyCase>& ReplyCases();

// A game call into a page and its exact reply.
struct PathCase {
  std::string name;
  std::string path;
  std::function<CefRefPtr<CefListValue>()> arguments;  // may be null
  std::string reply;                                   // PageReply::Text()
};
const std::vector<PathCase>& PathCases();
// The page those paths run on.
std::string GameCallsPageScript();

// A message the renderer must drop without a reply.
struct MalformedCase {
  std::string name;
  std::function<CefRefPtr<CefProcessMessage>()> message;
};
const std::vector<MalformedCase>& MalformedCases();

// A keyed collection built by hand, malformed ones included: with both
// lists unless both are empty, and `isObject` adds "isObject": BOOL true.
CefRefPtr<CefValue> KeyedValue(const std::vector<CefRefPtr<CefValue>>& keys,
                               const std::vector<CefRefPtr<CefValue>>& values,
                               bool isObject);

// "LIST [LIST [... innermost ...]]" nested `levels` deep.
std::string NestedListText(int levels, const std::string& innermost);

}  // namespace conformance
