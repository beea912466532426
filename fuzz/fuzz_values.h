#pragma once

// Message values built from fuzz bytes, and the measures the fuzz targets
// check them with.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <string>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

// How far a built value may go: levels of lists and dictionaries below it,
// and entries per container.
struct ValueShape {
  int maxDepth = 8;
  size_t maxEntries = 6;
  // Dictionaries come out mostly as keyed collections, often malformed ones.
  bool keyedCollections = true;
};

// Any message value, any type, nested up to shape.maxDepth levels.
CefRefPtr<CefValue> ConsumeValue(FuzzedDataProvider& data,
                                 const ValueShape& shape);
// A list of ConsumeValue entries.
CefRefPtr<CefListValue> ConsumeList(FuzzedDataProvider& data,
                                    const ValueShape& shape);
// Text that is valid UTF-8 or not, with an occasional NUL or long run.
std::string ConsumeText(FuzzedDataProvider& data, size_t maxLength);

// Levels of lists and dictionaries: 0 for a scalar, 1 for [INT 1].
int NestingDepth(const CefRefPtr<CefValue>& value);
int NestingDepth(const CefRefPtr<CefListValue>& list);

// Aborts with both texts when `actual` differs from `expected`.
void CheckSameText(const std::string& what,
                   const std::string& expected,
                   const std::string& actual);
// Aborts with the message when `condition` is false.
void Check(bool condition, const std::string& what);
