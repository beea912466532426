#include "peer/origins.h"

#include <cctype>
#include <string_view>
#include <utility>

namespace cef_launcher_peer {

namespace {

void AppendLower(std::string& out, std::string_view text) {
  for (char c : text) {
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
}

bool IsSchemeChar(char c, bool first) {
  const auto byte = static_cast<unsigned char>(c);
  if (std::isalpha(byte)) {
    return true;
  }
  return !first && (std::isdigit(byte) || c == '+' || c == '-' || c == '.');
}

std::string_view DefaultPort(std::string_view scheme) {
  if (scheme == "http" || scheme == "ws") {
    return "80";
  }
  if (scheme == "https" || scheme == "wss") {
    return "443";
  }
  if (scheme == "ftp") {
    return "21";
  }
  return "";
}

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

std::string Origin(std::string_view url) {
  size_t colon = 0;
  while (colon < url.size() && IsSchemeChar(url[colon], colon == 0)) {
    ++colon;
  }
  if (colon == 0 || colon >= url.size() || url[colon] != ':') {
    return kOpaqueOrigin;
  }
  std::string scheme;
  AppendLower(scheme, url.substr(0, colon));
  std::string_view rest = url.substr(colon + 1);
  if (scheme == "blob" || scheme == "filesystem") {
    return Origin(rest);
  }
  // file: origins are opaque to the page in every way that matters here.
  if (scheme == "file" || rest.substr(0, 2) != "//") {
    return kOpaqueOrigin;
  }
  std::string_view authority =
      rest.substr(2, rest.find_first_of("/?#\\", 2) - 2);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  // An IPv6 host keeps its brackets; its colons are not the port's.
  const size_t hostEnd = authority.empty() || authority[0] != '['
                             ? authority.find(':')
                             : authority.find(']') + 1;
  if (hostEnd == 0) {
    return kOpaqueOrigin;
  }
  const std::string_view host = authority.substr(0, hostEnd);
  std::string_view port;
  if (hostEnd < authority.size()) {
    if (authority[hostEnd] != ':') {
      return kOpaqueOrigin;
    }
    port = authority.substr(hostEnd + 1);
  }
  if (host.empty() || host == "[]" || !AllDigits(port) || port.size() > 5) {
    return kOpaqueOrigin;
  }
  if (!port.empty()) {
    // Leading zeros name the same port.
    const size_t digits = port.find_first_not_of('0');
    port = digits == std::string_view::npos ? "0" : port.substr(digits);
    if (port.size() == 5 && port > "65535") {
      return kOpaqueOrigin;
    }
  }
  std::string origin = std::move(scheme);
  origin += "://";
  AppendLower(origin, host);
  if (!port.empty() &&
      port != DefaultPort(std::string_view(origin).substr(0, colon))) {
    origin += ':';
    origin += port;
  }
  return origin;
}

}  // namespace

std::string OriginOf(const std::string& url) {
  return Origin(url);
}

Origins Origins::Any() {
  return Origins();
}

Origins Origins::Only(std::initializer_list<std::string> origins) {
  return Only(std::vector<std::string>(origins));
}

Origins Origins::Only(const std::vector<std::string>& origins) {
  Origins only;
  only.everyOrigin = false;
  for (const std::string& entry : origins) {
    const std::string origin = OriginOf(entry);
    if (origin != kOpaqueOrigin) {
      only.allowed.insert(origin);
    }
  }
  return only;
}

bool Origins::Allows(const std::string& origin) const {
  if (everyOrigin) {
    return true;
  }
  return origin != kOpaqueOrigin && allowed.count(origin) != 0;
}

}  // namespace cef_launcher_peer
