// The peer library's audio-service files, read back the way the audio hook
// reads them.

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "gtest/gtest.h"
#include "launcher/audio_files.h"
#include "launcher/audio_level.h"
#include "peer/audio_files.h"

namespace {

namespace fs = std::filesystem;
using cef_launcher_peer::ReadAudioServicePid;
using cef_launcher_peer::WriteVolumeFile;

class PeerAudioFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::temp_directory_path() /
        ("peer_audio_" +
         std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "profile");
    userDataDir = (root / "profile").string();
  }
  void TearDown() override { fs::remove_all(root); }

  std::string Contents(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }

  fs::path root;
  std::string userDataDir;
};

TEST_F(PeerAudioFilesTest, PathsAreTheAudioHooksOwn) {
  for (const std::string& dir :
       {std::string(), userDataDir, std::string("C:\\t\\run1\\cache")}) {
    const AudioServiceFiles hook = AudioServiceFilesBeside(dir);
    EXPECT_EQ(cef_launcher_peer::AudioServicePidFile(dir), hook.pidFile);
    EXPECT_EQ(cef_launcher_peer::AudioServiceVolumeFile(dir), hook.volumeFile);
  }
}

TEST_F(PeerAudioFilesTest, LevelsReadBackExactlyAsTheHookParsesThem) {
  const float levels[] = {0.0f,
                          1.0f,
                          0.25f,
                          0.1f,
                          1.0f / 3.0f,
                          std::numeric_limits<float>::min(),
                          std::nextafter(1.0f, 0.0f),
                          std::nextafter(0.5f, 1.0f)};
  // A decimal comma locale, where one is installed, changes nothing.
  const char* commaLocale = std::setlocale(LC_ALL, "de_DE.UTF-8");
  for (float level : levels) {
    ASSERT_TRUE(WriteVolumeFile(userDataDir, level)) << level;
    const std::string text = Contents(root / "AudioService.vol");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    const std::string line =
        ReadAndRemoveFile(AudioServiceFilesBeside(userDataDir).volumeFile);
    EXPECT_EQ(ParseVolumeLevel(line), level) << line;
    EXPECT_FALSE(fs::exists(root / "AudioService.vol"));
  }
  if (commaLocale) {
    std::setlocale(LC_ALL, "C");
  }
  // Nothing is left beside it.
  EXPECT_EQ(
      std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

TEST_F(PeerAudioFilesTest, RefusedLevelsAndFailuresLeaveTheOldFile) {
  ASSERT_TRUE(WriteVolumeFile(userDataDir, 0.5f));
  for (float level : {-0.01f, 1.01f, std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity(),
                      std::numeric_limits<float>::denorm_min()}) {
    EXPECT_FALSE(WriteVolumeFile(userDataDir, level)) << level;
  }
  EXPECT_EQ(Contents(root / "AudioService.vol"), "0.5\n");
  // A user-data directory whose parent does not exist.
  EXPECT_FALSE(WriteVolumeFile((root / "no" / "such").string(), 0.5f));
  // Overwriting replaces the whole line.
  ASSERT_TRUE(WriteVolumeFile(userDataDir, 0.125f));
  EXPECT_EQ(Contents(root / "AudioService.vol"), "0.125\n");
}

TEST_F(PeerAudioFilesTest, PidFileIsReadOnlyWhenWhole) {
  WritePidFile(AudioServiceFilesBeside(userDataDir).pidFile, 4294967295u);
  EXPECT_EQ(ReadAudioServicePid(userDataDir), 4294967295u);
  const struct {
    const char* contents;
    std::optional<uint32_t> pid;
  } cases[] = {
      {"12047\n", 12047u},      {"12047\r\n", 12047u},
      {"12047", std::nullopt},  {"", std::nullopt},
      {"\n", std::nullopt},     {"-1\n", std::nullopt},
      {"12x\n", std::nullopt},  {"4294967296\n", std::nullopt},
      {"1\n2\n", std::nullopt},
  };
  for (const auto& c : cases) {
    std::ofstream(root / "AudioService.pid", std::ios::binary | std::ios::trunc)
        << c.contents;
    EXPECT_EQ(ReadAudioServicePid(userDataDir), c.pid) << c.contents;
  }
  fs::remove(root / "AudioService.pid");
  EXPECT_EQ(ReadAudioServicePid(userDataDir), std::nullopt);
}

}  // namespace
