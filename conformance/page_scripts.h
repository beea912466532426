#pragma once

#include <string>

namespace conformance {

// What every scenario page shares, on both backends.
class PageScripts {
 public:
  // JSON the pages fetch cross-origin from vdfs://.
  static constexpr char kDataUrl[] = "vdfs://conformance-data/data.json";
  static constexpr char kDataJson[] = "{\"served\": \"from vdfs\", \"n\": 7}";

  // Script run before each page's own: `conformance.describe(value)` (the
  // page's view of a value as text) and `conformance.ready(page)`.
  static std::string Prelude();
  // The document a real browser loads: a focusable input, the prelude and
  // `script`.
  static std::string Html(const std::string& pageName,
                          const std::string& script);
};

}  // namespace conformance
