#pragma once

// One live page for the V8-side fuzz targets: the real application object in
// a renderer harness, kept for the whole run, with helpers that measure
// page values.

#include <memory>
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
  // A fresh renderer process: new application, harness and page, call ids
  // from 0. The harness keeps every message a page sent, so long runs
  // restart now and then to stay fast.
  void Restart();

 private:
  FuzzPage();
  void Start();
  void InstallHelpers();

  CefRefPtr<CefLauncherApplication> application;
  std::unique_ptr<cefsim::RendererHarness> harnessPointer;
  std::string frameId;
};
