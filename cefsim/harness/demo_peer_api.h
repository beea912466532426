#pragma once

// The script half of the peer API of demo runs: the global `peer` and
// `console` of the browser side, built on the native functions of the
// session (demo_session.cc).
namespace cefsim {

// The URL the API script runs under; its stack frames are never reported
// as the place of a problem.
inline constexpr char kDemoPeerApiUrl[] = "cefsim:peer-api";

// A function expression; called with the native object, it installs the
// globals.
extern const char kDemoPeerApiSource[];

}  // namespace cefsim
