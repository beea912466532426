#pragma once

// The script half of the peer API of demo runs: the global `peer` and
// `console` of the browser side, built on the native functions of the
// session (demo_session.cc).
namespace cefsim {

// The URL the API script runs under; its stack frames are never reported
// as the place of a problem.
inline constexpr char kDemoPeerApiUrl[] = "cefsim:peer-api";

// Plain objects with exactly this one key are the markers of peer.double()
// and peer.object(); the session rewrites them after the conversion.
inline constexpr char kDemoDoubleMarker[] = "__cefsim_double__";
inline constexpr char kDemoObjectMarker[] = "__cefsim_object__";

// A function expression; called with the native object, it installs the
// globals.
extern const char kDemoPeerApiSource[];

}  // namespace cefsim
