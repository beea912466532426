#pragma once

#include <string_view>
#include <vector>

// The segments of a dotted path: maximal runs of characters other than ".",
// so leading, trailing and doubled full stops produce no empty segment.
// A plain scan: a regular-expression engine recurses per character and
// overflows the stack on long paths.
std::vector<std::string_view> SplitPathSegments(std::string_view path);
