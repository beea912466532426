#include "bridge/path_segments.h"

std::vector<std::string_view> SplitPathSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  size_t position = 0;
  while (position < path.size()) {
    const size_t start = path.find_first_not_of('.', position);
    if (start == std::string_view::npos) {
      break;
    }
    size_t end = path.find('.', start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    segments.push_back(path.substr(start, end - start));
    position = end;
  }
  return segments;
}
