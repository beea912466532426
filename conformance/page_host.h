#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "include/cef_browser.h"
#include "include/cef_frame.h"

namespace conformance {

// What the runner needs from a browser to run its scenarios: pages with a
// given script, frames, focus, and time. One implementation runs on cefsim,
// one on a real CEF 130. Everything is called on the browser's UI thread,
// and nothing here waits: results come back as bridge messages.
class PageHost {
 public:
  // Where a page is served from; cefsim uses the same addresses.
  static std::string PageUrl(const std::string& pageName) {
    return "cef://conformance/" + pageName + ".html";
  }

  virtual ~PageHost() = default;

  // Opens a new browser whose main frame shows page `pageName`, running
  // `script` after the shared prelude (PageScripts::Prelude).
  virtual void OpenPage(const std::string& pageName,
                        const std::string& script) = 0;
  // Adds an iframe to `parent`'s document showing page `pageName`.
  virtual void AddFrame(CefRefPtr<CefFrame> parent,
                        const std::string& pageName,
                        const std::string& script) = 0;
  // Navigates `frame` to page `pageName`.
  virtual void Navigate(CefRefPtr<CefFrame> frame,
                        const std::string& pageName,
                        const std::string& script) = 0;
  // Focuses the page's text input (`element`) or blurs it, from script.
  virtual void Focus(CefRefPtr<CefFrame> frame, bool element) = 0;
  // Runs `task` on the UI thread after `delayMs`.
  virtual void PostDelayed(std::function<void()> task, int64_t delayMs) = 0;

  // Whether this backend can run a kind of check, and why not.
  virtual bool CanFetchCustomSchemes(std::string& whyNot) const = 0;
  virtual bool CanCheckAudio(std::string& whyNot) const = 0;
  // For the audio check (CanCheckAudio): the program a running process
  // runs, and the master volume of each of its audio sessions.
  virtual bool RunningProcessImage(uint32_t /*processId*/,
                                   std::string& /*image*/) const {
    return false;
  }
  virtual bool AudioSessionVolumes(uint32_t /*processId*/,
                                   std::vector<float>& /*volumes*/,
                                   std::string& error) const {
    error = "no audio on this backend";
    return false;
  }
  // The backend's name and version for the report's first lines.
  virtual std::string Description() const = 0;
};

}  // namespace conformance
