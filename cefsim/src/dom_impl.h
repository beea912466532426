#pragma once

#include <memory>
#include <string>

#include "include/cef_dom.h"

namespace cefsim {

// A focused element for OnFocusedNodeChanged (CEF hands it an element or
// nothing). CEF detaches the document right after the callback: once
// *documentAlive is false every method answers false or empty.
CefRefPtr<CefDOMNode> NewFocusedNode(std::shared_ptr<bool> documentAlive,
                                     const std::string& tagName);

}  // namespace cefsim
