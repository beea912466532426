// The conformance runner's audio check against audio services that misbehave
// in one way each: the launcher's own audio hook runs inside a stand-in for
// the audio-service process, on a simulated endpoint, with the timing and
// faults each case gives it.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cefsim/conformance/sim_page_host.h"
#include "conformance/check_report.h"
#include "conformance/runner.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "include/cef_command_line.h"
#include "launcher/audio_files.h"
#include "launcher/audio_service_hook.h"
#include "launcher/audio_simulated_system.h"
#include "launcher/cef_launcher_application.h"
#include "peer/audio_files.h"

namespace {

using testing::StartsWith;

// How the stand-in audio service and the page behave.
struct AudioServiceScript {
  // When the pid file appears, and when the launcher's hook then runs
  // (consumes the volume file, sets the level). Both after the page opens.
  int64_t pidAfterMs = 500;
  int64_t hookAfterMs = 2000;
  // The endpoint honours the hook's level.
  bool setsLevel = true;
  // The volume file is back in place after the hook ran.
  bool leavesVolumeFile = false;
  // After the hook, the volume file's path cannot be examined.
  bool volumeFileUnexaminable = false;
  // Another session of the process appears this long after the hook, at
  // the endpoint's default level; 0: none.
  int64_t lateSessionAfterMs = 0;
  // The page's AudioContext reaches "running".
  bool pageRuns = true;
  // The program the process runs, relative to the run folder.
  std::string image = "cef-launcher";
  // The probe can read the endpoint.
  bool endpointReadable = true;
};

// A page's AudioContext in cefsim: resume() starts it unless autoplay is
// refused, which leaves it "suspended".
std::string StandInAudioContext(bool runs) {
  return std::string(
             "window.AudioContext = class {\n"
             "  constructor() { this.state = \"suspended\";"
             " this.onstatechange = null; this.destination = {}; }\n"
             "  createConstantSource() {\n"
             "    return {offset: {value: 1}, connect() {}, start() {}};\n"
             "  }\n"
             "  resume() {\n") +
         (runs ? "    this.state = \"running\";\n"
                 "    if (this.onstatechange) this.onstatechange();\n"
               : "") +
         "    return Promise.resolve();\n"
         "  }\n"
         "};\n";
}

// An endpoint that ignores every level it is given.
class DeafAudio : public AudioSystem {
 public:
  explicit DeafAudio(AudioSystem& realAudio) : real(realAudio) {}
  void KeepAudioSessionAlive() override { real.KeepAudioSessionAlive(); }
  void SetProcessVolume(uint32_t, float) override {}

 private:
  AudioSystem& real;
};

// The cefsim page host with an audio service: when the audio page opens,
// the launcher's audio hook runs as the service process would, on a
// simulated endpoint the probe reads back.
class AudioServiceHost : public conformance::PageHost {
 public:
  AudioServiceHost(conformance::SimPageHost& innerHost,
                   AudioServiceScript serviceScript,
                   std::filesystem::path folder)
      : inner(innerHost),
        script(std::move(serviceScript)),
        runFolder(std::move(folder)),
        audio(CurrentProcessId()),
        deaf(audio),
        commandLine(CefCommandLine::CreateCommandLine()) {
    commandLine->AppendSwitchWithValue("type", "utility");
    commandLine->AppendSwitchWithValue("utility-sub-type",
                                       "audio.mojom.AudioService");
    commandLine->AppendSwitchWithValue("user-data-dir", UserDataDir());
  }

  std::string UserDataDir() const { return (runFolder / "cache").string(); }
  std::string CommandLine() const {
    return commandLine->GetCommandLineString().ToString();
  }

  void OpenPage(const std::string& pageName,
                const std::string& pageScript) override {
    if (pageName != "audio") {
      inner.OpenPage(pageName, pageScript);
      return;
    }
    inner.OpenPage(pageName, StandInAudioContext(script.pageRuns) + pageScript);
    inner.PostDelayed(
        [this] {
          WritePidFile(AudioServiceFilesBeside(UserDataDir()).pidFile,
                       CurrentProcessId());
        },
        script.pidAfterMs);
    inner.PostDelayed([this] { RunHook(); }, script.hookAfterMs);
  }
  void AddFrame(CefRefPtr<CefFrame> parent,
                const std::string& pageName,
                const std::string& pageScript) override {
    inner.AddFrame(parent, pageName, pageScript);
  }
  void Navigate(CefRefPtr<CefFrame> frame,
                const std::string& pageName,
                const std::string& pageScript) override {
    inner.Navigate(frame, pageName, pageScript);
  }
  void Focus(CefRefPtr<CefFrame> frame, bool element) override {
    inner.Focus(frame, element);
  }
  void PostDelayed(std::function<void()> task, int64_t delayMs) override {
    inner.PostDelayed(std::move(task), delayMs);
  }
  bool CanFetchCustomSchemes(std::string& whyNot) const override {
    return inner.CanFetchCustomSchemes(whyNot);
  }
  bool CanCheckAudio(std::string&) const override { return true; }
  bool RunningProcessImage(uint32_t processId,
                           std::string& image) const override {
    if (processId != CurrentProcessId()) {
      return false;
    }
    image = (runFolder / script.image).string();
    return true;
  }
  bool AudioSessionVolumes(uint32_t processId,
                           std::vector<float>& volumes,
                           std::string& error) const override {
    volumes.clear();
    if (!script.endpointReadable) {
      error =
          "no audio render endpoint could be read: endpoint 0: "
          "IAudioSessionManager2 not available: 0x88890004";
      return false;
    }
    for (const SimulatedAudioSystem::Session& session : audio.Sessions()) {
      if (session.processId == processId) {
        volumes.push_back(session.masterVolume.value_or(1.0f));
      }
    }
    return true;
  }
  std::string Description() const override { return inner.Description(); }

 private:
  void RunHook() {
    RunAudioServiceHook(*commandLine, script.setsLevel
                                          ? static_cast<AudioSystem&>(audio)
                                          : static_cast<AudioSystem&>(deaf));
    const std::string volumeFile =
        cef_launcher_peer::AudioServiceVolumeFile(UserDataDir());
    if (script.leavesVolumeFile) {
      std::ofstream(PathFromUtf8(volumeFile)) << "0.37\n";
    }
    if (script.volumeFileUnexaminable) {
      // A link to itself: every look at it fails.
      std::filesystem::create_symlink("AudioService.vol",
                                      runFolder / "AudioService.vol");
    }
    if (script.lateSessionAfterMs > 0) {
      inner.PostDelayed([this] { audio.AddSession(CurrentProcessId()); },
                        script.lateSessionAfterMs);
    }
  }

  conformance::SimPageHost& inner;
  AudioServiceScript script;
  std::filesystem::path runFolder;
  SimulatedAudioSystem audio;
  DeafAudio deaf;
  CefRefPtr<CefCommandLine> commandLine;
};

// The audio service's verdict lines of a whole run on `script`.
std::vector<std::string> AudioVerdicts(const std::string& caseName,
                                       const AudioServiceScript& script) {
  const std::filesystem::path folder =
      std::filesystem::path(testing::TempDir()) /
      ("conformance-audio-" + caseName);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "cache");
  std::filesystem::create_directories(folder / "other");
  std::ofstream(folder / "cef-launcher") << "launcher";
  std::ofstream(folder / "other" / "cef-launcher") << "another program";

  nextCallId = 0;
  std::vector<std::string> lines;
  conformance::CheckReport report(
      [&](const std::string& line) { lines.push_back(line); });
  {
    conformance::SimPageHost simHost(new CefLauncherApplication());
    AudioServiceHost host(simHost, script, folder);
    conformance::Runner::Options options;
    options.onlySteps = {"audio service"};
    options.userDataDir = host.UserDataDir();
    options.launcherPath = (folder / "cef-launcher").string();
    options.audioCommandLine = [&host] { return host.CommandLine(); };
    conformance::Runner runner(host, report, options);
    simHost.SetEvents(&runner.Events());
    runner.PrepareBeforeStart();
    runner.Start([] {});
    EXPECT_TRUE(simHost.Run([&] { return runner.Finished(); }));
  }
  nextCallId = 0;
  std::vector<std::string> verdicts;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(verdicts),
               [](const std::string& line) {
                 return line.find("audio service: ") != std::string::npos &&
                        line.rfind("INFO", 0) != 0;
               });
  return verdicts;
}

constexpr char kPid[] =
    "PASS  audio service: AudioService.pid names a running process";
constexpr char kRole[] =
    "PASS  audio service: that process is the launcher in the audio role";
constexpr char kFile[] =
    "PASS  audio service: the volume file was read and removed";
constexpr char kLevel[] =
    "PASS  audio service: every audio session of that process has the level "
    "written";
constexpr char kLevelFailed[] =
    "FAIL  audio service: every audio session of that process has the level "
    "written: timed out after 30000 ms; last seen: ";

struct AudioCase {
  std::string name;
  AudioServiceScript script;
  // Each verdict line starts with its entry, in this order.
  std::vector<std::string> verdicts;
};

TEST(ConformanceAudioTest, EachFaultFailsItsOwnCheck) {
  auto script = [](auto change) {
    AudioServiceScript changed;
    change(changed);
    return changed;
  };
  const std::vector<AudioCase> cases = {
      {"the level is set two seconds after the pid appears",
       AudioServiceScript(),
       {kPid, kRole, kFile,
        std::string(kLevel) + " (1 session seen, stable for 1000 ms)"}},
      {"the launcher named through another spelling of its path",
       script([](AudioServiceScript& s) { s.image = "cache/../cef-launcher"; }),
       {kPid, kRole, kFile, kLevel}},
      {"a role that never sets the level",
       script([](AudioServiceScript& s) { s.setsLevel = false; }),
       {kPid, kRole, kFile, std::string(kLevelFailed) + "1 session: 1"}},
      {"a volume file left in place",
       script([](AudioServiceScript& s) { s.leavesVolumeFile = true; }),
       {kPid, kRole, kLevel,
        "FAIL  audio service: the volume file was read and removed: timed "
        "out after 30000 ms; last seen: still there"}},
      {"a volume file that cannot be examined",
       script([](AudioServiceScript& s) { s.volumeFileUnexaminable = true; }),
       {kPid, kRole,
        "FAIL  audio service: the volume file was read and removed: seen "
        "cannot tell: ",
        kLevel}},
      {"a page whose AudioContext never runs",
       script([](AudioServiceScript& s) { s.pageRuns = false; }),
       {kPid, kRole, kFile,
        std::string(kLevelFailed) + "the page's AudioContext is suspended"}},
      {"a second session at the default level",
       script([](AudioServiceScript& s) { s.lateSessionAfterMs = 500; }),
       {kPid, kRole, kFile, std::string(kLevelFailed) + "2 sessions: 0.37, 1"}},
      {"another program with the launcher's name",
       script([](AudioServiceScript& s) { s.image = "other/cef-launcher"; }),
       {kPid,
        "FAIL  audio service: that process is the launcher in the audio role: "
        "seen program ",
        kFile, kLevel}},
      {"no endpoint can be read",
       script([](AudioServiceScript& s) { s.endpointReadable = false; }),
       {kPid, kRole,
        "SKIP  audio service: every audio session of that process has the "
        "level written: not run here: no audio render endpoint could be "
        "read: endpoint 0: ",
        kFile}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::vector<std::string> verdicts =
        AudioVerdicts("case-" + std::to_string(i), cases[i].script);
    ASSERT_EQ(verdicts.size(), cases[i].verdicts.size())
        << testing::PrintToString(verdicts);
    for (size_t line = 0; line < verdicts.size(); ++line) {
      EXPECT_THAT(verdicts[line], StartsWith(cases[i].verdicts[line]));
    }
  }
}

}  // namespace
