#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conformance/check_report.h"
#include "conformance/game_link.h"
#include "conformance/page_host.h"

namespace conformance {

// Runs every scenario through a page host and the game side of the bridge,
// one step at a time, and writes each verdict to the report. Nothing waits:
// each step goes on from the callbacks of the messages it expects, and ends
// after its time-out at the latest, failing the checks still open. UI
// thread only.
class Runner {
 public:
  struct Options {
    // The browser's user-data directory; the audio check's files lie
    // beside it. Empty: no audio files.
    std::string userDataDir;
    // The subprocess executable CEF was given.
    std::string launcherPath;
    // The command line CEF gave the audio service, once it launched.
    std::function<std::string()> audioCommandLine;
    // Per-step time-out.
    int64_t stepTimeoutMs = 30000;
    // Calls timed for the round-trip figures.
    int roundTrips = 1000;
    // The level the audio check writes and expects on every session.
    float volumeLevel = 0.37f;
    // Only the steps of these names run; empty: every step.
    std::vector<std::string> onlySteps;
  };

  Runner(PageHost& pageHost, CheckReport& checkReport, Options runOptions);
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;
  // Clears the token every posted task holds: a task still queued when the
  // runner goes does nothing.
  ~Runner();

  // The events of every browser go here.
  BrowserEvents& Events() { return link; }
  // Before CEF starts: writes the volume file for the audio check.
  void PrepareBeforeStart();
  // Runs the scenarios; `finished` runs once, after the last one.
  void Start(std::function<void()> finished);
  bool Finished() const { return done; }

 private:
  struct Step {
    std::string name;
    void (Runner::*start)();
  };

  // Step machinery.
  // Posts `task` to the UI thread; it runs only while this runner lives.
  void Post(std::function<void()> task, int64_t delayMs);
  void RunStep(size_t index);
  void EndStep();
  void Expect(const std::string& check);
  // Records a verdict for an expected check; a check not expected (late,
  // or from an ended step) is ignored. Ends the step once none is open.
  void Check(const std::string& check,
             const std::string& seen,
             const std::string& expected,
             const std::string& note = "");
  // What an open check saw last; a time-out shows it.
  void Note(const std::string& check, const std::string& seen) {
    lastSeen[check] = seen;
  }
  void WhenReady(const std::string& pageName,
                 std::function<void(CefRefPtr<CefFrame>)> ready);
  void CallPage(CefRefPtr<CefFrame> frame,
                const std::string& path,
                CefRefPtr<CefListValue> arguments,
                GameLink::ReplyCallback replied);
  // Keeps the step open while something is under way that no check tracks.
  void Hold(const std::string& what) { holding = what; }
  void Release();
  // Drops an expected check this backend turns out unable to make.
  void Skip(const std::string& check, const std::string& reason);

  // The scenarios, in order.
  void PageValues();
  void SizeBudget();
  void IdsAcrossFrames();
  void Replies();
  void StrandedReply();
  void GameCalls();
  void Malformed();
  void Focus();
  void Schemes();
  void Audio();
  void PollAudioService();
  void CheckAudioProcess(uint32_t processId);
  void CheckVolumeFileGone();
  void CheckAudioLevels(uint32_t processId);
  void Figures();

  PageHost& host;
  CheckReport& report;
  Options options;
  GameLink link;
  std::vector<Step> steps;
  size_t current = 0;
  int generation = 0;
  std::vector<std::string> open;
  std::map<std::string, std::string> lastSeen;
  std::string holding;
  std::function<void()> onFinished;
  bool done = false;
  std::map<std::string, std::function<void(CefRefPtr<CefFrame>)>> readyWaiters;

  // State shared by a step's callbacks.
  std::vector<int32_t> valueCallIds;
  std::vector<std::pair<std::string, int32_t>> orderedIds;
  std::vector<std::string> orderedFrames;
  std::shared_ptr<CallAnswer> heldAnswer;
  std::shared_ptr<CallAnswer> heldSecondAnswer;
  int strandedSettlements = 0;
  std::vector<std::string> frameAnswers;
  std::string watchedFrame;
  bool volumeFileWritten = false;
  std::string audioPageState;
  std::optional<uint32_t> audioProcessId;
  std::vector<float> audioVolumes;
  int audioStablePolls = 0;

  // Held weakly by every posted task; reset when the runner goes.
  std::shared_ptr<char> token = std::make_shared<char>();
};

}  // namespace conformance
