#include "launcher/audio_service_hook.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cefsim/process_roles.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "launcher/audio_simulated_system.h"
#include "launcher/audio_system.h"

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr char kAudioServiceSubType[] = "audio.mojom.AudioService";

// Only regular files: reading a folder would throw.
std::optional<std::string> ReadBytes(const fs::path& path) {
  if (!fs::is_regular_file(path)) {
    return std::nullopt;
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(stream), {});
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string PidFileText() {
  return std::to_string(CurrentProcessId()) + "\n";
}

// Records the calls in order. At the keep-alive call it also notes what the
// files looked like, to show that no file had been touched yet.
class RecordingAudio : public AudioSystem {
 public:
  RecordingAudio(fs::path pidFile, fs::path volumeFile)
      : pidFile(std::move(pidFile)), volumeFile(std::move(volumeFile)) {}

  void KeepAudioSessionAlive() override {
    calls.push_back("KeepAudioSessionAlive");
    pidFileAtKeepAlive = ReadBytes(pidFile);
    volumeFileAtKeepAlive = ReadBytes(volumeFile);
  }
  void SetProcessVolume(uint32_t processId, float level) override {
    std::ostringstream call;
    call << "SetProcessVolume(" << processId << ", " << level << ")";
    calls.push_back(call.str());
  }

  std::vector<std::string> calls;
  std::optional<std::string> pidFileAtKeepAlive;
  std::optional<std::string> volumeFileAtKeepAlive;

 private:
  fs::path pidFile;
  fs::path volumeFile;
};

std::string VolumeCall(float level) {
  std::ostringstream call;
  call << "SetProcessVolume(" << CurrentProcessId() << ", " << level << ")";
  return call.str();
}

// A profile folder "<tmp>/Game/User Data"; the two files belong in
// "<tmp>/Game".
class AudioServiceHookTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "audio-hook-XXXXXX");
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    root = pattern;
    UseGameFolder("Game");
  }
  void TearDown() override { fs::remove_all(root); }

  void UseGameFolder(const std::string& name) {
    gameFolder = root / name;
    userDataDir = (gameFolder / "User Data").string();
    fs::create_directories(gameFolder / "User Data");
  }

  fs::path PidFile() const { return gameFolder / "AudioService.pid"; }
  fs::path VolumeFile() const { return gameFolder / "AudioService.vol"; }

  // A command line holding "--name=value" switches, built through
  // AppendSwitchWithValue: CEF's InitFromArgv does nothing on Windows.
  static CefRefPtr<CefCommandLine> CommandLine(
      const std::vector<std::string>& switches) {
    CefRefPtr<CefCommandLine> commandLine = CefCommandLine::CreateCommandLine();
    for (const std::string& entry : switches) {
      const size_t equals = entry.find('=');
      commandLine->AppendSwitchWithValue(entry.substr(2, equals - 2),
                                         entry.substr(equals + 1));
    }
    return commandLine;
  }

  std::vector<std::string> AudioServiceSwitches() const {
    return {"--type=utility",
            std::string("--utility-sub-type=") + kAudioServiceSubType,
            "--user-data-dir=" + userDataDir};
  }

  // Runs the hook as the audio service with a recording audio system.
  RecordingAudio RunAsAudioService() {
    RecordingAudio audio(PidFile(), VolumeFile());
    RunAudioServiceHook(*CommandLine(AudioServiceSwitches()), audio);
    return audio;
  }

  fs::path root;
  fs::path gameFolder;
  std::string userDataDir;
};

TEST_F(AudioServiceHookTest, OtherProcessesCreateNoFileAndTouchNoAudio) {
  const std::string userData = "--user-data-dir=" + userDataDir;
  const std::string audioSubType =
      std::string("--utility-sub-type=") + kAudioServiceSubType;
  const struct {
    const char* name;
    std::vector<std::string> switches;
  } cases[] = {
      {"renderer", {"--type=renderer", userData}},
      {"GPU process", {"--type=gpu-process", userData}},
      {"network utility",
       {"--type=utility", "--utility-sub-type=network.mojom.NetworkService",
        userData}},
      {"utility without sub-type", {"--type=utility", userData}},
      {"sub-type in other case",
       {"--type=utility", "--utility-sub-type=audio.mojom.audioservice",
        userData}},
      {"sub-type with a suffix",
       {"--type=utility", audioSubType + "X", userData}},
      {"type in other case", {"--type=Utility", audioSubType, userData}},
      {"audio sub-type on a renderer",
       {"--type=renderer", audioSubType, userData}},
      {"audio sub-type without type", {audioSubType, userData}},
  };
  WriteBytes(VolumeFile(), "0.25\n");
  for (const auto& testCase : cases) {
    RecordingAudio audio(PidFile(), VolumeFile());
    RunAudioServiceHook(*CommandLine(testCase.switches), audio);
    EXPECT_THAT(audio.calls, IsEmpty()) << testCase.name;
    EXPECT_FALSE(fs::exists(PidFile())) << testCase.name;
    EXPECT_EQ("0.25\n", ReadBytes(VolumeFile())) << testCase.name;
  }
}

TEST_F(AudioServiceHookTest, AppliesTheLevelOfTheVolumeFile) {
  const struct {
    const char* name;
    std::optional<std::string> volumeFile;  // empty: no file
    float level;
    bool volumeFileStays;
  } cases[] = {
      {"no volume file", std::nullopt, 1.0f, false},
      {"quarter volume", "0.25\n", 0.25f, false},
      {"leading spaces, trailing text", "  0.5abc\n", 0.5f, false},
      {"not a number", "abc\n", 1.0f, false},
      {"empty first line, more lines follow", "\n0.5\n", 1.0f, false},
      {"zero bytes", "", 1.0f, true},
      {"above one, handed on unchanged", "2\n", 2.0f, false},
      {"overflow", "1e39\n", 1.0f, false},
      {"underflow", "1e-50\n", 1.0f, false},
  };
  for (const auto& testCase : cases) {
    fs::remove(PidFile());
    if (testCase.volumeFile) {
      WriteBytes(VolumeFile(), *testCase.volumeFile);
    }

    const RecordingAudio audio = RunAsAudioService();

    EXPECT_THAT(audio.calls, ElementsAre("KeepAudioSessionAlive",
                                         VolumeCall(testCase.level)))
        << testCase.name;
    // Nothing was written or consumed before the session existed.
    EXPECT_EQ(std::nullopt, audio.pidFileAtKeepAlive) << testCase.name;
    EXPECT_EQ(testCase.volumeFile, audio.volumeFileAtKeepAlive)
        << testCase.name;
    EXPECT_EQ(PidFileText(), ReadBytes(PidFile())) << testCase.name;
    EXPECT_EQ(testCase.volumeFileStays, fs::exists(VolumeFile()))
        << testCase.name;
    fs::remove(VolumeFile());
  }
}

TEST_F(AudioServiceHookTest, OverwritesAPidFileFromAnEarlierRun) {
  WriteBytes(PidFile(), "4294967295\nfrom an earlier run\n");
  RunAsAudioService();
  EXPECT_EQ(PidFileText(), ReadBytes(PidFile()));
}

TEST_F(AudioServiceHookTest, PidFileThatCannotBeCreatedStopsNothing) {
  fs::create_directory(PidFile());
  WriteBytes(VolumeFile(), "0.25\n");

  const RecordingAudio audio = RunAsAudioService();

  EXPECT_THAT(audio.calls,
              ElementsAre("KeepAudioSessionAlive", VolumeCall(0.25f)));
  EXPECT_TRUE(fs::is_empty(PidFile()));
  EXPECT_FALSE(fs::exists(VolumeFile()));
}

TEST_F(AudioServiceHookTest, MissingProfileFolderStillSetsTheVolume) {
  userDataDir = (root / "missing" / "User Data").string();
  const RecordingAudio audio = RunAsAudioService();
  EXPECT_THAT(audio.calls,
              ElementsAre("KeepAudioSessionAlive", VolumeCall(1.0f)));
}

TEST_F(AudioServiceHookTest, NonAsciiProfileFolderWorks) {
  UseGameFolder("Jos\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC");
  WriteBytes(VolumeFile(), "0.25\n");

  const RecordingAudio audio = RunAsAudioService();

  EXPECT_THAT(audio.calls,
              ElementsAre("KeepAudioSessionAlive", VolumeCall(0.25f)));
  EXPECT_EQ(PidFileText(), ReadBytes(PidFile()));
  EXPECT_FALSE(fs::exists(VolumeFile()));
}

TEST_F(AudioServiceHookTest, EverySessionOfTheProcessGetsTheLevel) {
  const uint32_t self = CurrentProcessId();
  const uint32_t other = self + 1;
  SimulatedAudioSystem audio(self);
  audio.AddSession(other);
  audio.AddSession(self);
  WriteBytes(VolumeFile(), "0.25\n");

  RunAudioServiceHook(*CommandLine(AudioServiceSwitches()), audio);

  const std::vector<SimulatedAudioSystem::Session>& sessions = audio.Sessions();
  ASSERT_EQ(3u, sessions.size());
  EXPECT_EQ(std::nullopt, sessions[0].masterVolume);
  EXPECT_EQ(0.25f, sessions[1].masterVolume);
  // The keep-alive stream's own session, opened without persistence.
  EXPECT_EQ(self, sessions[2].processId);
  EXPECT_TRUE(sessions[2].processDefault);
  EXPECT_EQ(1, sessions[2].runningStreams);
  EXPECT_FALSE(sessions[2].persistsVolume);
  EXPECT_EQ(0.25f, sessions[2].masterVolume);
}

TEST_F(AudioServiceHookTest, ReadsTheGlobalCommandLine) {
  if (!SimulatedPlatformAudioSystem()) {
    GTEST_SKIP() << "the platform's own audio is in use";
  }
  SimulatedAudioSystem& audio = *SimulatedPlatformAudioSystem();
  audio.Reset();
  WriteBytes(VolumeFile(), "0.5\n");
  std::vector<std::string> switches = AudioServiceSwitches();
  std::vector<const char*> argv = {"cef-launcher"};
  for (const std::string& entry : switches) {
    argv.push_back(entry.c_str());
  }
  cefsim::InitGlobalCommandLine(static_cast<int>(argv.size()), argv.data());

  RunAudioServiceHook();

  cefsim::ResetProcessState();
  EXPECT_EQ(PidFileText(), ReadBytes(PidFile()));
  EXPECT_FALSE(fs::exists(VolumeFile()));
  std::ostringstream record;
  PrintSimulatedAudioRecord(record);
  EXPECT_EQ("simulated audio endpoint: 1 session(s)\n  session 0: process " +
                std::to_string(CurrentProcessId()) +
                " (default session), 1 stream(s) running, volume 0.5, not "
                "persisted\n",
            record.str());
  audio.Reset();
}

TEST_F(AudioServiceHookTest, DoesNothingWithoutAGlobalCommandLine) {
  if (!SimulatedPlatformAudioSystem()) {
    GTEST_SKIP() << "the platform's own audio is in use";
  }
  cefsim::ResetProcessState();
  SimulatedAudioSystem& audio = *SimulatedPlatformAudioSystem();
  audio.Reset();
  RunAudioServiceHook();
  EXPECT_THAT(audio.Sessions(), IsEmpty());
}

}  // namespace
