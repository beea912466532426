#pragma once

#include "include/cef_client.h"
#include "include/cef_frame_handler.h"
#include "include/cef_load_handler.h"
#include "include/cef_request_handler.h"
#include "peer/peer.h"

namespace cefsim {

// The host's CefClient with the peer library wired in, as docs/peer.md
// shows: frame notifications, the renderer's messages and its end go to the
// library. Tests derive from it to watch the same notifications.
class PeerClient : public CefClient,
                   public CefFrameHandler,
                   public CefLoadHandler,
                   public CefRequestHandler {
 public:
  explicit PeerClient(cef_launcher_peer::Peer* peerLibrary)
      : library(peerLibrary) {}
  PeerClient(const PeerClient&) = delete;
  PeerClient& operator=(const PeerClient&) = delete;

  // After this the client forwards nothing; the library may be destroyed
  // while the browser side still holds the client.
  void Detach() { library = nullptr; }

  // CefClient methods:
  CefRefPtr<CefFrameHandler> GetFrameHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message) override {
    return library && library->OnProcessMessageReceived(browser, frame,
                                                        sourceProcess, message);
  }

  // CefFrameHandler methods:
  void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame,
                       bool reattached) override {
    if (library) {
      library->OnFrameAttached(browser, frame, reattached);
    }
  }
  void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame) override {
    if (library) {
      library->OnFrameDetached(browser, frame);
    }
  }

  // CefLoadHandler methods:
  void OnLoadStart(CefRefPtr<CefBrowser> browser,
                   CefRefPtr<CefFrame> frame,
                   TransitionType /*transitionType*/) override {
    if (library) {
      library->OnLoadStart(browser, frame);
    }
  }

  // CefRequestHandler methods:
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                 TerminationStatus /*status*/,
                                 int /*errorCode*/,
                                 const CefString& /*errorString*/) override {
    if (library) {
      library->OnRenderProcessTerminated(browser);
    }
  }

 private:
  cef_launcher_peer::Peer* library;

  IMPLEMENT_REFCOUNTING(PeerClient);
};

}  // namespace cefsim
