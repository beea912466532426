#pragma once

#include "include/cef_command_line.h"

class AudioSystem;

// In the audio-service utility process, as named by the process's global
// command line: keeps an audio session alive, writes the pid file, consumes
// the volume file and applies its level to the process's sessions. Does
// nothing in every other process.
void RunAudioServiceHook();

// The same, reading `commandLine` and using `audio`.
void RunAudioServiceHook(CefCommandLine& commandLine, AudioSystem& audio);
