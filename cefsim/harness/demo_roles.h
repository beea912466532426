#pragma once

// The roles cef-launcher plays on cefsim: CefExecuteProcess runs them after
// the application's command-line and scheme hooks.
//   --type=renderer: a demo run (demo_session.h) of the page and peer
//     scripts named by --cefsim-page=FILE and --cefsim-peer=FILE, on
//     --cefsim-url=URL, ended after --cefsim-timeout=SECONDS;
//   --type=utility --utility-sub-type=audio.mojom.AudioService: prints what
//     the audio-service hook left: the pid file, the volume file and the
//     level of each simulated audio session.
namespace cefsim {

void InstallDemoRoles();

}  // namespace cefsim
