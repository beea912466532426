#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// The two files that connect the audio-service process with the browser
// side, in the parent folder of the user-data directory.
struct AudioServiceFiles {
  std::string pidFile;
  std::string volumeFile;
};

// Plain concatenations: the "/../" stays in the text for the file system to
// resolve, and an empty `userDataDir` gives the bare literals.
AudioServiceFiles AudioServiceFilesBeside(const std::string& userDataDir);

// The file-system path named by UTF-8 text. On Windows this is a wide path,
// so names outside the ANSI code page still resolve. Text that is not valid
// UTF-8 names no file (an empty path).
std::filesystem::path PathFromUtf8(const std::string& text);

// Creates or truncates the file and writes the decimal id and one newline in
// text mode. Failures are silent.
void WritePidFile(const std::string& path, uint32_t processId);

// Returns the file's first line without its newline and deletes the file.
// Returns empty text, deleting nothing, when the file cannot be opened or
// holds no line at all. A failed deletion is ignored.
std::string ReadAndRemoveFile(const std::string& path);
