#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cefsim/renderer_process.h"
#include "include/cef_app.h"
#include "include/cef_client.h"

// The test and demo driver around a CefApp: plays Blink (frames, page
// script, focus) on the renderer side and the browser process on the other
// end of every frame's message channel. Everything runs on the calling
// thread, deterministically.
namespace cefsim {

class BrowserPeer;
class BrowserSide;

// One message the renderer sent, as the browser process received it
// (read-only, sharing nothing with the renderer's objects).
struct SentMessage {
  std::string frameId;
  CefRefPtr<CefProcessMessage> message;
};

class RendererHarness {
 public:
  // Starts the renderer: the isolate exists and OnWebKitInitialized ran.
  explicit RendererHarness(CefRefPtr<CefApp> application);
  // Closes every browser, releasing its contexts, and disposes the isolate.
  ~RendererHarness();
  RendererHarness(const RendererHarness&) = delete;
  RendererHarness& operator=(const RendererHarness&) = delete;

  RendererProcess& renderer() { return *process; }
  BrowserPeer& Peer() { return *peer; }

  // Renderer side (see RendererProcess for what each one fires).
  BrowserInfo OpenBrowser(const std::vector<FrameSpec>& frames = {FrameSpec{}},
                          CefRefPtr<CefDictionaryValue> extraInfo = nullptr);
  // These keep the browser side in step (created, attached, detached).
  void CloseBrowser(int browserId);
  std::string AddFrame(const std::string& parentId, const FrameSpec& frameSpec);
  void RemoveFrame(const std::string& frameId);
  // A navigation that keeps the frame; the browser side hears OnLoadStart
  // after what the old document sent.
  void Navigate(const std::string& frameId, const std::string& url);
  // A navigation that swaps the frame (RendererProcess::NavigateWithSwap);
  // what was in flight is delivered first, and the browser side follows with
  // the notifications of a swap. Returns the new frame's identifier.
  std::string NavigateWithSwap(const std::string& frameId,
                               const std::string& url);
  ScriptOutcome RunScript(const std::string& frameId,
                          const std::string& code,
                          const std::string& url = "",
                          int startLine = 1) {
    return process->RunScript(frameId, code, url, startLine);
  }
  void ChangeFocus(const std::string& frameId,
                   FocusTarget target,
                   const std::string& tagName = "INPUT") {
    process->ChangeFocus(frameId, target, tagName);
  }
  CefRefPtr<CefFrame> Frame(const std::string& frameId) {
    return process->Frame(frameId);
  }
  CefRefPtr<CefBrowser> Browser(int browserId) {
    return process->Browser(browserId);
  }
  std::vector<std::string> Console(const std::string& frameId) {
    return process->Console(frameId);
  }

  // Browser side. Sends `message` to a frame the way the browser's
  // CefFrameHost does: the message loses its arguments, the renderer gets a
  // read-only copy with no context current. Returns the hook's result.
  bool DeliverMessage(const std::string& frameId,
                      CefRefPtr<CefProcessMessage> message);
  // Every message the renderer sent, in send order.
  const std::vector<SentMessage>& SentMessages() const { return sent; }
  // Those of one frame, in order.
  std::vector<CefRefPtr<CefProcessMessage>> SentMessages(
      const std::string& frameId) const;
  // Their text forms, e.g. `qrx [INT 3, BOOL true]`.
  std::vector<std::string> SentMessageTexts(const std::string& frameId) const;

  // Lets the peer answer what the renderer sent, delivers messages both ways
  // between the renderer and the browser side, and runs page tasks and UI
  // tasks due now, until nothing is left. Returns the number of steps taken.
  int RunUntilIdle();

  // The browser process's side (cefsim/browser_side.h): a CefClient gets
  // the renderer's messages and frame notifications; browser-side frames
  // send to the renderer through the channel.
  BrowserSide& browserSide() { return *hostSide; }
  // The client of browsers opened from now on.
  void SetClient(CefRefPtr<CefClient> client);
  // Browser-side objects for the renderer's browser and frame ids; null
  // when unknown or gone.
  CefRefPtr<CefBrowser> HostBrowser(int browserId);
  CefRefPtr<CefFrame> HostFrame(const std::string& frameId);
  // The renderer process crashes (or ends as `status` says).
  void TerminateRenderer(cef_termination_status_t status = TS_PROCESS_CRASHED);
  // Lets `timeMs` of simulated time pass: page timers and UI tasks run in
  // the order they fall due, each followed by RunUntilIdle.
  void AdvanceTime(int64_t timeMs);

 private:
  std::unique_ptr<RendererProcess> process;
  std::unique_ptr<BrowserSide> hostSide;
  std::vector<SentMessage> sent;
  std::unique_ptr<BrowserPeer> peer;
};

// Makes CefExecuteProcess run `session` in a renderer harness for the
// renderer role; its result becomes the exit code.
void InstallRendererHarnessRole(std::function<int(RendererHarness&)> session);

}  // namespace cefsim
