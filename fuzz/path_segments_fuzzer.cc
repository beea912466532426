// SplitPathSegments against the definition: the maximal runs of characters
// other than '.', in order, as views into the path itself.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/path_segments.h"
#include "fuzz/fuzz_values.h"

namespace {

std::vector<std::string> ReferenceSegments(const std::string& path) {
  std::vector<std::string> segments;
  std::string current;
  for (char c : path) {
    if (c != '.') {
      current.push_back(c);
    } else if (!current.empty()) {
      segments.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) {
    segments.push_back(current);
  }
  return segments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  // Dots dominate the interesting inputs: map a quarter of the bytes to one.
  std::string path(reinterpret_cast<const char*>(bytes), size);
  for (char& c : path) {
    if ((static_cast<unsigned char>(c) & 3) == 0) {
      c = '.';
    }
  }
  const std::vector<std::string_view> segments = SplitPathSegments(path);
  const std::vector<std::string> expected = ReferenceSegments(path);
  Check(segments.size() == expected.size(), "segment count");
  const char* previousEnd = path.data();
  for (size_t i = 0; i < segments.size(); ++i) {
    const std::string_view segment = segments[i];
    CheckSameText("segment " + std::to_string(i), expected[i],
                  std::string(segment));
    // A view into the path, after the previous one and apart from it.
    Check(segment.data() >= previousEnd &&
              segment.data() + segment.size() <= path.data() + path.size(),
          "segment lies inside the path, in order");
    Check(segment.data() == path.data() || segment.data()[-1] == '.',
          "segment starts at a run boundary");
    previousEnd = segment.data() + segment.size();
  }
  return 0;
}
