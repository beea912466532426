#include "demo_session.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/browser_side.h"
#include "cefsim/demo_script_watch.h"
#include "cefsim/peer_client.h"
#include "cefsim/renderer_process.h"
#include "cefsim/transit.h"
#include "cefsim/value_text.h"
#include "convert/cef_to_v8.h"
#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "convert/v8_to_cef.h"
#include "demo_peer_api.h"
#include "demo_trace_text.h"
#include "peer/peer.h"
#include "peer/values.h"

namespace cefsim {
namespace {

// A peer that keeps awaiting peer.idle() with nothing else happening would
// never let the run end.
constexpr int kMaxIdleRounds = 1000;

bool ReadFile(const std::string& path, std::string& contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  contents = text.str();
  return !file.bad();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return std::string();
  }
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// "    at file:line: source" under a problem, when the place is known.
std::string PlaceLine(const std::string& script,
                      int line,
                      const std::string& detail) {
  if (script.empty() && detail.empty()) {
    return std::string();
  }
  std::string text = "    at " + (script.empty() ? "?" : script);
  if (line > 0) {
    text += ":" + std::to_string(line);
  }
  if (!detail.empty()) {
    text += ": " + detail;
  }
  return text;
}

// The message value behind a value helper's result (peer.double(),
// peer.object(), peer.list() ...). It lives as V8 user data, which script
// cannot set or read: no ordinary peer value can pass for a marker.
class MarkerData : public CefBaseRefCounted {
 public:
  explicit MarkerData(CefRefPtr<CefValue> markedValue)
      : value(std::move(markedValue)) {}
  MarkerData(const MarkerData&) = delete;
  MarkerData& operator=(const MarkerData&) = delete;

  CefRefPtr<CefValue> Value() const { return value->Copy(); }

 private:
  CefRefPtr<CefValue> value;

  IMPLEMENT_REFCOUNTING(MarkerData);
};

// Ends the process when a run takes too long: a page or peer script that
// never finishes must not hang whoever started the demo.
class Watchdog {
 public:
  Watchdog(int seconds, std::ostream& out) {
    if (seconds <= 0) {
      return;
    }
    thread = std::thread([this, seconds, &out] {
      std::unique_lock<std::mutex> lock(mutex);
      if (!done.wait_for(lock, std::chrono::seconds(seconds),
                         [this] { return finished; })) {
        out << "demo: FAILED: still running after " << seconds
            << " s (a script that never finishes?)" << std::endl;
        std::fflush(nullptr);
        std::_Exit(kDemoTimedOut);
      }
    });
  }
  ~Watchdog() {
    if (!thread.joinable()) {
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
    }
    done.notify_all();
    thread.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread thread;
};

// Forwards every renderer hook to the program's handler and tells the
// session about each message the browser delivers to the renderer, with
// what the program's hook answered.
class TapHandler : public CefRenderProcessHandler {
 public:
  using Tap = std::function<void(CefRefPtr<CefFrame> frame,
                                 CefRefPtr<CefProcessMessage> message,
                                 std::optional<bool> handled)>;
  TapHandler(CefRefPtr<CefRenderProcessHandler> programHandler, Tap onMessage)
      : inner(std::move(programHandler)), tap(std::move(onMessage)) {}
  TapHandler(const TapHandler&) = delete;
  TapHandler& operator=(const TapHandler&) = delete;

  void Detach() { tap = nullptr; }

  // CefRenderProcessHandler methods:
  void OnWebKitInitialized() override { inner->OnWebKitInitialized(); }
  void OnBrowserCreated(CefRefPtr<CefBrowser> browser,
                        CefRefPtr<CefDictionaryValue> extraInfo) override {
    inner->OnBrowserCreated(browser, extraInfo);
  }
  void OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) override {
    inner->OnBrowserDestroyed(browser);
  }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override {
    return inner->GetLoadHandler();
  }
  void OnContextCreated(CefRefPtr<CefBrowser> browser,
                        CefRefPtr<CefFrame> frame,
                        CefRefPtr<CefV8Context> context) override {
    inner->OnContextCreated(browser, frame, context);
  }
  void OnContextReleased(CefRefPtr<CefBrowser> browser,
                         CefRefPtr<CefFrame> frame,
                         CefRefPtr<CefV8Context> context) override {
    inner->OnContextReleased(browser, frame, context);
  }
  void OnUncaughtException(CefRefPtr<CefBrowser> browser,
                           CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context,
                           CefRefPtr<CefV8Exception> exception,
                           CefRefPtr<CefV8StackTrace> stackTrace) override {
    inner->OnUncaughtException(browser, frame, context, exception, stackTrace);
  }
  void OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser,
                            CefRefPtr<CefFrame> frame,
                            CefRefPtr<CefDOMNode> node) override {
    inner->OnFocusedNodeChanged(browser, frame, node);
  }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message) override {
    if (tap) {
      tap(frame, message, std::nullopt);
    }
    const bool handled =
        inner->OnProcessMessageReceived(browser, frame, sourceProcess, message);
    if (tap) {
      tap(frame, message, handled);
    }
    return handled;
  }

 private:
  CefRefPtr<CefRenderProcessHandler> inner;
  Tap tap;

  IMPLEMENT_REFCOUNTING(TapHandler);
};

// The program's application object with its render-process handler tapped.
class TapApp : public CefApp {
 public:
  TapApp(CefRefPtr<CefApp> programApp, CefRefPtr<TapHandler> tapHandler)
      : inner(std::move(programApp)), handler(std::move(tapHandler)) {}
  TapApp(const TapApp&) = delete;
  TapApp& operator=(const TapApp&) = delete;

  // CefApp methods:
  void OnBeforeCommandLineProcessing(
      const CefString& processType,
      CefRefPtr<CefCommandLine> commandLine) override {
    inner->OnBeforeCommandLineProcessing(processType, commandLine);
  }
  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    inner->OnRegisterCustomSchemes(registrar);
  }
  CefRefPtr<CefResourceBundleHandler> GetResourceBundleHandler() override {
    return inner->GetResourceBundleHandler();
  }
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override {
    return inner->GetBrowserProcessHandler();
  }
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override {
    return handler;
  }

 private:
  CefRefPtr<CefApp> inner;
  CefRefPtr<TapHandler> handler;

  IMPLEMENT_REFCOUNTING(TapApp);
};

class DemoSession;

// The native functions under the peer API script.
class PeerNative : public CefV8Handler {
 public:
  explicit PeerNative(DemoSession* owner) : session(owner) {}
  PeerNative(const PeerNative&) = delete;
  PeerNative& operator=(const PeerNative&) = delete;

  // V8 may keep the functions after the run; they then do nothing.
  void Detach() { session = nullptr; }

  // CefV8Handler methods:
  bool Execute(const CefString& name,
               CefRefPtr<CefV8Value> object,
               const CefV8ValueList& arguments,
               CefRefPtr<CefV8Value>& retval,
               CefString& exception) override;

 private:
  DemoSession* session;

  IMPLEMENT_REFCOUNTING(PeerNative);
};

// The peer's name for the main frame.
constexpr char kMainFrameName[] = "main";

class DemoSession {
 public:
  DemoSession(CefRefPtr<CefApp> app,
              const DemoOptions& demoOptions,
              std::ostream& output)
      : application(std::move(app)),
        options(demoOptions),
        out(output),
        limits(demoOptions.fullTrace ? kFullTrace : kShortTrace) {}
  DemoSession(const DemoSession&) = delete;
  DemoSession& operator=(const DemoSession&) = delete;

  int Run();

  // The native functions; false with `exception` set makes script throw.
  using Arguments = CefV8ValueList;
  bool Native(const std::string& name,
              const Arguments& arguments,
              CefRefPtr<CefV8Value>& retval,
              std::string& exception);

 private:
  struct Incoming {
    std::string frameId;
    CefRefPtr<CefProcessMessage> message;
  };
  // Something the browser side does to the renderer, in order, as a task of
  // its own; its result settles `promise`, when there is one.
  struct Action {
    std::function<CefRefPtr<CefV8Value>()> run;
    CefRefPtr<CefV8Value> promise;
  };
  // A frame the peer addresses by name. `id` is empty until the action
  // that opens it has run.
  struct Frame {
    std::string name;
    std::string id;
    std::string url;
    size_t consoleShown = 0;
    std::vector<std::string> console;
  };
  // A call of the page's, with the library's one answer to it.
  struct PendingPageCall {
    std::string function;
    std::string frameId;
    cef_launcher_peer::Reply reply;
  };
  enum class Stop { kNone, kEnded, kPageScriptError, kPeerScriptError };

  // Output.
  void Print(const std::string& line);
  void FlushPageConsole();
  void PrintProblem(const std::string& prefix, const ScriptProblem& problem);
  std::string PageLabel(const std::string& frameId) const;

  // Running scripts.
  bool InstallPeerApi();
  void RunPageScript(const std::string& code,
                     const std::string& file,
                     const std::string& onFrameId);
  void RunPeerScript(const std::string& code, const std::string& file);
  void PeerScriptError(CefRefPtr<CefV8Exception> exception);
  void PeerMisuse(const std::string& text);
  std::pair<std::string, int> PeerCaller();

  // The loop.
  void Loop();
  void PassTime(int64_t until);
  void AfterStep();
  bool ReportPeerRejections();
  void RunAction(Action action);
  void HandleIncoming(const Incoming& incoming);
  int Dispatch(const std::function<void(CefRefPtr<CefV8Value> event)>& fill);
  int Finish();
  void Teardown();

  // Frames.
  Frame* FrameNamed(const std::string& name);
  const Frame* FrameWithId(const std::string& id) const;

  // Browser-side actions.
  void Queue(std::function<CefRefPtr<CefV8Value>()> run,
             CefRefPtr<CefV8Value> promise = nullptr);
  CefRefPtr<CefV8Value> QueueWithPromise(
      std::function<CefRefPtr<CefV8Value>()> run);
  bool Deliver(const std::string& frameName,
               CefRefPtr<CefProcessMessage> message);
  int PumpBrowserSide();
  void Delivered(CefRefPtr<CefFrame> frame,
                 CefRefPtr<CefProcessMessage> message,
                 std::optional<bool> handled);
  void OnPageCall(const cef_launcher_peer::PageCall& call,
                  cef_launcher_peer::Reply reply);
  bool Answer(int32_t id,
              bool isError,
              CefRefPtr<CefValue> value,
              const std::string& text);
  void CallSettled(int token, const cef_launcher_peer::PageReply& reply);
  void FrameChanged();

  // Values.
  CefRefPtr<CefValue> PeerValue(const CefRefPtr<CefV8Value>& value);
  CefRefPtr<CefListValue> PeerList(const CefRefPtr<CefV8Value>& array);
  bool MakeMarker(const Arguments& arguments,
                  CefRefPtr<CefV8Value>& retval,
                  std::string& exception);
  CefRefPtr<CefV8Value> ScriptValue(const CefRefPtr<CefValue>& value);
  CefRefPtr<CefV8Value> StringArray(const std::vector<std::string>& texts);

  bool Stopped() const { return stop != Stop::kNone; }

  CefRefPtr<CefApp> application;
  DemoOptions options;
  std::ostream& out;
  const cef_launcher_peer::TextLimits limits;

  std::unique_ptr<RendererProcess> process;
  CefRefPtr<TapHandler> tap;
  // The browser process: cefsim's browser side with the peer library wired
  // into the host's client. Messages from the renderer bypass the client:
  // the session hands them to the library itself, one step at a time.
  std::unique_ptr<BrowserSide> hostSide;
  std::unique_ptr<cef_launcher_peer::Peer> library;
  CefRefPtr<PeerClient> client;
  size_t browserLogShown = 0;
  int deliveries = 0;
  bool lastDeliveryHandled = false;
  std::unique_ptr<ScriptProblemWatch> watch;
  CefRefPtr<CefV8Context> peerContext;
  CefRefPtr<PeerNative> native;
  CefRefPtr<CefV8Value> dispatcher;
  std::vector<Frame> frames;  // the main frame first
  std::string pageSource;

  std::deque<Action> actions;
  std::deque<Incoming> inbox;
  // peer.wait(): when on the simulated clock each promise settles.
  std::multimap<int64_t, CefRefPtr<CefV8Value>> waits;
  // The value helpers' markers, by the user data that brands them.
  std::map<const CefBaseRefCounted*, CefRefPtr<MarkerData>> markers;

  // The record.
  std::vector<std::string> pageErrors;
  std::deque<ScriptProblem> errorPlaces;
  std::vector<ScriptProblem> peerErrors;  // uncaught, not yet reported
  std::map<int32_t, PendingPageCall> unansweredPageCalls;
  // peer.call()s not settled yet, by their token; waitReply()s by id.
  std::map<int, std::string> awaitedCalls;
  std::map<int32_t, std::string> awaitedReplies;
  int nextCallToken = 0;
  int checks = 0;
  int failures = 0;
  Stop stop = Stop::kNone;
  std::string pageScriptFailure;
  int endCode = 0;
};

bool PeerNative::Execute(const CefString& name,
                         CefRefPtr<CefV8Value> /*object*/,
                         const CefV8ValueList& arguments,
                         CefRefPtr<CefV8Value>& retval,
                         CefString& exception) {
  if (!session) {
    return true;
  }
  std::string text;
  if (!session->Native(name.ToString(), arguments, retval, text)) {
    exception = text;
  }
  return true;
}

void DemoSession::Print(const std::string& line) {
  FlushPageConsole();
  out << line << '\n' << std::flush;
}

// "page" for the main frame, `page[name]` for the others.
std::string DemoSession::PageLabel(const std::string& frameId) const {
  const Frame* frame = FrameWithId(frameId);
  if (frame && frame->name == kMainFrameName) {
    return "page";
  }
  return "page[" + (frame ? frame->name : frameId) + "]";
}

// Console lines happened before whatever is printed next; errors get the
// place V8 reported for them.
void DemoSession::FlushPageConsole() {
  if (!process || !watch) {
    return;
  }
  for (ScriptProblem& problem : watch->TakeUncaughtErrors(false)) {
    errorPlaces.push_back(std::move(problem));
  }
  for (Frame& frame : frames) {
    if (frame.id.empty()) {
      continue;
    }
    const std::vector<std::string> lines = process->Console(frame.id);
    const std::string label = PageLabel(frame.id);
    for (; frame.consoleShown < lines.size(); ++frame.consoleShown) {
      const std::string& line = lines[frame.consoleShown];
      frame.console.push_back(line);
      out << label << ' ' << line << '\n';
      static constexpr char kErrorPrefix[] = "error: ";
      if (line.rfind(kErrorPrefix, 0) != 0 || errorPlaces.empty() ||
          errorPlaces.front().text != line.substr(sizeof(kErrorPrefix) - 1)) {
        continue;
      }
      const ScriptProblem& place = errorPlaces.front();
      pageErrors.push_back(place.text);
      const std::string at =
          PlaceLine(place.script, place.line, Trimmed(place.sourceLine));
      if (!at.empty()) {
        out << at << '\n';
      }
      errorPlaces.pop_front();
    }
  }
  out << std::flush;
}

void DemoSession::PrintProblem(const std::string& prefix,
                               const ScriptProblem& problem) {
  Print(prefix + problem.text);
  const std::string at =
      PlaceLine(problem.script, problem.line, Trimmed(problem.sourceLine));
  if (!at.empty()) {
    Print(at);
  }
}

bool DemoSession::InstallPeerApi() {
  native = new PeerNative(this);
  peerContext->Enter();
  CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
  for (const char* function :
       {"print",     "setDispatcher", "answer",     "send",   "call",
        "reply",     "replyError",    "navigate",   "reload", "focus",
        "openFrame", "removeFrame",   "end",        "check",  "misuse",
        "valueText", "marker",        "awaitReply", "wait",   "pageConsole",
        "pageErrors"}) {
    object->SetValue(function, CefV8Value::CreateFunction(function, native),
                     V8_PROPERTY_ATTRIBUTE_NONE);
  }
  CefRefPtr<CefV8Value> install;
  CefRefPtr<CefV8Exception> exception;
  bool installed = peerContext->Eval(kDemoPeerApiSource, kDemoPeerApiUrl, 1,
                                     install, exception) &&
                   install->IsFunction();
  if (installed) {
    installed = install->ExecuteFunctionWithContext(peerContext, nullptr,
                                                    {object}) != nullptr;
    exception = install->GetException();
  }
  peerContext->Exit();
  if (!installed) {
    Print("demo: FAILED: the peer API did not install" +
          (exception ? ": " + exception->GetMessage().ToString()
                     : std::string()));
    stop = Stop::kPeerScriptError;
  }
  return installed;
}

void DemoSession::RunPageScript(const std::string& code,
                                const std::string& file,
                                const std::string& onFrameId) {
  if (code.empty()) {
    return;
  }
  const ScriptOutcome outcome = process->RunScript(onFrameId, code, file, 1);
  if (outcome.ok) {
    return;
  }
  // The console showed the error with its place; this names the script.
  pageScriptFailure = file + " (line " + std::to_string(outcome.line) + ")";
  stop = Stop::kPageScriptError;
}

void DemoSession::RunPeerScript(const std::string& code,
                                const std::string& file) {
  if (code.empty()) {
    return;
  }
  CefRefPtr<CefV8Value> completion;
  CefRefPtr<CefV8Exception> exception;
  if (!peerContext->Eval(code, file, 1, completion, exception) && exception) {
    PeerScriptError(exception);
  }
}

void DemoSession::PeerScriptError(CefRefPtr<CefV8Exception> exception) {
  if (stop == Stop::kPeerScriptError) {
    return;  // the first error is the one that matters
  }
  ScriptProblem problem;
  problem.text = exception->GetMessage().ToString();
  problem.script = exception->GetScriptResourceName().ToString();
  problem.line = exception->GetLineNumber();
  problem.sourceLine = exception->GetSourceLine().ToString();
  // A misuse was reported with its place already.
  if (problem.script != kDemoPeerApiUrl) {
    PrintProblem("peer error: ", problem);
  }
  stop = Stop::kPeerScriptError;
}

std::pair<std::string, int> DemoSession::PeerCaller() {
  CefRefPtr<CefV8StackTrace> trace = CefV8StackTrace::GetCurrent(32);
  for (int i = 0; trace && i < trace->GetFrameCount(); ++i) {
    CefRefPtr<CefV8StackFrame> frame = trace->GetFrame(i);
    const std::string script = frame->GetScriptName().ToString();
    if (script != kDemoPeerApiUrl) {
      return {script, frame->GetLineNumber()};
    }
  }
  return {std::string(), 0};
}

void DemoSession::PeerMisuse(const std::string& text) {
  const auto [script, line] = PeerCaller();
  Print("peer error: " + text);
  const std::string at = PlaceLine(script, line, "");
  if (!at.empty()) {
    Print(at);
  }
  stop = Stop::kPeerScriptError;
}

DemoSession::Frame* DemoSession::FrameNamed(const std::string& name) {
  for (Frame& frame : frames) {
    if (frame.name == name) {
      return &frame;
    }
  }
  return nullptr;
}

const DemoSession::Frame* DemoSession::FrameWithId(
    const std::string& id) const {
  for (const Frame& frame : frames) {
    if (!id.empty() && frame.id == id) {
      return &frame;
    }
  }
  return nullptr;
}

// A marker stands for its message value; anything else is converted by the
// program's own conversion.
CefRefPtr<CefValue> DemoSession::PeerValue(const CefRefPtr<CefV8Value>& value) {
  if (value && value->IsObject()) {
    auto marker = markers.find(value->GetUserData().get());
    if (marker != markers.end()) {
      return marker->second->Value();
    }
  }
  std::vector<ScriptProblem> earlier = watch->TakeUncaughtErrors(true);
  peerErrors.insert(peerErrors.end(), earlier.begin(), earlier.end());
  CefRefPtr<CefValue> converted = V8ValueToCefValue(peerContext, value);
  // A getter that throws makes the value NULL; CEF also reports such throws
  // as uncaught, which is no error of the peer script here.
  watch->TakeUncaughtErrors(true);
  return converted;
}

// The peer values of a script array, one by one.
CefRefPtr<CefListValue> DemoSession::PeerList(
    const CefRefPtr<CefV8Value>& array) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  for (int i = 0; array && array->IsArray() && i < array->GetArrayLength();
       ++i) {
    list->SetValue(static_cast<size_t>(i), PeerValue(array->GetValue(i)));
  }
  return list;
}

// marker(kind, ...): a branded object standing for one message value. The
// API script has checked the arguments.
bool DemoSession::MakeMarker(const Arguments& arguments,
                             CefRefPtr<CefV8Value>& retval,
                             std::string& exception) {
  auto argument = [&arguments](size_t index) -> CefRefPtr<CefV8Value> {
    return index < arguments.size() ? arguments[index]
                                    : CefV8Value::CreateUndefined();
  };
  const std::string kind = argument(0)->IsString()
                               ? argument(0)->GetStringValue().ToString()
                               : std::string();
  namespace values = cef_launcher_peer;
  // The items of a script array, one by one.
  auto items = [this](const CefRefPtr<CefV8Value>& array) {
    std::vector<CefRefPtr<CefValue>> converted;
    for (int i = 0; array->IsArray() && i < array->GetArrayLength(); ++i) {
      converted.push_back(PeerValue(array->GetValue(i)));
    }
    return converted;
  };
  CefRefPtr<CefValue> value;
  if (kind == "int") {
    value = values::Int(argument(1)->GetIntValue());
  } else if (kind == "double") {
    value = values::Double(argument(1)->GetDoubleValue());
  } else if (kind == "list") {
    value = values::List(items(argument(1)));
  } else if (kind == "keyed") {
    // A Map's or an object's keyed form, rebuilt around markers inside it.
    const std::vector<CefRefPtr<CefValue>> keys = items(argument(1));
    const std::vector<CefRefPtr<CefValue>> entries = items(argument(2));
    values::MapEntries map;
    for (size_t i = 0; i < keys.size() && i < entries.size(); ++i) {
      map.emplace_back(keys[i], entries[i]);
    }
    value = values::Map(map);
  } else if (kind == "dictionary") {
    // Exactly these keys, whatever they say: no builder makes this.
    const std::vector<CefRefPtr<CefValue>> keys = items(argument(1));
    const std::vector<CefRefPtr<CefValue>> entries = items(argument(2));
    CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
    for (size_t i = 0; i < keys.size() && i < entries.size(); ++i) {
      dictionary->SetValue(keys[i]->GetString(), entries[i]);
    }
    value = CefValue::Create();
    value->SetDictionary(dictionary);
  } else if (kind == "object") {
    // The fields as converted, marked for the page as a plain object.
    // Held while its entries, which refer into it, are read.
    CefRefPtr<CefValue> converted = PeerValue(argument(1));
    values::ReadResult<values::KeyedCollection> fields =
        values::ReadKeyed(converted);
    values::ObjectFields object;
    for (const auto& [key, entry] :
         fields ? fields->entries : values::KeyedCollection().entries) {
      object.emplace_back(key->GetString().ToString(), entry);
    }
    value =
        fields && !fields->malformed ? values::Object(object) : values::Null();
  } else {
    exception = "peer: no value helper " + kind;
    return false;
  }
  CefRefPtr<MarkerData> data = new MarkerData(value);
  retval = CefV8Value::CreateObject(nullptr, nullptr);
  if (!retval->SetUserData(data)) {
    exception = "peer: the value helper could not mark its value";
    return false;
  }
  markers.emplace(data.get(), data);
  return true;
}

CefRefPtr<CefV8Value> DemoSession::ScriptValue(
    const CefRefPtr<CefValue>& value) {
  CefRefPtr<CefV8Value> converted =
      value ? CefValueToV8Value(peerContext, value) : nullptr;
  return converted ? converted : CefV8Value::CreateNull();
}

CefRefPtr<CefV8Value> DemoSession::StringArray(
    const std::vector<std::string>& texts) {
  CefRefPtr<CefV8Value> array =
      CefV8Value::CreateArray(static_cast<int>(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) {
    array->SetValue(static_cast<int>(i), CefV8Value::CreateString(texts[i]));
  }
  return array;
}

void DemoSession::Queue(std::function<CefRefPtr<CefV8Value>()> run,
                        CefRefPtr<CefV8Value> promise) {
  actions.push_back(Action{std::move(run), std::move(promise)});
}

CefRefPtr<CefV8Value> DemoSession::QueueWithPromise(
    std::function<CefRefPtr<CefV8Value>()> run) {
  CefRefPtr<CefV8Value> promise = CefV8Value::CreatePromise();
  Queue(std::move(run), promise);
  return promise;
}

// A message to a frame through its browser-side CefFrame; true when the
// renderer's hook handled it.
bool DemoSession::Deliver(const std::string& frameName,
                          CefRefPtr<CefProcessMessage> message) {
  const Frame* frame = FrameNamed(frameName);
  CefRefPtr<CefFrame> hostFrame =
      frame && !frame->id.empty() ? hostSide->Frame(frame->id) : nullptr;
  if (!hostFrame) {
    Print("browser: frame " + frameName +
          " is gone; not sent: " + MessageText(message, limits));
    return false;
  }
  const EncodedSize size = MeasureMessage(message);
  if (!FitsChannel(size)) {
    // Chromium refuses it (older mojo crashes the sender): not sent.
    Print("browser: not sent: " + std::to_string(size.bytes) +
          " bytes encoded, nesting " + std::to_string(size.nesting) +
          ", past what the channel carries: " + MessageText(message, limits));
    return false;
  }
  const int before = deliveries;
  hostFrame->SendProcessMessage(PID_RENDERER, message);
  PumpBrowserSide();
  return deliveries > before && lastDeliveryHandled;
}

// Delivers what the browser side has queued for the renderer, and shows
// what it dropped.
int DemoSession::PumpBrowserSide() {
  const int steps = hostSide->Pump();
  const std::vector<std::string>& log = hostSide->Log();
  for (; browserLogShown < log.size(); ++browserLogShown) {
    Print("browser: " + log[browserLogShown]);
  }
  return steps;
}

// The renderer receives a message from the browser (`handled` empty), and
// its hook has run (`handled` set).
void DemoSession::Delivered(CefRefPtr<CefFrame> frame,
                            CefRefPtr<CefProcessMessage> message,
                            std::optional<bool> handled) {
  const std::string frameId =
      frame ? frame->GetIdentifier().ToString() : std::string();
  if (!handled) {
    Print("browser → " + PageLabel(frameId) + "  " +
          MessageText(message, limits));
    return;
  }
  ++deliveries;
  lastDeliveryHandled = *handled;
  if (!*handled) {
    Print("browser: the renderer did not handle it");
  }
}

// The library hands over a call of the page's with its reply; the peer
// script answers it through that reply, now or later.
void DemoSession::OnPageCall(const cef_launcher_peer::PageCall& call,
                             cef_launcher_peer::Reply reply) {
  const std::string text = ValueText(
      call.message ? call.message->GetArgumentList() : nullptr, limits);
  const Frame* from = FrameWithId(call.frameId);
  const std::string frameName = from ? from->name : call.frameId;
  unansweredPageCalls[call.id] =
      PendingPageCall{call.function, call.frameId, std::move(reply)};
  Dispatch([&](CefRefPtr<CefV8Value> event) {
    auto set = [&event](const char* key, CefRefPtr<CefV8Value> value) {
      event->SetValue(key, value, V8_PROPERTY_ATTRIBUTE_NONE);
    };
    set("type", CefV8Value::CreateString("call"));
    set("frame", CefV8Value::CreateString(frameName));
    set("text", CefV8Value::CreateString(text));
    set("id", CefV8Value::CreateInt(call.id));
    set("function", CefV8Value::CreateString(call.function));
    CefV8ValueList values = CefListToV8ValueList(peerContext, call.arguments);
    CefRefPtr<CefV8Value> args =
        CefV8Value::CreateArray(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
      args->SetValue(static_cast<int>(i),
                     values[i] ? values[i] : CefV8Value::CreateNull());
    }
    set("args", args);
  });
}

// Answers the page's call `id` through the library's reply; true when the
// renderer's hook handled the answer.
bool DemoSession::Answer(int32_t id,
                         bool isError,
                         CefRefPtr<CefValue> value,
                         const std::string& text) {
  auto pending = unansweredPageCalls.find(id);
  if (pending == unansweredPageCalls.end()) {
    Print("browser: no call " + std::to_string(id) +
          " of the page's is waiting for an answer; nothing sent");
    return false;
  }
  const int before = deliveries;
  cef_launcher_peer::Reply& reply = pending->second.reply;
  const cef_launcher_peer::SendStatus status =
      isError ? reply.Error(text) : reply.Result(value);
  // Refused as too large, the call still waits: an Error can follow.
  if (!reply.pending()) {
    unansweredPageCalls.erase(pending);
  }
  PumpBrowserSide();
  return status == cef_launcher_peer::SendStatus::kSent &&
         deliveries > before && lastDeliveryHandled;
}

// How one peer.call() ended, for the script.
void DemoSession::CallSettled(int token,
                              const cef_launcher_peer::PageReply& reply) {
  using Outcome = cef_launcher_peer::PageReply::Outcome;
  awaitedCalls.erase(token);
  const std::string text =
      reply.message ? ValueText(reply.message->GetArgumentList(), limits)
                    : std::string();
  CefRefPtr<CefValue> value = reply.value;
  Dispatch([&](CefRefPtr<CefV8Value> event) {
    auto set = [&event](const char* key, CefRefPtr<CefV8Value> entry) {
      event->SetValue(key, entry, V8_PROPERTY_ATTRIBUTE_NONE);
    };
    set("type", CefV8Value::CreateString("settled"));
    set("token", CefV8Value::CreateInt(token));
    set("id", CefV8Value::CreateInt(reply.id));
    set("ok", CefV8Value::CreateBool(reply.outcome == Outcome::kResult));
    if (reply.outcome == Outcome::kResult) {
      set("value", ScriptValue(value));
    } else {
      set("message", CefV8Value::CreateString(reply.text));
    }
    set("text", CefV8Value::CreateString(text));
  });
}

// The renderer's frames changed: the browser side follows, detaching what
// went (the library fails calls into it).
void DemoSession::FrameChanged() {
  hostSide->SyncFrames();
  PumpBrowserSide();
}

bool DemoSession::Native(const std::string& name,
                         const Arguments& arguments,
                         CefRefPtr<CefV8Value>& retval,
                         std::string& exception) {
  // The API script checks what it passes on; these guard the rest.
  auto argument = [&arguments](size_t index) -> CefRefPtr<CefV8Value> {
    return index < arguments.size() ? arguments[index]
                                    : CefV8Value::CreateUndefined();
  };
  auto text = [&argument](size_t index) {
    CefRefPtr<CefV8Value> value = argument(index);
    return value->IsString() ? value->GetStringValue().ToString()
                             : std::string();
  };
  auto integer = [&argument](size_t index) {
    CefRefPtr<CefV8Value> value = argument(index);
    return value->IsInt() ? value->GetIntValue() : 0;
  };
  // Per-frame calls name their frame last; it must be one the peer knows.
  auto knownFrame = [&](size_t index) {
    if (FrameNamed(text(index))) {
      return true;
    }
    exception = "peer: no frame named " + Quoted(text(index));
    PeerMisuse(exception);
    return false;
  };

  if (name == "print") {
    Print(text(0));
  } else if (name == "setDispatcher") {
    dispatcher = argument(0);
  } else if (name == "misuse") {
    PeerMisuse(text(0));
    exception = text(0);
    return false;
  } else if (name == "check") {
    // Once the run has ended, nothing more counts.
    if (Stopped()) {
      return true;
    }
    ++checks;
    const bool ok = argument(0)->IsBool() && argument(0)->GetBoolValue();
    if (ok) {
      Print("peer ok: " + text(1));
    } else {
      ++failures;
      const auto [script, line] = PeerCaller();
      Print("peer FAILED: " + text(1));
      const std::string at = PlaceLine(script, line, text(2));
      if (!at.empty()) {
        Print(at);
      }
    }
  } else if (name == "marker") {
    return MakeMarker(arguments, retval, exception);
  } else if (name == "answer") {
    library->Handle(text(0), [this](const cef_launcher_peer::PageCall& call,
                                    cef_launcher_peer::Reply reply) {
      OnPageCall(call, std::move(reply));
    });
  } else if (name == "call") {
    if (!knownFrame(2)) {
      return false;
    }
    const std::string path = text(0);
    CefRefPtr<CefListValue> list = PeerList(argument(1));
    const int token = nextCallToken++;
    awaitedCalls[token] = "peer.call(" + Quoted(path) + ")";
    Queue([this, token, path, list, frameName = text(2)] {
      const Frame* frame = FrameNamed(frameName);
      CefRefPtr<CefFrame> hostFrame =
          frame && !frame->id.empty() ? hostSide->Frame(frame->id) : nullptr;
      library->CallPage(hostFrame, path, list,
                        [this, token](const cef_launcher_peer::PageReply& r) {
                          CallSettled(token, r);
                        });
      PumpBrowserSide();
      return nullptr;
    });
    retval = CefV8Value::CreateInt(token);
  } else if (name == "awaitReply") {
    awaitedReplies.try_emplace(
        integer(0), "peer.waitReply(" + std::to_string(integer(0)) + ")");
  } else if (name == "reply" || name == "replyError") {
    const int32_t id = integer(0);
    const bool isError = name == "replyError";
    CefRefPtr<CefValue> value = isError ? nullptr : PeerValue(argument(1));
    retval = QueueWithPromise([this, id, isError, value, error = text(1)] {
      return CefV8Value::CreateBool(Answer(id, isError, value, error));
    });
  } else if (name == "send") {
    if (!knownFrame(2)) {
      return false;
    }
    CefRefPtr<CefListValue> list = PeerList(argument(1));
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(text(0));
    if (!message) {
      exception = "peer.send: no message can be made of this";
      return false;
    }
    CefRefPtr<CefListValue> target = message->GetArgumentList();
    for (size_t i = 0; i < list->GetSize(); ++i) {
      target->SetValue(i, list->GetValue(i));
    }
    retval = QueueWithPromise([this, message, frame = text(2)] {
      return CefV8Value::CreateBool(Deliver(frame, message));
    });
  } else if (name == "openFrame") {
    const std::string frameName = text(0);
    if (FrameNamed(frameName)) {
      exception = "peer.openFrame: a frame is named " + Quoted(frameName);
      PeerMisuse(exception);
      return false;
    }
    if (!knownFrame(2)) {
      return false;
    }
    Frame opened;
    opened.name = frameName;
    opened.url = text(1);
    frames.push_back(opened);
    std::optional<std::string> script;
    if (argument(3)->IsString()) {
      script = text(3);
    }
    retval = QueueWithPromise([this, frameName, parent = text(2), script] {
      Frame* frame = FrameNamed(frameName);
      const Frame* parentFrame = FrameNamed(parent);
      Print("browser: frame " + frameName + " opens " + frame->url + " in " +
            parent);
      FrameSpec frameSpec;
      frameSpec.name = frameName;
      frameSpec.url = frame->url;
      frame->id = parentFrame->id.empty()
                      ? std::string()
                      : process->AddFrame(parentFrame->id, frameSpec);
      if (frame->id.empty()) {
        Print("browser: frame " + frameName + " could not open: " + parent +
              " is gone");
        return CefV8Value::CreateBool(false);
      }
      // FrameNamed's pointer may move once RunPageScript adds frames.
      const std::string id = frame->id;
      FrameChanged();
      if (script) {
        RunPageScript(*script, frameSpec.url, id);
      }
      return CefV8Value::CreateBool(true);
    });
  } else if (name == "removeFrame") {
    if (!knownFrame(0)) {
      return false;
    }
    retval = QueueWithPromise([this, frameName = text(0)] {
      Print("browser: frame " + frameName + " is removed");
      const std::string id = FrameNamed(frameName)->id;
      if (!id.empty()) {
        process->RemoveFrame(id);
        FrameChanged();
      }
      return CefV8Value::CreateUndefined();
    });
  } else if (name == "navigate" || name == "reload") {
    const bool reload = name == "reload";
    const size_t frameArgument = reload ? 0 : 2;
    if (!knownFrame(frameArgument)) {
      return false;
    }
    const std::string url = reload ? std::string() : text(0);
    std::optional<std::string> script;
    if (!reload && argument(1)->IsString()) {
      script = text(1);
    }
    retval = QueueWithPromise(
        [this, reload, url, script, frameName = text(frameArgument)] {
          Frame* frame = FrameNamed(frameName);
          const bool isMain = frameName == kMainFrameName;
          const std::string target = reload ? frame->url : url;
          Print("browser: " + (isMain ? std::string() : frameName + ": ") +
                (reload ? "reload " : "navigate to ") + target);
          const std::string id = frame->id;
          process->Navigate(id, target);
          frame->url = target;
          FrameChanged();
          if (reload && isMain) {
            RunPageScript(pageSource, options.pageFile, id);
          } else if (script) {
            RunPageScript(*script, target, id);
          }
          return CefV8Value::CreateUndefined();
        });
  } else if (name == "focus") {
    if (!knownFrame(2)) {
      return false;
    }
    const std::string target = text(0);
    const std::string tagName = text(1);
    retval = QueueWithPromise([this, target, tagName, frameName = text(2)] {
      FocusTarget focus = FocusTarget::kElement;
      std::string where = "an element <" + tagName + ">";
      if (target == "none") {
        focus = FocusTarget::kNothing;
        where = "nothing";
      }
      Print("browser: focus moves to " + where +
            (frameName == kMainFrameName ? std::string()
                                         : " in frame " + frameName));
      const size_t before = inbox.size();
      process->ChangeFocus(FrameNamed(frameName)->id, focus, tagName);
      // The report the change caused, if the renderer sent one.
      for (size_t i = before; i < inbox.size(); ++i) {
        std::optional<BridgeMessage> decoded =
            ParseBridgeMessage(inbox[i].message);
        if (const auto* report =
                decoded ? std::get_if<FocusChangeMessage>(&*decoded)
                        : nullptr) {
          return CefV8Value::CreateBool(report->elementFocused);
        }
      }
      return CefV8Value::CreateNull();
    });
  } else if (name == "wait") {
    CefRefPtr<CefV8Value> delay = argument(0);
    const double ms = delay->IsDouble() || delay->IsInt() || delay->IsUInt()
                          ? delay->GetDoubleValue()
                          : 0;
    retval = CefV8Value::CreatePromise();
    waits.emplace(process->Now() + static_cast<int64_t>(ms), retval);
  } else if (name == "end") {
    if (!Stopped()) {
      stop = Stop::kEnded;
      endCode = integer(0);
    }
  } else if (name == "valueText") {
    retval =
        CefV8Value::CreateString(ValueText(PeerValue(argument(0)), kFullTrace));
  } else if (name == "pageConsole") {
    FlushPageConsole();
    const Frame* frame = FrameNamed(text(0));
    retval = StringArray(frame ? frame->console : std::vector<std::string>());
  } else if (name == "pageErrors") {
    FlushPageConsole();
    retval = StringArray(pageErrors);
  }
  return true;
}

int DemoSession::Dispatch(
    const std::function<void(CefRefPtr<CefV8Value> event)>& fill) {
  if (!dispatcher || Stopped()) {
    return 0;
  }
  peerContext->Enter();
  CefRefPtr<CefV8Value> event = CefV8Value::CreateObject(nullptr, nullptr);
  fill(event);
  CefRefPtr<CefV8Value> result =
      dispatcher->ExecuteFunctionWithContext(peerContext, nullptr, {event});
  if (dispatcher->HasException()) {
    PeerScriptError(dispatcher->GetException());
    dispatcher->ClearException();
  }
  // Leaving the context runs the peer's promise reactions.
  peerContext->Exit();
  return result && result->IsInt() ? result->GetIntValue() : 0;
}

// A message from the renderer reaches the host's client. The session notes
// the replies it sees (for peer.replies and raw waitReply()s); the library
// does the rest: it answers calls through the handlers, settles peer.call()s
// and reports focus.
void DemoSession::HandleIncoming(const Incoming& incoming) {
  CefRefPtr<CefFrame> hostFrame = hostSide->Frame(incoming.frameId);
  if (!hostFrame) {
    Print("browser: dropped a message from frame " + incoming.frameId +
          ", which the browser no longer has");
    return;
  }
  std::optional<BridgeMessage> decoded = ParseBridgeMessage(incoming.message);
  const Frame* from = FrameWithId(incoming.frameId);
  const std::string frameName = from ? from->name : incoming.frameId;
  const ResultMessage* result =
      decoded ? std::get_if<ResultMessage>(&*decoded) : nullptr;
  const ErrorMessage* error =
      decoded ? std::get_if<ErrorMessage>(&*decoded) : nullptr;
  if (result || error) {
    const int32_t id = result ? result->id : error->id;
    awaitedReplies.erase(id);
    const std::string text =
        ValueText(incoming.message->GetArgumentList(), limits);
    Dispatch([&](CefRefPtr<CefV8Value> event) {
      auto set = [&event](const char* key, CefRefPtr<CefV8Value> value) {
        event->SetValue(key, value, V8_PROPERTY_ATTRIBUTE_NONE);
      };
      set("type", CefV8Value::CreateString("reply"));
      set("frame", CefV8Value::CreateString(frameName));
      set("text", CefV8Value::CreateString(text));
      set("id", CefV8Value::CreateInt(id));
      if (result) {
        set("value", ScriptValue(result->value));
      } else {
        set("message", CefV8Value::CreateString(error->message));
      }
    });
  }
  if (!library->OnProcessMessageReceived(hostFrame->GetBrowser(), hostFrame,
                                         PID_RENDERER, incoming.message)) {
    Print("browser: not a bridge message; dropped");
  }
  PumpBrowserSide();
}

void DemoSession::RunAction(Action action) {
  CefRefPtr<CefV8Value> outcome = action.run();
  if (!action.promise || Stopped()) {
    return;
  }
  peerContext->Enter();
  action.promise->ResolvePromise(outcome);
  peerContext->Exit();
}

// Page rejections are shown like a console would; the peer's fail the run,
// but only once it is idle, since a handler may still be attached.
void DemoSession::AfterStep() {
  FlushPageConsole();
  for (const ScriptProblem& problem : watch->TakeUnhandledRejections(false)) {
    pageErrors.push_back(problem.text);
    PrintProblem("page error: ", problem);
  }
  // Errors under the session's own calls came back as exceptions already;
  // these are the rest (the peer's timers).
  std::vector<ScriptProblem> problems = watch->TakeUncaughtErrors(true);
  peerErrors.insert(peerErrors.end(), problems.begin(), problems.end());
  for (const ScriptProblem& problem : std::exchange(peerErrors, {})) {
    if (stop != Stop::kPeerScriptError) {
      PrintProblem("peer error: ", problem);
    }
    stop = Stop::kPeerScriptError;
  }
}

bool DemoSession::ReportPeerRejections() {
  std::vector<ScriptProblem> problems = watch->TakeUnhandledRejections(true);
  for (const ScriptProblem& problem : problems) {
    if (stop != Stop::kPeerScriptError) {
      PrintProblem("peer error: ", problem);
    }
    stop = Stop::kPeerScriptError;
  }
  return !problems.empty();
}

// One step at a time, the browser side first, then page tasks due now.
// Simulated time only passes for peer.wait().
void DemoSession::Loop() {
  int idleRounds = 0;
  while (!Stopped()) {
    if (!actions.empty()) {
      Action action = std::move(actions.front());
      actions.pop_front();
      RunAction(std::move(action));
    } else if (!inbox.empty()) {
      const Incoming incoming = inbox.front();
      inbox.pop_front();
      HandleIncoming(incoming);
    } else if (process->RunNextTask(process->Now())) {
      // a page task (or a timer of the peer's) ran
    } else if (ReportPeerRejections()) {
      break;
    } else if (Dispatch([](CefRefPtr<CefV8Value> event) {
                 event->SetValue("type", CefV8Value::CreateString("idle"),
                                 V8_PROPERTY_ATTRIBUTE_NONE);
               }) > 0) {
      AfterStep();
      if (++idleRounds > kMaxIdleRounds) {
        Print(
            "peer error: peer.idle() is awaited over and over while "
            "nothing else happens");
        stop = Stop::kPeerScriptError;
      }
      continue;
    } else if (!waits.empty()) {
      const int64_t until = waits.begin()->first;
      if (!process->RunNextTask(until)) {
        PassTime(until);
      }
    } else {
      break;
    }
    idleRounds = 0;
    AfterStep();
  }
}

void DemoSession::PassTime(int64_t until) {
  process->AdvanceClock(until);
  Print("browser: the clock is at " + std::to_string(process->Now()) + " ms");
  while (!waits.empty() && waits.begin()->first <= until) {
    CefRefPtr<CefV8Value> promise = waits.begin()->second;
    waits.erase(waits.begin());
    peerContext->Enter();
    promise->ResolvePromise(CefV8Value::CreateUndefined());
    peerContext->Exit();
  }
}

int DemoSession::Finish() {
  AfterStep();
  ReportPeerRejections();
  if (stop == Stop::kNone && process->HasPendingTasks()) {
    Print(
        "browser: page timers are still pending (peer.wait(ms) lets "
        "simulated time pass)");
  }
  for (const auto& [id, call] : unansweredPageCalls) {
    Print("browser: the page's call " + std::to_string(id) + " (" +
          Quoted(call.function) + ") was never answered");
  }
  if (stop == Stop::kNone) {
    std::vector<std::string> awaited;
    for (const auto& [token, what] : awaitedCalls) {
      awaited.push_back(what);
    }
    for (const auto& [id, what] : awaitedReplies) {
      awaited.push_back(what);
    }
    for (const std::string& what : awaited) {
      ++checks;
      ++failures;
      Print("peer FAILED: no reply came for " + what);
    }
  }
  const std::string expectations =
      checks == 1 ? " expectation" : " expectations";
  const std::string held =
      failures > 0 ? std::to_string(failures) + " of " +
                         std::to_string(checks) + expectations + " failed"
      : checks > 1  ? "all " + std::to_string(checks) + expectations + " held"
      : checks == 1 ? "1 expectation held"
                    : "nothing was checked";
  switch (stop) {
    case Stop::kPageScriptError:
      Print("demo: FAILED: the page script " + pageScriptFailure +
            " has an error");
      return kDemoScriptError;
    case Stop::kPeerScriptError:
      Print("demo: FAILED: the peer script has an error");
      return kDemoScriptError;
    case Stop::kEnded:
    case Stop::kNone:
      break;
  }
  if (failures > 0) {
    Print("demo: FAILED: " + held);
    return endCode != 0 ? endCode : kDemoExpectationFailed;
  }
  if (endCode != 0) {
    Print("demo: the peer ended the run with code " + std::to_string(endCode) +
          " (" + held + ")");
    return endCode;
  }
  Print("demo: passed: " + held);
  return kDemoPassed;
}

void DemoSession::Teardown() {
  actions.clear();
  inbox.clear();
  waits.clear();
  dispatcher = nullptr;
  markers.clear();
  if (native) {
    native->Detach();
  }
  if (tap) {
    tap->Detach();
  }
  // Replies still held answer with the library's Error as they go; nothing
  // delivers it any more.
  unansweredPageCalls.clear();
  if (client) {
    client->Detach();
  }
  library.reset();
  hostSide.reset();
  peerContext = nullptr;
  watch.reset();
  // Closing the browser is not part of the trace.
  process->SetOutbox(nullptr);
  process.reset();
}

int DemoSession::Run() {
  std::string peerSource;
  for (const auto& [file, source] :
       {std::pair{&options.pageFile, &pageSource},
        std::pair{&options.peerFile, &peerSource}}) {
    if (!file->empty() && !ReadFile(*file, *source)) {
      Print("demo: FAILED: cannot read " + *file + ": " + std::strerror(errno));
      return kDemoScriptError;
    }
  }
  Watchdog watchdog(options.timeoutSeconds, out);
  Print("demo: renderer with page " +
        (options.pageFile.empty() ? "(blank)" : options.pageFile) +
        " and peer " +
        (options.peerFile.empty() ? "(none)" : options.peerFile));

  // The program's hooks, tapped so that the trace shows each message as the
  // renderer receives it.
  CefRefPtr<CefApp> tapped = application;
  if (CefRefPtr<CefRenderProcessHandler> handler =
          application->GetRenderProcessHandler()) {
    tap = new TapHandler(handler, [this](CefRefPtr<CefFrame> frame,
                                         CefRefPtr<CefProcessMessage> message,
                                         std::optional<bool> handled) {
      Delivered(frame, message, handled);
    });
    tapped = new TapApp(application, tap);
  }
  process = std::make_unique<RendererProcess>(tapped);
  hostSide = std::make_unique<BrowserSide>(*process);
  library = std::make_unique<cef_launcher_peer::Peer>();
  library->SetLogSink(
      [this](const std::string& line) { Print("browser: " + line); });
  // Calls of functions nobody answers stay pending, held by the session.
  library->SetFallback([this](const cef_launcher_peer::PageCall& call,
                              cef_launcher_peer::Reply reply) {
    OnPageCall(call, std::move(reply));
  });
  library->SetFocusObserver([this](CefRefPtr<CefBrowser>,
                                   CefRefPtr<CefFrame> frame,
                                   bool elementFocused) {
    const Frame* from =
        FrameWithId(frame ? frame->GetIdentifier().ToString() : "");
    Dispatch([&](CefRefPtr<CefV8Value> event) {
      event->SetValue("type", CefV8Value::CreateString("focus"),
                      V8_PROPERTY_ATTRIBUTE_NONE);
      event->SetValue("frame", CefV8Value::CreateString(from ? from->name : ""),
                      V8_PROPERTY_ATTRIBUTE_NONE);
      event->SetValue("focused", CefV8Value::CreateBool(elementFocused),
                      V8_PROPERTY_ATTRIBUTE_NONE);
    });
  });
  client = new PeerClient(library.get());
  hostSide->SetClient(client);
  process->SetOutbox([this](const std::string& frame, const WireMessage& wire) {
    // What the browser process receives: a read-only copy.
    CefRefPtr<CefProcessMessage> message = Receive(wire);
    Print(PageLabel(frame) + " → browser  " + MessageText(message, limits));
    inbox.push_back(Incoming{frame, message});
  });
  watch = std::make_unique<ScriptProblemWatch>(kDemoPeerApiUrl);
  // The browser side: no page's, and no render-process hook sees it.
  peerContext = process->NewStandaloneContext();
  FrameSpec mainFrame;
  mainFrame.url = options.url;
  Frame main;
  main.name = kMainFrameName;
  const BrowserInfo browser = process->OpenBrowser({mainFrame});
  hostSide->BrowserOpened(browser.id);
  main.id = browser.frameIds.front();
  main.url = options.url;
  frames.push_back(main);
  Print("browser: opened " + options.url);

  if (InstallPeerApi()) {
    RunPageScript(pageSource, options.pageFile, frames.front().id);
    AfterStep();
  }
  if (!Stopped()) {
    RunPeerScript(peerSource, options.peerFile);
    AfterStep();
  }
  Loop();
  const int exitCode = Finish();
  Teardown();
  return exitCode;
}

}  // namespace

int RunDemoRenderer(CefRefPtr<CefApp> application,
                    const DemoOptions& options,
                    std::ostream& out) {
  DemoSession session(std::move(application), options, out);
  return session.Run();
}

}  // namespace cefsim
