// CefV8Value as CEF 130's release build behaves, including the checks of the
// client-side C++ wrapper the program links. CEF's guards:
//   ISO   the calling thread has the isolate manager (render main thread)
//   MLT   ISO, and an object handle belongs to this thread's isolate
//   VALID MLT, an object handle exists, and its context state is valid
//   OBJ   VALID, and the tag is OBJECT
//   CTX   a V8 context is current
// A failed guard returns the default and leaves the exception record alone.

#include "v8_value.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "v8_context.h"

namespace cefsim {
namespace {

// Microseconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kWindowsToUnixEpochMicros = 11644473600LL * 1000000LL;

IsolateManager* Manager() {
  return IsolateManager::Current();
}

bool InContext(IsolateManager* manager) {
  return manager->isolate()->InContext();
}

// Handler-made results cross into script: an exception text wins when the
// handler returned true; false always means undefined.
}  // namespace

void HandlerFunctionCallback(const v8::FunctionCallbackInfo<v8::Value>& info) {
  IsolateManager* manager = Manager();
  if (!manager) {
    return;
  }
  v8::Isolate* isolate = info.GetIsolate();
  auto* tracker =
      static_cast<V8Tracker*>(info.Data().As<v8::External>()->Value());
  CefRefPtr<CefV8Handler> handler = tracker->handler;
  const CefString name = tracker->functionName;
  if (!handler) {
    return;
  }
  CefV8ValueList arguments;
  arguments.reserve(static_cast<size_t>(info.Length()));
  for (int i = 0; i < info.Length(); ++i) {
    arguments.push_back(V8ValueImpl::Wrap(manager, info[i]));
  }
  // V8 hands API functions a sloppy receiver: never undefined or primitive.
  CefRefPtr<CefV8Value> object = V8ValueImpl::Wrap(manager, info.This());
  CefRefPtr<CefV8Value> retval;
  CefString exception;
  if (!handler->Execute(name, object, arguments, retval, exception)) {
    return;  // the exception text is ignored on false
  }
  if (!exception.empty()) {
    isolate->ThrowException(
        v8::Exception::Error(ToV8String(isolate, exception)));
    return;
  }
  if (retval && retval->IsValid()) {
    info.GetReturnValue().Set(
        V8ValueImpl::From(retval)->ToV8(isolate, isolate->GetCurrentContext()));
  }
}

namespace {

CefRefPtr<CefV8Value> WrapReceiver(IsolateManager* manager,
                                   v8::Local<v8::Object> receiver) {
  return V8ValueImpl::Wrap(manager, receiver);
}

V8Tracker* TrackerFromData(v8::Local<v8::Value> data) {
  return static_cast<V8Tracker*>(data.As<v8::External>()->Value());
}

// Accessors registered by SetValue(key, attribute).
void AccessorGetter(v8::Local<v8::Name> property,
                    const v8::PropertyCallbackInfo<v8::Value>& info) {
  IsolateManager* manager = Manager();
  V8Tracker* tracker = TrackerFromData(info.Data());
  if (!manager || !tracker->accessor) {
    return;
  }
  v8::Isolate* isolate = info.GetIsolate();
  CefRefPtr<CefV8Value> retval;
  CefString exception;
  const bool handled = tracker->accessor->Get(
      FromV8String(isolate, property), WrapReceiver(manager, info.This()),
      retval, exception);
  if (!handled) {
    return;
  }
  if (!exception.empty()) {
    isolate->ThrowException(
        v8::Exception::Error(ToV8String(isolate, exception)));
  } else if (retval && retval->IsValid()) {
    info.GetReturnValue().Set(
        V8ValueImpl::From(retval)->ToV8(isolate, isolate->GetCurrentContext()));
  }
}

void AccessorSetter(v8::Local<v8::Name> property,
                    v8::Local<v8::Value> value,
                    const v8::PropertyCallbackInfo<void>& info) {
  IsolateManager* manager = Manager();
  V8Tracker* tracker = TrackerFromData(info.Data());
  if (!manager || !tracker->accessor) {
    return;
  }
  v8::Isolate* isolate = info.GetIsolate();
  CefString exception;
  tracker->accessor->Set(FromV8String(isolate, property),
                         WrapReceiver(manager, info.This()),
                         V8ValueImpl::Wrap(manager, value), exception);
  if (!exception.empty()) {
    isolate->ThrowException(
        v8::Exception::Error(ToV8String(isolate, exception)));
  }
}

// The read-only flavour: CEF installs a setter that does nothing.
void EmptySetter(v8::Local<v8::Name>,
                 v8::Local<v8::Value>,
                 const v8::PropertyCallbackInfo<void>&) {}

// Interceptors: the Get result is ignored, a value intercepts, anything
// else falls through to the object's own properties; Set always falls
// through after the call.
template <typename Key>
void InterceptGet(Key key,
                  const v8::PropertyCallbackInfo<v8::Value>& info,
                  V8Tracker* tracker) {
  IsolateManager* manager = Manager();
  if (!manager || !tracker->interceptor) {
    return;
  }
  v8::Isolate* isolate = info.GetIsolate();
  CefRefPtr<CefV8Value> retval;
  CefString exception;
  tracker->interceptor->Get(key, WrapReceiver(manager, info.This()), retval,
                            exception);
  if (!exception.empty()) {
    isolate->ThrowException(
        v8::Exception::Error(ToV8String(isolate, exception)));
  } else if (retval && retval->IsValid()) {
    info.GetReturnValue().Set(
        V8ValueImpl::From(retval)->ToV8(isolate, isolate->GetCurrentContext()));
  }
}

template <typename Key>
void InterceptSet(Key key,
                  v8::Local<v8::Value> value,
                  const v8::PropertyCallbackInfo<v8::Value>& info,
                  V8Tracker* tracker) {
  IsolateManager* manager = Manager();
  if (!manager || !tracker->interceptor) {
    return;
  }
  v8::Isolate* isolate = info.GetIsolate();
  CefString exception;
  tracker->interceptor->Set(key, WrapReceiver(manager, info.This()),
                            V8ValueImpl::Wrap(manager, value), exception);
  if (!exception.empty()) {
    isolate->ThrowException(
        v8::Exception::Error(ToV8String(isolate, exception)));
  }
}

}  // namespace

void InterceptorNamedGetter(v8::Local<v8::Name> name,
                            const v8::PropertyCallbackInfo<v8::Value>& info) {
  if (name->IsString()) {
    InterceptGet(FromV8String(info.GetIsolate(), name), info,
                 TrackerFromData(info.Data()));
  }
}

void InterceptorNamedSetter(v8::Local<v8::Name> name,
                            v8::Local<v8::Value> value,
                            const v8::PropertyCallbackInfo<v8::Value>& info) {
  if (name->IsString()) {
    InterceptSet(FromV8String(info.GetIsolate(), name), value, info,
                 TrackerFromData(info.Data()));
  }
}

void InterceptorIndexedGetter(uint32_t index,
                              const v8::PropertyCallbackInfo<v8::Value>& info) {
  InterceptGet(static_cast<int>(index), info, TrackerFromData(info.Data()));
}

void InterceptorIndexedSetter(uint32_t index,
                              v8::Local<v8::Value> value,
                              const v8::PropertyCallbackInfo<v8::Value>& info) {
  InterceptSet(static_cast<int>(index), value, info,
               TrackerFromData(info.Data()));
}

void ReleaseArrayBufferMemory(void* data, size_t, void* deleterData) {
  auto* callback = static_cast<CefV8ArrayBufferReleaseCallback*>(deleterData);
  callback->ReleaseBuffer(data);
  callback->Release();
}

namespace {

CefRefPtr<V8ValueImpl> NewValue(V8ValueImpl::Tag tag) {
  return new V8ValueImpl(tag);
}

}  // namespace

CefRefPtr<V8ValueImpl> V8ValueImpl::NewBool(bool value) {
  CefRefPtr<V8ValueImpl> result = NewValue(Tag::kBool);
  result->boolValue = value;
  return result;
}

CefRefPtr<V8ValueImpl> V8ValueImpl::NewInt(int32_t value) {
  CefRefPtr<V8ValueImpl> result = NewValue(Tag::kInt);
  result->intValue = value;
  return result;
}

CefRefPtr<V8ValueImpl> V8ValueImpl::NewUInt(uint32_t value) {
  CefRefPtr<V8ValueImpl> result = NewValue(Tag::kUInt);
  result->uintValue = value;
  return result;
}

CefRefPtr<V8ValueImpl> V8ValueImpl::NewDouble(double value) {
  CefRefPtr<V8ValueImpl> result = NewValue(Tag::kDouble);
  result->doubleValue = value;
  return result;
}

CefRefPtr<V8ValueImpl> V8ValueImpl::NewDate(CefBaseTime value) {
  CefRefPtr<V8ValueImpl> result = NewValue(Tag::kDate);
  result->dateValue = value;
  return result;
}

CefRefPtr<V8ValueImpl> V8ValueImpl::NewString(CefString value) {
  CefRefPtr<V8ValueImpl> result = NewValue(Tag::kString);
  result->stringValue = std::move(value);
  return result;
}

double JsTimeFromBaseTime(CefBaseTime time) {
  return static_cast<double>(time.val - kWindowsToUnixEpochMicros) / 1000.0;
}

CefBaseTime BaseTimeFromJsTime(double milliseconds) {
  CefBaseTime time;
  const double micros = milliseconds * 1000.0;
  int64_t delta = 0;
  if (std::isnan(micros)) {
    delta = 0;
  } else if (micros >=
             static_cast<double>(std::numeric_limits<int64_t>::max())) {
    delta = std::numeric_limits<int64_t>::max();
  } else if (micros <=
             static_cast<double>(std::numeric_limits<int64_t>::min())) {
    delta = std::numeric_limits<int64_t>::min();
  } else {
    delta = static_cast<int64_t>(micros);
  }
  time.val = delta + kWindowsToUnixEpochMicros;
  return time;
}

V8ValueImpl::V8ValueImpl(Tag tag) : type(tag), doubleValue(0.0) {}

V8ValueImpl::~V8ValueImpl() {
  handle.Reset();
}

void V8ValueImpl::OnIsolateTeardown() {
  handle.Reset();
}

void V8ValueImpl::SetObject(IsolateManager* manager,
                            v8::Local<v8::Value> object,
                            CefRefPtr<ContextState> boundState) {
  handle.Reset(manager->isolate(), object);
  state = std::move(boundState);
  StartTracking(manager);
}

CefRefPtr<V8ValueImpl> V8ValueImpl::Wrap(IsolateManager* manager,
                                         v8::Local<v8::Value> value) {
  // CEF's order of tests: Int32 before Uint32 before Number, Date before
  // Object; Symbols and BigInts fall through to INVALID.
  if (value->IsUndefined()) {
    return NewValue(Tag::kUndefined);
  }
  if (value->IsNull()) {
    return NewValue(Tag::kNull);
  }
  if (value->IsTrue() || value->IsFalse()) {
    return NewBool(value->IsTrue());
  }
  if (value->IsInt32()) {
    return NewInt(value.As<v8::Int32>()->Value());
  }
  if (value->IsUint32()) {
    return NewUInt(value.As<v8::Uint32>()->Value());
  }
  if (value->IsNumber()) {
    return NewDouble(value.As<v8::Number>()->Value());
  }
  if (value->IsDate()) {
    return WrapDate(manager, value);
  }
  if (value->IsString()) {
    return NewString(FromV8String(manager->isolate(), value));
  }
  if (value->IsObject()) {
    CefRefPtr<V8ValueImpl> result = NewValue(Tag::kObject);
    // Bound to the context current now, not to the object's own context.
    result->SetObject(manager, value, manager->CurrentContextState());
    return result;
  }
  return NewValue(Tag::kInvalid);
}

// CEF quirk: a Date is read through ToNumber, not its time value, so the
// page's valueOf or Symbol.toPrimitive runs here, and a throw from it meets
// CEF's ToLocalChecked, a fatal check that brings the renderer down.
CefRefPtr<V8ValueImpl> V8ValueImpl::WrapDate(IsolateManager* manager,
                                             v8::Local<v8::Value> date) {
  v8::Isolate* isolate = manager->isolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  if (context.IsEmpty()) {
    Fatal(
        "a Date was wrapped with no context current; CEF 130 calls ToNumber "
        "with an empty v8::Local<v8::Context> and crashes");
  }
  v8::Local<v8::Number> number;
  if (!date->ToNumber(context).ToLocal(&number)) {
    Fatal(
        "a Date's valueOf or Symbol.toPrimitive threw while CEF wrapped it; "
        "CEF 130 calls ToLocalChecked on the failed ToNumber and the renderer "
        "crashes");
  }
  return NewDate(BaseTimeFromJsTime(number->Value()));
}

v8::Local<v8::Value> V8ValueImpl::ToV8(v8::Isolate* isolate,
                                       v8::Local<v8::Context> context) {
  switch (type) {
    case Tag::kInvalid:
    case Tag::kUndefined:
      return v8::Undefined(isolate);
    case Tag::kNull:
      return v8::Null(isolate);
    case Tag::kBool:
      return v8::Boolean::New(isolate, boolValue);
    case Tag::kInt:
      return v8::Integer::New(isolate, intValue);
    case Tag::kUInt:
      return v8::Integer::NewFromUnsigned(isolate, uintValue);
    case Tag::kDouble:
      return v8::Number::New(isolate, doubleValue);
    case Tag::kDate:
      // A new Date in the receiving context each time.
      return v8::Date::New(context, JsTimeFromBaseTime(dateValue))
          .ToLocalChecked();
    case Tag::kString:
      return ToV8String(isolate, stringValue);
    case Tag::kObject:
      return handle.Get(isolate);
  }
  return v8::Undefined(isolate);
}

bool V8ValueImpl::PassesMlt() const {
  IsolateManager* current = Manager();
  if (!current) {
    return false;
  }
  return type != Tag::kObject || manager() == current;
}

bool V8ValueImpl::PassesValid() const {
  return PassesMlt() && type == Tag::kObject && !handle.IsEmpty() &&
         (!state || state->valid);
}

bool V8ValueImpl::PassesObj() const {
  return PassesValid();
}

v8::Local<v8::Object> V8ValueImpl::Object(v8::Isolate* isolate) const {
  return handle.Get(isolate).As<v8::Object>();
}

bool V8ValueImpl::HasCaught(v8::Local<v8::Context> context,
                            v8::TryCatch& tryCatch) {
  if (!tryCatch.HasCaught()) {
    lastException = nullptr;
    return false;
  }
  lastException = new V8ExceptionImpl(context, tryCatch.Message());
  if (rethrowExceptions) {
    tryCatch.ReThrow();
  }
  return true;
}

// Predicates.

bool V8ValueImpl::IsValid() {
  if (!Manager() || type == Tag::kInvalid) {
    return false;
  }
  if (type == Tag::kObject) {
    return PassesMlt() && (!state || state->valid);
  }
  return true;
}

bool V8ValueImpl::IsUndefined() {
  return Manager() && type == Tag::kUndefined;
}

bool V8ValueImpl::IsNull() {
  return Manager() && type == Tag::kNull;
}

bool V8ValueImpl::IsBool() {
  return Manager() && type == Tag::kBool;
}

// CEF quirk: "int" is the INT tag or a UINT that fits; a DOUBLE 5.0 is not.
bool V8ValueImpl::IsInt() {
  if (!Manager()) {
    return false;
  }
  return type == Tag::kInt ||
         (type == Tag::kUInt &&
          uintValue <=
              static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
}

bool V8ValueImpl::IsUInt() {
  if (!Manager()) {
    return false;
  }
  return type == Tag::kUInt || (type == Tag::kInt && intValue >= 0);
}

bool V8ValueImpl::IsDouble() {
  return Manager() &&
         (type == Tag::kInt || type == Tag::kUInt || type == Tag::kDouble);
}

bool V8ValueImpl::IsDate() {
  return Manager() && type == Tag::kDate;
}

bool V8ValueImpl::IsString() {
  return Manager() && type == Tag::kString;
}

// Still true after the context is released: only the tag is read.
bool V8ValueImpl::IsObject() {
  return Manager() && type == Tag::kObject;
}

bool V8ValueImpl::IsArray() {
  if (!PassesMlt() || type != Tag::kObject || handle.IsEmpty()) {
    return false;
  }
  v8::HandleScope scope(Manager()->isolate());
  return handle.Get(Manager()->isolate())->IsArray();
}

bool V8ValueImpl::IsArrayBuffer() {
  if (!PassesMlt() || type != Tag::kObject || handle.IsEmpty()) {
    return false;
  }
  v8::HandleScope scope(Manager()->isolate());
  return handle.Get(Manager()->isolate())->IsArrayBuffer();
}

bool V8ValueImpl::IsFunction() {
  if (!PassesMlt() || type != Tag::kObject || handle.IsEmpty()) {
    return false;
  }
  v8::HandleScope scope(Manager()->isolate());
  return handle.Get(Manager()->isolate())->IsFunction();
}

bool V8ValueImpl::IsPromise() {
  if (!PassesMlt() || type != Tag::kObject || handle.IsEmpty()) {
    return false;
  }
  v8::HandleScope scope(Manager()->isolate());
  return handle.Get(Manager()->isolate())->IsPromise();
}

// Same tag and same value: INT 5, UINT 5 and DOUBLE 5 differ.
bool V8ValueImpl::IsSame(CefRefPtr<CefV8Value> that) {
  if (!that || !PassesMlt()) {
    return false;
  }
  V8ValueImpl* other = From(that);
  if (!other->IsValid() || type != other->type) {
    return false;
  }
  switch (type) {
    case Tag::kInvalid:
      return false;
    case Tag::kUndefined:
    case Tag::kNull:
      return true;
    case Tag::kBool:
      return boolValue == other->boolValue;
    case Tag::kInt:
      return intValue == other->intValue;
    case Tag::kUInt:
      return uintValue == other->uintValue;
    case Tag::kDouble:
      return doubleValue == other->doubleValue;
    case Tag::kDate:
      return dateValue.val == other->dateValue.val;
    case Tag::kString:
      return stringValue == other->stringValue;
    case Tag::kObject:
      return handle == other->handle;
  }
  return false;
}

// Getters: no coercion at all.

bool V8ValueImpl::GetBoolValue() {
  return Manager() && type == Tag::kBool && boolValue;
}

int32_t V8ValueImpl::GetIntValue() {
  if (!Manager()) {
    return 0;
  }
  if (type == Tag::kInt) {
    return intValue;
  }
  if (type == Tag::kUInt &&
      uintValue <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return static_cast<int32_t>(uintValue);
  }
  return 0;
}

uint32_t V8ValueImpl::GetUIntValue() {
  if (!Manager()) {
    return 0;
  }
  if (type == Tag::kUInt) {
    return uintValue;
  }
  if (type == Tag::kInt && intValue >= 0) {
    return static_cast<uint32_t>(intValue);
  }
  return 0;
}

double V8ValueImpl::GetDoubleValue() {
  if (!Manager()) {
    return 0.0;
  }
  switch (type) {
    case Tag::kInt:
      return intValue;
    case Tag::kUInt:
      return uintValue;
    case Tag::kDouble:
      return doubleValue;
    default:
      return 0.0;
  }
}

CefBaseTime V8ValueImpl::GetDateValue() {
  if (!Manager() || type != Tag::kDate) {
    return CefBaseTime();
  }
  return dateValue;
}

CefString V8ValueImpl::GetStringValue() {
  if (!Manager() || type != Tag::kString) {
    return CefString();
  }
  return stringValue;
}

// Exceptions, per wrapper instance.

bool V8ValueImpl::IsUserCreated() {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  return Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate)) !=
         nullptr;
}

bool V8ValueImpl::HasException() {
  return PassesObj() && lastException != nullptr;
}

CefRefPtr<CefV8Exception> V8ValueImpl::GetException() {
  return PassesObj() ? lastException : nullptr;
}

bool V8ValueImpl::ClearException() {
  if (!PassesObj()) {
    return false;
  }
  lastException = nullptr;
  return true;
}

bool V8ValueImpl::WillRethrowExceptions() {
  return PassesObj() && rethrowExceptions;
}

bool V8ValueImpl::SetRethrowExceptions(bool rethrow) {
  if (!PassesObj()) {
    return false;
  }
  rethrowExceptions = rethrow;
  return true;
}

// Object access.

bool V8ValueImpl::HasValue(const CefString& key) {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Maybe<bool> has = Object(isolate)->Has(context, ToV8String(isolate, key));
  if (has.IsNothing()) {
    Fatal("HasValue hit a throwing 'has' trap; CEF 130 calls FromJust");
  }
  return has.FromJust();
}

bool V8ValueImpl::HasValue(int index) {
  if (index < 0 || !PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Maybe<bool> has =
      Object(isolate)->Has(context, static_cast<uint32_t>(index));
  if (has.IsNothing()) {
    Fatal("HasValue hit a throwing 'has' trap; CEF 130 calls FromJust");
  }
  return has.FromJust();
}

bool V8ValueImpl::DeleteValue(const CefString& key) {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::Maybe<bool> deleted =
      Object(isolate)->Delete(context, ToV8String(isolate, key));
  return !HasCaught(context, tryCatch) && deleted.FromMaybe(false);
}

bool V8ValueImpl::DeleteValue(int index) {
  if (index < 0 || !PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::Maybe<bool> deleted =
      Object(isolate)->Delete(context, static_cast<uint32_t>(index));
  return !HasCaught(context, tryCatch) && deleted.FromMaybe(false);
}

// A missing key gives a valid undefined; null means an exception, a
// primitive or invalid receiver, or no current context.
CefRefPtr<CefV8Value> V8ValueImpl::GetValue(const CefString& key) {
  if (!PassesObj() || !InContext(Manager())) {
    return nullptr;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::MaybeLocal<v8::Value> result =
      Object(isolate)->Get(context, ToV8String(isolate, key));
  if (HasCaught(context, tryCatch) || result.IsEmpty()) {
    return nullptr;
  }
  return Wrap(Manager(), result.ToLocalChecked());
}

CefRefPtr<CefV8Value> V8ValueImpl::GetValue(int index) {
  if (index < 0 || !PassesObj() || !InContext(Manager())) {
    return nullptr;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::MaybeLocal<v8::Value> result =
      Object(isolate)->Get(context, static_cast<uint32_t>(index));
  if (HasCaught(context, tryCatch) || result.IsEmpty()) {
    return nullptr;
  }
  return Wrap(Manager(), result.ToLocalChecked());
}

// NONE is a plain [[Set]] (true even on a frozen target); any attribute is
// a define, which never runs setters and fails on non-configurable keys.
bool V8ValueImpl::SetValue(const CefString& key,
                           CefRefPtr<CefV8Value> value,
                           PropertyAttribute attribute) {
  if (!value || !PassesObj() || !value->IsValid() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::Local<v8::Value> v8Value = From(value)->ToV8(isolate, context);
  v8::Maybe<bool> stored =
      attribute == V8_PROPERTY_ATTRIBUTE_NONE
          ? Object(isolate)->Set(context, ToV8String(isolate, key), v8Value)
          : Object(isolate)->DefineOwnProperty(
                context, ToV8String(isolate, key), v8Value,
                static_cast<v8::PropertyAttribute>(attribute));
  return !HasCaught(context, tryCatch) && stored.FromMaybe(false);
}

bool V8ValueImpl::SetValue(int index, CefRefPtr<CefV8Value> value) {
  if (index < 0 || !value || !PassesObj() || !value->IsValid() ||
      !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::Maybe<bool> stored =
      Object(isolate)->Set(context, static_cast<uint32_t>(index),
                           From(value)->ToV8(isolate, context));
  return !HasCaught(context, tryCatch) && stored.FromMaybe(false);
}

bool V8ValueImpl::SetValue(const CefString& key, PropertyAttribute attribute) {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  V8Tracker* tracker = Manager()->TrackerOf(context, Object(isolate));
  if (!tracker || !tracker->accessor) {
    return false;
  }
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  const bool readOnly = (attribute & V8_PROPERTY_ATTRIBUTE_READONLY) != 0;
  v8::Maybe<bool> set = Object(isolate)->SetAccessor(
      context, ToV8String(isolate, key), &AccessorGetter,
      readOnly ? &EmptySetter : &AccessorSetter,
      v8::External::New(isolate, tracker), v8::DEFAULT,
      static_cast<v8::PropertyAttribute>(attribute));
  return !HasCaught(context, tryCatch) && set.FromMaybe(false);
}

// for...in keys (inherited enumerable ones too), appended.
bool V8ValueImpl::GetKeys(std::vector<CefString>& keys) {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Array> names;
  if (!Object(isolate)->GetPropertyNames(context).ToLocal(&names)) {
    Fatal("GetKeys hit a throwing trap; CEF 130 calls ToLocalChecked");
  }
  const uint32_t count = names->Length();
  for (uint32_t i = 0; i < count; ++i) {
    v8::Local<v8::Value> name = names->Get(context, i).ToLocalChecked();
    keys.push_back(
        FromV8String(isolate, name->ToString(context).ToLocalChecked()));
  }
  return true;
}

bool V8ValueImpl::SetUserData(CefRefPtr<CefBaseRefCounted> user_data) {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  V8Tracker* tracker =
      Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate));
  if (!tracker) {
    return false;
  }
  tracker->userData = user_data;
  return true;
}

CefRefPtr<CefBaseRefCounted> V8ValueImpl::GetUserData() {
  if (!PassesObj() || !InContext(Manager())) {
    return nullptr;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  V8Tracker* tracker =
      Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate));
  return tracker ? tracker->userData : nullptr;
}

int V8ValueImpl::GetExternallyAllocatedMemory() {
  if (!PassesObj() || !InContext(Manager())) {
    return 0;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  V8Tracker* tracker =
      Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate));
  return tracker ? tracker->externalMemory : 0;
}

int V8ValueImpl::AdjustExternallyAllocatedMemory(int change_in_bytes) {
  if (!PassesObj() || !InContext(Manager())) {
    return 0;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  V8Tracker* tracker =
      Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate));
  if (!tracker) {
    return 0;
  }
  if (change_in_bytes != 0) {
    tracker->externalMemory += change_in_bytes;
    isolate->AdjustAmountOfExternalAllocatedMemory(change_in_bytes);
  }
  return tracker->externalMemory;
}

int V8ValueImpl::GetArrayLength() {
  if (!PassesObj() || !InContext(Manager())) {
    return 0;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> value = handle.Get(isolate);
  if (!value->IsArray()) {
    return 0;
  }
  return static_cast<int>(value.As<v8::Array>()->Length());
}

CefRefPtr<CefV8ArrayBufferReleaseCallback>
V8ValueImpl::GetArrayBufferReleaseCallback() {
  if (!PassesObj() || !InContext(Manager())) {
    return nullptr;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  if (!handle.Get(isolate)->IsArrayBuffer()) {
    return nullptr;
  }
  V8Tracker* tracker =
      Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate));
  return tracker ? tracker->releaseCallback : nullptr;
}

bool V8ValueImpl::NeuterArrayBuffer() {
  if (!PassesObj() || !InContext(Manager())) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> value = handle.Get(isolate);
  if (!value->IsArrayBuffer()) {
    return false;
  }
  v8::Local<v8::ArrayBuffer> buffer = value.As<v8::ArrayBuffer>();
  if (!buffer->IsDetachable()) {
    return false;
  }
  buffer->Detach();
  return true;
}

// Only the isolate, the OBJECT tag and a current context are checked here:
// no thread or validity check, as in CEF.
size_t V8ValueImpl::GetArrayBufferByteLength() {
  IsolateManager* current = Manager();
  if (!current || type != Tag::kObject || handle.IsEmpty() || !manager() ||
      !InContext(current)) {
    return 0;
  }
  v8::Isolate* isolate = current->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> value = handle.Get(isolate);
  if (!value->IsArrayBuffer()) {
    return 0;
  }
  return value.As<v8::ArrayBuffer>()->ByteLength();
}

void* V8ValueImpl::GetArrayBufferData() {
  IsolateManager* current = Manager();
  if (!current || type != Tag::kObject || handle.IsEmpty() || !manager() ||
      !InContext(current)) {
    return nullptr;
  }
  v8::Isolate* isolate = current->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> value = handle.Get(isolate);
  if (!value->IsArrayBuffer()) {
    return nullptr;
  }
  return value.As<v8::ArrayBuffer>()->GetBackingStore()->Data();
}

CefString V8ValueImpl::GetFunctionName() {
  if (!PassesObj() || !InContext(Manager())) {
    return CefString();
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> value = handle.Get(isolate);
  if (!value->IsFunction()) {
    return CefString();
  }
  return FromV8String(isolate, value.As<v8::Function>()->GetName());
}

CefRefPtr<CefV8Handler> V8ValueImpl::GetFunctionHandler() {
  if (!PassesObj() || !InContext(Manager())) {
    return nullptr;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  if (!handle.Get(isolate)->IsFunction()) {
    return nullptr;
  }
  V8Tracker* tracker =
      Manager()->TrackerOf(isolate->GetCurrentContext(), Object(isolate));
  return tracker ? tracker->handler : nullptr;
}

// Functions.

CefRefPtr<CefV8Value> V8ValueImpl::ExecuteFunction(
    CefRefPtr<CefV8Value> object,
    const CefV8ValueList& arguments) {
  return CallFunction(nullptr, object, arguments);
}

CefRefPtr<CefV8Value> V8ValueImpl::ExecuteFunctionWithContext(
    CefRefPtr<CefV8Context> context,
    CefRefPtr<CefV8Value> object,
    const CefV8ValueList& arguments) {
  // The wrapper refuses a null context although the library would not.
  if (!context) {
    return nullptr;
  }
  return CallFunction(context, object, arguments);
}

CefRefPtr<CefV8Value> V8ValueImpl::CallFunction(
    CefRefPtr<CefV8Context> context,
    CefRefPtr<CefV8Value> object,
    const CefV8ValueList& arguments) {
  if (!PassesObj()) {
    return nullptr;
  }
  IsolateManager* current = Manager();
  v8::Isolate* isolate = current->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> function = handle.Get(isolate);
  if (!function->IsFunction()) {
    return nullptr;
  }
  if (context && !context->IsValid()) {
    return nullptr;
  }
  // An explicit undefined, null, primitive or Date receiver refuses the call.
  if (object && (!object->IsValid() || !object->IsObject())) {
    return nullptr;
  }
  for (const CefRefPtr<CefV8Value>& argument : arguments) {
    if (!argument || !argument->IsValid()) {
      return nullptr;
    }
  }
  v8::Local<v8::Context> callContext =
      context ? V8ContextImpl::From(context)->Context(isolate)
              : isolate->GetCurrentContext();
  if (callContext.IsEmpty()) {
    Fatal(
        "ExecuteFunction with no context current; CEF 130 enters an empty "
        "v8::Local<v8::Context> and crashes");
  }
  v8::Context::Scope contextScope(callContext);
  // A null object means the global, even for strict functions.
  v8::Local<v8::Value> receiver =
      object ? From(object)->ToV8(isolate, callContext)
             : v8::Local<v8::Value>(callContext->Global());

  constexpr size_t kInlineArguments = 8;
  v8::Local<v8::Value> inlineArgv[kInlineArguments];
  std::vector<v8::Local<v8::Value>> heapArgv;
  v8::Local<v8::Value>* argv = inlineArgv;
  if (arguments.size() > kInlineArguments) {
    heapArgv.resize(arguments.size());
    argv = heapArgv.data();
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    argv[i] = From(arguments[i])->ToV8(isolate, callContext);
  }

  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  v8::MaybeLocal<v8::Value> result =
      CallFunctionLikeBlink(current, callContext, function.As<v8::Function>(),
                            receiver, static_cast<int>(arguments.size()), argv);
  if (HasCaught(callContext, tryCatch) || result.IsEmpty()) {
    return nullptr;
  }
  return Wrap(current, result.ToLocalChecked());
}

// Promises.

bool V8ValueImpl::ResolvePromise(CefRefPtr<CefV8Value> arg) {
  return Settle(true, arg, CefString());
}

bool V8ValueImpl::RejectPromise(const CefString& errorMsg) {
  // The wrapper refuses an empty text and leaves the promise pending.
  if (errorMsg.empty()) {
    return false;
  }
  return Settle(false, nullptr, errorMsg);
}

bool V8ValueImpl::Settle(bool resolve,
                         CefRefPtr<CefV8Value> arg,
                         const CefString& message) {
  if (!PassesObj()) {
    return false;
  }
  IsolateManager* current = Manager();
  v8::Isolate* isolate = current->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> value = handle.Get(isolate);
  if (!value->IsPromise()) {
    return false;
  }
  if (arg && !arg->IsValid()) {
    return false;
  }
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  if (context.IsEmpty()) {
    Fatal(std::string(resolve ? "ResolvePromise" : "RejectPromise") +
          " with no context current; CEF 130 enters an empty "
          "v8::Local<v8::Context> and crashes");
  }
  v8::Context::Scope contextScope(context);
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  // Any promise can be settled this way, not only CreatePromise ones.
  v8::Local<v8::Promise::Resolver> resolver = value.As<v8::Promise::Resolver>();
  if (resolve) {
    v8::Local<v8::Value> result =
        arg ? From(arg)->ToV8(isolate, context)
            : v8::Local<v8::Value>(v8::Undefined(isolate));
    resolver->Resolve(context, result).IsJust();
  } else {
    resolver
        ->Reject(context, v8::Exception::Error(ToV8String(isolate, message)))
        .IsJust();
  }
  return !HasCaught(context, tryCatch);
}

}  // namespace cefsim

// Factories. Primitives need only the render thread; objects also need a
// current context, whose state the new wrapper is bound to.

using cefsim::IsolateManager;
using cefsim::V8ValueImpl;

namespace {

CefRefPtr<V8ValueImpl> Primitive(V8ValueImpl::Tag tag) {
  if (!IsolateManager::Current()) {
    return nullptr;
  }
  return new V8ValueImpl(tag);
}

}  // namespace

CefRefPtr<CefV8Value> CefV8Value::CreateUndefined() {
  return Primitive(V8ValueImpl::Tag::kUndefined);
}

CefRefPtr<CefV8Value> CefV8Value::CreateNull() {
  return Primitive(V8ValueImpl::Tag::kNull);
}

CefRefPtr<CefV8Value> CefV8Value::CreateBool(bool value) {
  return IsolateManager::Current() ? V8ValueImpl::NewBool(value) : nullptr;
}

// Tagged as created: CreateDouble(5.0) is not IsInt, CreateUInt(5) is.
CefRefPtr<CefV8Value> CefV8Value::CreateInt(int32_t value) {
  return IsolateManager::Current() ? V8ValueImpl::NewInt(value) : nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateUInt(uint32_t value) {
  return IsolateManager::Current() ? V8ValueImpl::NewUInt(value) : nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateDouble(double value) {
  return IsolateManager::Current() ? V8ValueImpl::NewDouble(value) : nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateDate(CefBaseTime date) {
  return IsolateManager::Current() ? V8ValueImpl::NewDate(date) : nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateString(const CefString& value) {
  return IsolateManager::Current() ? V8ValueImpl::NewString(value) : nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateObject(
    CefRefPtr<CefV8Accessor> accessor,
    CefRefPtr<CefV8Interceptor> interceptor) {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  cefsim::V8Tracker* tracker = manager->NewTracker();
  tracker->accessor = accessor;
  tracker->interceptor = interceptor;
  v8::Local<v8::Object> object;
  if (interceptor) {
    v8::Local<v8::ObjectTemplate> objectTemplate =
        v8::ObjectTemplate::New(isolate);
    v8::Local<v8::External> data = v8::External::New(isolate, tracker);
    objectTemplate->SetHandler(v8::NamedPropertyHandlerConfiguration(
        &cefsim::InterceptorNamedGetter, &cefsim::InterceptorNamedSetter,
        nullptr, nullptr, nullptr, data,
        v8::PropertyHandlerFlags::kOnlyInterceptStrings));
    objectTemplate->SetHandler(v8::IndexedPropertyHandlerConfiguration(
        &cefsim::InterceptorIndexedGetter, &cefsim::InterceptorIndexedSetter,
        nullptr, nullptr, nullptr, data));
    object = objectTemplate->NewInstance(context).ToLocalChecked();
  } else {
    object = v8::Object::New(isolate);
  }
  manager->AttachTracker(context, object, tracker);
  return V8ValueImpl::Wrap(manager, object);
}

CefRefPtr<CefV8Value> CefV8Value::CreateArray(int length) {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  // A holey array of that length; V8 treats a negative length as 0.
  v8::Local<v8::Array> array = v8::Array::New(isolate, length);
  manager->AttachTracker(context, array, manager->NewTracker());
  return V8ValueImpl::Wrap(manager, array);
}

// The 32-bit target has no V8 sandbox, so buffers over caller memory work
// there (64-bit CEF 130 builds return null instead).
CefRefPtr<CefV8Value> CefV8Value::CreateArrayBuffer(
    void* buffer,
    size_t length,
    CefRefPtr<CefV8ArrayBufferReleaseCallback> release_callback) {
  if (!release_callback) {
    return nullptr;
  }
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  release_callback->AddRef();
  std::unique_ptr<v8::BackingStore> store = v8::ArrayBuffer::NewBackingStore(
      buffer, length, &cefsim::ReleaseArrayBufferMemory,
      release_callback.get());
  v8::Local<v8::ArrayBuffer> arrayBuffer =
      v8::ArrayBuffer::New(isolate, std::move(store));
  cefsim::V8Tracker* tracker = manager->NewTracker();
  tracker->releaseCallback = release_callback;
  manager->AttachTracker(context, arrayBuffer, tracker);
  return V8ValueImpl::Wrap(manager, arrayBuffer);
}

CefRefPtr<CefV8Value> CefV8Value::CreateArrayBufferWithCopy(void* buffer,
                                                            size_t length) {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  if (length > 0 && !buffer) {
    cefsim::Fatal(
        "CreateArrayBufferWithCopy(nullptr, n > 0); CEF 130 memcpy()s from "
        "null");
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::ArrayBuffer> arrayBuffer =
      v8::ArrayBuffer::New(isolate, length);
  if (length > 0) {
    std::memcpy(arrayBuffer->GetBackingStore()->Data(), buffer, length);
  }
  return V8ValueImpl::Wrap(manager, arrayBuffer);
}

CefRefPtr<CefV8Value> CefV8Value::CreateFunction(
    const CefString& name,
    CefRefPtr<CefV8Handler> handler) {
  // Both refused by the wrapper before the library is reached.
  if (name.empty() || !handler) {
    return nullptr;
  }
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  cefsim::V8Tracker* tracker = manager->NewTracker();
  tracker->functionName = name;
  tracker->handler = handler;
  v8::Local<v8::Function> function =
      v8::Function::New(context, &cefsim::HandlerFunctionCallback,
                        v8::External::New(isolate, tracker), 0,
                        v8::ConstructorBehavior::kAllow)
          .ToLocalChecked();
  function->SetName(cefsim::ToV8String(isolate, name));
  manager->AttachTracker(context, function, tracker);
  return V8ValueImpl::Wrap(manager, function);
}

CefRefPtr<CefV8Value> CefV8Value::CreatePromise() {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Promise::Resolver> resolver;
  if (!v8::Promise::Resolver::New(isolate->GetCurrentContext())
           .ToLocal(&resolver)) {
    return nullptr;
  }
  // The resolver is the promise object itself.
  return V8ValueImpl::Wrap(manager, resolver);
}
