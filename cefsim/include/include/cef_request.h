#pragma once

#include "include/cef_base.h"

// A web request. The program never builds one; only the type is needed for
// CefFrame::LoadRequest.
class CefRequest : public virtual CefBaseRefCounted {};
