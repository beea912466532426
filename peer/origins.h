#pragma once

// Which pages may call a handler: the origin of the calling frame, read from
// the URL CEF reports for it, against a set the host names. Any thread.

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace cef_launcher_peer {

// The origin that opaque documents share in the text form; it never matches
// an allowed origin, not even itself.
inline constexpr char kOpaqueOrigin[] = "null";

// The origin of `url` as "scheme://host[:port]": scheme and host lower-cased,
// no user name, the default port of http, https, ws, wss and ftp left out.
// Any scheme written with a host ("cef://ui/...") has one, so register the
// host's own schemes as standard in the browser too. blob: and filesystem:
// URLs take their inner URL's origin. Everything else is kOpaqueOrigin:
// data:, about:blank and about:srcdoc (whose real origin CEF does not
// report), file: URLs, and text that is no URL.
std::string OriginOf(const std::string& url);

// A set of origins allowed to call a handler.
class Origins {
 public:
  // Every frame, opaque ones included: what a handler gets by default.
  static Origins Any();
  // Only frames of these origins. Each entry is read with OriginOf, so
  // "https://Game.example:443/" names "https://game.example"; an entry that
  // names no origin allows nothing.
  static Origins Only(std::initializer_list<std::string> origins);
  static Origins Only(const std::vector<std::string>& origins);

  // True when a frame of `origin` (as OriginOf gives it) may call.
  bool Allows(const std::string& origin) const;
  bool IsAny() const { return everyOrigin; }

 private:
  bool everyOrigin = true;
  std::set<std::string> allowed;
};

}  // namespace cef_launcher_peer
