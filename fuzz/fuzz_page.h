#pragma once

// One live page for the V8-side fuzz targets: the real application object in
// a renderer harness, kept for the whole run, with helpers that measure
// page values.

#include <string>

#include "cefsim/renderer_harness.h"
#include "include/cef_v8.h"
#include "launcher/cef_launcher_application.h"

class FuzzPage {
 public:
  // The page of this process, created on first use.
  static FuzzPage& Get();

  cefsim::RendererHarness& harness() { return *harnessPointer; }
  const std::string& frame() const { return frameId; }
  CefRefPtr<CefV8Context> Context();

  // Page script as a task; aborts when it throws.
  CefRefPtr<CefV8Value> Run(const std::string& code);

  // Levels of arrays (one each) and Maps and plain objects (two each, as in
  // a message) in a page value; counted by page script, without recursion.
  // `context` must be entered.
  int NestingDepth(const CefRefPtr<CefV8Context>& context,
                   const CefRefPtr<CefV8Value>& value);

  // A fresh document: navigates the frame and installs the helpers again.
  void Reload();

 private:
  FuzzPage();
  void InstallHelpers();

  CefRefPtr<CefLauncherApplication> application;
  cefsim::RendererHarness* harnessPointer = nullptr;
  std::string frameId;
};
