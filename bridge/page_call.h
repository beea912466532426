#pragma once

#include "bridge/bridge_message.h"
#include "include/cef_frame.h"

// Carries out a Call from the browser: resolves its dotted path from the
// frame's global object, calls the function found there (or takes the plain
// value) and sends exactly one Result or Error back on the frame. False,
// with no reply, when the frame has no valid script context.
bool CallPageFunction(const CefRefPtr<CefFrame>& frame,
                      const CallMessage& call);
