#include "conformance/page_scripts.h"

namespace conformance {

std::string PageScripts::Prelude() {
  return R"js(
window.conformance = {
  // The page's own view of a value: its type as the page sees it and its
  // content, so the browser side can check what a reply turned into.
  describe(value) {
    const describe = window.conformance.describe;
    if (value === null) return "null";
    switch (typeof value) {
      case "undefined": return "undefined";
      case "boolean": return "boolean " + value;
      case "number": return "number " + (Object.is(value, -0) ? "-0" : value);
      case "string": return "string " + JSON.stringify(value);
    }
    if (value instanceof ArrayBuffer) {
      return "ArrayBuffer [" + Array.from(new Uint8Array(value)).join(",") + "]";
    }
    if (Array.isArray(value)) {
      return "Array [" + Array.from(value, describe).join(", ") + "]";
    }
    if (value instanceof Map) {
      return "Map {" + Array.from(value,
          ([key, entry]) => describe(key) + " => " + describe(entry))
          .join(", ") + "}";
    }
    if (Object.getPrototypeOf(value) === Object.prototype) {
      return "Object {" + Object.keys(value).map(
          (key) => JSON.stringify(key) + ": " + describe(value[key]))
          .join(", ") + "}";
    }
    return "other " + Object.prototype.toString.call(value);
  },
  // Tells the browser side that the page's script has run.
  ready(page) {
    squirrel.call("conformance.ready", page);
  },
};
)js";
}

std::string PageScripts::Html(const std::string& pageName,
                              const std::string& script) {
  // "</" would end the script element early.
  std::string code = Prelude() + "\n" + script;
  for (size_t at = code.find("</"); at != std::string::npos;
       at = code.find("</", at + 3)) {
    code.replace(at, 2, "<\\/");
  }
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
         pageName +
         "</title></head>\n<body><input id=\"conformance-input\">\n<script>" +
         code + "</script></body></html>\n";
}

}  // namespace conformance
