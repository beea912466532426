#pragma once

#include "include/cef_base.h"

// A browser's request context; cefsim has only the global one, so a browser
// created with null uses it and no other can be made.
class CefRequestContext : public virtual CefBaseRefCounted {};
