#pragma once

#include <vector>

#include "include/cef_base.h"
#include "include/cef_browser.h"

// Windowless rendering callbacks (UI thread). Only the two pure methods are
// called by cefsim.
class CefRenderHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_paint_element_type_t PaintElementType;
  typedef std::vector<CefRect> RectList;

  virtual bool GetRootScreenRect(CefRefPtr<CefBrowser> browser, CefRect& rect) {
    return false;
  }
  virtual void GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) = 0;
  virtual void OnPaint(CefRefPtr<CefBrowser> browser,
                       PaintElementType type,
                       const RectList& dirtyRects,
                       const void* buffer,
                       int width,
                       int height) = 0;
};
