// The wrapper library's stream-backed resource handler.

#include "include/wrapper/cef_stream_resource_handler.h"

#include <utility>

#include "cefsim/fatal.h"

namespace {

// The wrapper asks the stream whether it may block as it is built.
void CheckStream(const CefRefPtr<CefStreamReader>& stream) {
  if (!stream) {
    cefsim::Fatal(
        "CefStreamResourceHandler built with a null stream: the wrapper calls "
        "MayBlock() on it in its constructor (CreateForData gives null for "
        "zero bytes)");
  }
}

}  // namespace

CefStreamResourceHandler::CefStreamResourceHandler(
    const CefString& mime_type,
    CefRefPtr<CefStreamReader> stream_reader)
    : statusCode(200),
      statusText("OK"),
      mimeType(mime_type),
      stream(std::move(stream_reader)) {
  CheckStream(stream);
}

CefStreamResourceHandler::CefStreamResourceHandler(
    int status_code,
    const CefString& status_text,
    const CefString& mime_type,
    CefResponse::HeaderMap header_map,
    CefRefPtr<CefStreamReader> stream_reader)
    : statusCode(status_code),
      statusText(status_text),
      mimeType(mime_type),
      headerMap(std::move(header_map)),
      stream(std::move(stream_reader)) {
  CheckStream(stream);
}

bool CefStreamResourceHandler::Open(CefRefPtr<CefRequest> /*request*/,
                                    bool& handle_request,
                                    CefRefPtr<CefCallback> /*callback*/) {
  handle_request = true;
  return true;
}

void CefStreamResourceHandler::GetResponseHeaders(
    CefRefPtr<CefResponse> response,
    int64_t& response_length,
    CefString& /*redirectUrl*/) {
  response->SetStatus(statusCode);
  response->SetStatusText(statusText);
  response->SetMimeType(mimeType);
  if (!headerMap.empty()) {
    response->SetHeaderMap(headerMap);
  }
  response_length = -1;
}

bool CefStreamResourceHandler::Read(
    void* data_out,
    int bytes_to_read,
    int& bytes_read,
    CefRefPtr<CefResourceReadCallback> /*callback*/) {
  bytes_read = 0;
  if (bytes_to_read <= 0) {
    return false;
  }
  // Memory streams never block: read on the calling thread.
  bytes_read = static_cast<int>(
      stream->Read(data_out, 1, static_cast<size_t>(bytes_to_read)));
  return bytes_read > 0;
}
