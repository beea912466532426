#pragma once

#include "include/cef_base.h"

// URL requests started from a frame. The program never makes one; only the
// types are needed for CefFrame::CreateURLRequest.
class CefURLRequestClient : public virtual CefBaseRefCounted {};
class CefURLRequest : public virtual CefBaseRefCounted {};
