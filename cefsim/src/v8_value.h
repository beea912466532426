#pragma once

#include <v8.h>

#include "include/cef_v8.h"
#include "v8_isolate.h"

namespace cefsim {

// CEF's CefV8ValueImpl: a snapshot of a script value with CEF's own type tag.
// Only objects keep a V8 handle, bound to the context current at wrap time.
class V8ValueImpl : public CefV8Value, public V8Tracked {
 public:
  // CEF's tag, in CEF's classification order.
  enum class Tag {
    kInvalid,
    kUndefined,
    kNull,
    kBool,
    kInt,
    kUInt,
    kDouble,
    kDate,
    kString,
    kObject,
  };

  explicit V8ValueImpl(Tag tag);
  V8ValueImpl(const V8ValueImpl&) = delete;
  V8ValueImpl& operator=(const V8ValueImpl&) = delete;

  // Classifies `value` as CEF does; objects are bound to the current
  // context's state (no state when no context is current).
  static CefRefPtr<V8ValueImpl> Wrap(IsolateManager* manager,
                                     v8::Local<v8::Value> value);
  static CefRefPtr<V8ValueImpl> NewBool(bool value);
  static CefRefPtr<V8ValueImpl> NewInt(int32_t value);
  static CefRefPtr<V8ValueImpl> NewUInt(uint32_t value);
  static CefRefPtr<V8ValueImpl> NewDouble(double value);
  static CefRefPtr<V8ValueImpl> NewDate(CefBaseTime value);
  static CefRefPtr<V8ValueImpl> NewString(CefString value);
  static V8ValueImpl* From(const CefRefPtr<CefV8Value>& value) {
    return static_cast<V8ValueImpl*>(value.get());
  }

  // The V8 value to hand into script in `context` (a fresh primitive, a new
  // Date, or the object itself).
  v8::Local<v8::Value> ToV8(v8::Isolate* isolate,
                            v8::Local<v8::Context> context);
  Tag tag() const { return type; }

  // CefV8Value methods:
  bool IsValid() override;
  bool IsUndefined() override;
  bool IsNull() override;
  bool IsBool() override;
  bool IsInt() override;
  bool IsUInt() override;
  bool IsDouble() override;
  bool IsDate() override;
  bool IsString() override;
  bool IsObject() override;
  bool IsArray() override;
  bool IsArrayBuffer() override;
  bool IsFunction() override;
  bool IsPromise() override;
  bool IsSame(CefRefPtr<CefV8Value> that) override;
  bool GetBoolValue() override;
  int32_t GetIntValue() override;
  uint32_t GetUIntValue() override;
  double GetDoubleValue() override;
  CefBaseTime GetDateValue() override;
  CefString GetStringValue() override;
  bool IsUserCreated() override;
  bool HasException() override;
  CefRefPtr<CefV8Exception> GetException() override;
  bool ClearException() override;
  bool WillRethrowExceptions() override;
  bool SetRethrowExceptions(bool rethrow) override;
  bool HasValue(const CefString& key) override;
  bool HasValue(int index) override;
  bool DeleteValue(const CefString& key) override;
  bool DeleteValue(int index) override;
  CefRefPtr<CefV8Value> GetValue(const CefString& key) override;
  CefRefPtr<CefV8Value> GetValue(int index) override;
  bool SetValue(const CefString& key,
                CefRefPtr<CefV8Value> value,
                PropertyAttribute attribute) override;
  bool SetValue(int index, CefRefPtr<CefV8Value> value) override;
  bool SetValue(const CefString& key, PropertyAttribute attribute) override;
  bool GetKeys(std::vector<CefString>& keys) override;
  bool SetUserData(CefRefPtr<CefBaseRefCounted> user_data) override;
  CefRefPtr<CefBaseRefCounted> GetUserData() override;
  int GetExternallyAllocatedMemory() override;
  int AdjustExternallyAllocatedMemory(int change_in_bytes) override;
  int GetArrayLength() override;
  CefRefPtr<CefV8ArrayBufferReleaseCallback> GetArrayBufferReleaseCallback()
      override;
  bool NeuterArrayBuffer() override;
  size_t GetArrayBufferByteLength() override;
  void* GetArrayBufferData() override;
  CefString GetFunctionName() override;
  CefRefPtr<CefV8Handler> GetFunctionHandler() override;
  CefRefPtr<CefV8Value> ExecuteFunction(
      CefRefPtr<CefV8Value> object,
      const CefV8ValueList& arguments) override;
  CefRefPtr<CefV8Value> ExecuteFunctionWithContext(
      CefRefPtr<CefV8Context> context,
      CefRefPtr<CefV8Value> object,
      const CefV8ValueList& arguments) override;
  bool ResolvePromise(CefRefPtr<CefV8Value> arg) override;
  bool RejectPromise(const CefString& errorMsg) override;

 private:
  ~V8ValueImpl();
  void OnIsolateTeardown() override;

  static CefRefPtr<V8ValueImpl> WrapDate(IsolateManager* manager,
                                         v8::Local<v8::Value> date);
  void SetObject(IsolateManager* manager,
                 v8::Local<v8::Value> object,
                 CefRefPtr<ContextState> boundState);
  // CEF's guards (see the header of v8_value.cc).
  bool PassesMlt() const;
  bool PassesValid() const;
  bool PassesObj() const;
  // Records (or clears) the exception of the last operation on this value.
  bool HasCaught(v8::Local<v8::Context> context, v8::TryCatch& tryCatch);
  v8::Local<v8::Object> Object(v8::Isolate* isolate) const;
  CefRefPtr<CefV8Value> CallFunction(CefRefPtr<CefV8Context> context,
                                     CefRefPtr<CefV8Value> object,
                                     const CefV8ValueList& arguments);
  bool Settle(bool resolve,
              CefRefPtr<CefV8Value> arg,
              const CefString& message);

  Tag type;
  union {
    bool boolValue;
    int32_t intValue;
    uint32_t uintValue;
    double doubleValue;
  };
  CefBaseTime dateValue;
  CefString stringValue;
  v8::Global<v8::Value> handle;
  CefRefPtr<ContextState> state;
  CefRefPtr<CefV8Exception> lastException;
  bool rethrowExceptions = false;

  IMPLEMENT_REFCOUNTING(V8ValueImpl);
};

// V8 callbacks behind CreateFunction, CreateObject's interceptor and
// CreateArrayBuffer's release callback.
void HandlerFunctionCallback(const v8::FunctionCallbackInfo<v8::Value>& info);
void InterceptorNamedGetter(v8::Local<v8::Name> name,
                            const v8::PropertyCallbackInfo<v8::Value>& info);
void InterceptorNamedSetter(v8::Local<v8::Name> name,
                            v8::Local<v8::Value> value,
                            const v8::PropertyCallbackInfo<v8::Value>& info);
void InterceptorIndexedGetter(uint32_t index,
                              const v8::PropertyCallbackInfo<v8::Value>& info);
void InterceptorIndexedSetter(uint32_t index,
                              v8::Local<v8::Value> value,
                              const v8::PropertyCallbackInfo<v8::Value>& info);
void ReleaseArrayBufferMemory(void* data, size_t length, void* deleterData);

// CefBaseTime (microseconds since 1601) <-> JS time (ms since 1970), with
// base::Time's truncating conversion.
double JsTimeFromBaseTime(CefBaseTime time);
CefBaseTime BaseTimeFromJsTime(double milliseconds);

}  // namespace cefsim
