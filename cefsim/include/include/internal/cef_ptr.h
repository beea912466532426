#pragma once

#include <memory>

#include "include/base/cef_scoped_refptr.h"

template <class T>
using CefRefPtr = scoped_refptr<T>;

template <class T, class D = std::default_delete<T>>
using CefOwnPtr = std::unique_ptr<T, D>;

template <class T>
using CefRawPtr = T*;
