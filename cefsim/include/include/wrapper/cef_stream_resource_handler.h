#pragma once

#include "include/cef_resource_handler.h"
#include "include/cef_response.h"
#include "include/cef_stream.h"

// A resource handler that answers from a stream (the wrapper library's).
class CefStreamResourceHandler : public CefResourceHandler {
 public:
  CefStreamResourceHandler(const CefString& mime_type,
                           CefRefPtr<CefStreamReader> stream);
  CefStreamResourceHandler(int status_code,
                           const CefString& status_text,
                           const CefString& mime_type,
                           CefResponse::HeaderMap header_map,
                           CefRefPtr<CefStreamReader> stream);
  CefStreamResourceHandler(const CefStreamResourceHandler&) = delete;
  CefStreamResourceHandler& operator=(const CefStreamResourceHandler&) = delete;

  // CefResourceHandler methods.
  bool Open(CefRefPtr<CefRequest> request,
            bool& handle_request,
            CefRefPtr<CefCallback> callback) override;
  void GetResponseHeaders(CefRefPtr<CefResponse> response,
                          int64_t& response_length,
                          CefString& redirectUrl) override;
  bool Read(void* data_out,
            int bytes_to_read,
            int& bytes_read,
            CefRefPtr<CefResourceReadCallback> callback) override;
  void Cancel() override {}

 private:
  const int statusCode;
  const CefString statusText;
  const CefString mimeType;
  const CefResponse::HeaderMap headerMap;
  const CefRefPtr<CefStreamReader> stream;

  IMPLEMENT_REFCOUNTING(CefStreamResourceHandler);
};
