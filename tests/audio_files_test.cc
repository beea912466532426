#include "launcher/audio_files.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "gtest/gtest.h"

namespace {

namespace fs = std::filesystem;

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

// A fresh folder per test, removed afterwards.
class AudioFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "audio-files-XXXXXX");
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    folder = pattern;
  }
  void TearDown() override { fs::remove_all(folder); }

  // The UTF-8 text the program is given for a file in the folder.
  std::string Utf8Path(const std::string& name) const {
    return folder.string() + "/" + name;
  }

  fs::path folder;
};

TEST(AudioServiceFilesBesideTest, AppendsTheNamesToTheTextUnchanged) {
  struct {
    const char* name;
    std::string userDataDir;
    std::string pidFile;
    std::string volumeFile;
  } const cases[] = {
      {"missing switch gives the bare literals", "", "/../AudioService.pid",
       "/../AudioService.vol"},
      {"Windows profile, separators kept",
       "C:\\Users\\Jos\xC3\xA9\\AppData\\Local\\Game\\User Data",
       "C:\\Users\\Jos\xC3\xA9\\AppData\\Local\\Game\\User "
       "Data/../AudioService.pid",
       "C:\\Users\\Jos\xC3\xA9\\AppData\\Local\\Game\\User "
       "Data/../AudioService.vol"},
      {"trailing slash kept", "/home/u/profile/",
       "/home/u/profile//../AudioService.pid",
       "/home/u/profile//../AudioService.vol"},
  };
  for (const auto& testCase : cases) {
    const AudioServiceFiles files =
        AudioServiceFilesBeside(testCase.userDataDir);
    EXPECT_EQ(testCase.pidFile, files.pidFile) << testCase.name;
    EXPECT_EQ(testCase.volumeFile, files.volumeFile) << testCase.name;
  }
}

TEST_F(AudioFilesTest, WritesTheDecimalIdAndOneNewline) {
  struct {
    uint32_t processId;
    const char* bytes;
  } const cases[] = {
      {0, "0\n"}, {7, "7\n"}, {4242, "4242\n"}, {4294967295u, "4294967295\n"}};
  for (const auto& testCase : cases) {
    WritePidFile(Utf8Path("AudioService.pid"), testCase.processId);
    EXPECT_EQ(testCase.bytes, ReadBytes(folder / "AudioService.pid"));
  }
}

TEST_F(AudioFilesTest, TruncatesAPidFileFromAnEarlierRun) {
  WriteBytes(folder / "AudioService.pid", "4294967295\nleft over\n");
  WritePidFile(Utf8Path("AudioService.pid"), 12);
  EXPECT_EQ("12\n", ReadBytes(folder / "AudioService.pid"));
}

TEST_F(AudioFilesTest, PidFileThatCannotBeCreatedIsSkippedSilently) {
  fs::create_directory(folder / "taken");
  WritePidFile(Utf8Path("taken"), 12);
  EXPECT_TRUE(fs::is_directory(folder / "taken"));
  EXPECT_TRUE(fs::is_empty(folder / "taken"));

  WritePidFile(Utf8Path("missing/AudioService.pid"), 12);
  EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST_F(AudioFilesTest, ReadsTheFirstLineAndDeletesOnlyWhenALineWasRead) {
  struct {
    const char* name;
    std::string bytes;
    std::string line;
    bool deleted;
  } const cases[] = {
      {"line with newline", "0.25\n", "0.25", true},
      {"last line without newline", "0.25", "0.25", true},
      {"only the first line counts", "0.5\n0.75\n", "0.5", true},
      {"empty first line, more lines follow", "\n0.5\n", "", true},
      {"newline only", "\n", "", true},
      {"white space kept", "  0.5abc\n", "  0.5abc", true},
      {"zero bytes", "", "", false},
  };
  for (const auto& testCase : cases) {
    WriteBytes(folder / "AudioService.vol", testCase.bytes);
    EXPECT_EQ(testCase.line, ReadAndRemoveFile(Utf8Path("AudioService.vol")))
        << testCase.name;
    EXPECT_EQ(!testCase.deleted, fs::exists(folder / "AudioService.vol"))
        << testCase.name;
    fs::remove(folder / "AudioService.vol");
  }
}

TEST_F(AudioFilesTest, MissingVolumeFileGivesEmptyTextAndCreatesNothing) {
  EXPECT_EQ("", ReadAndRemoveFile(Utf8Path("AudioService.vol")));
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(AudioFilesTest, ResolvesTheParentStepInTheText) {
  fs::create_directory(folder / "User Data");
  WriteBytes(folder / "AudioService.vol", "0.5\n");
  const AudioServiceFiles files =
      AudioServiceFilesBeside(Utf8Path("User Data"));

  WritePidFile(files.pidFile, 12);
  EXPECT_EQ("0.5", ReadAndRemoveFile(files.volumeFile));

  EXPECT_EQ("12\n", ReadBytes(folder / "AudioService.pid"));
  EXPECT_FALSE(fs::exists(folder / "AudioService.vol"));
}

TEST_F(AudioFilesTest, NonAsciiFolderNamesReachTheirFiles) {
  // "José", then CJK text outside every single-byte code page.
  const std::string name = "Jos\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
  const fs::path native = PathFromUtf8(Utf8Path(name));
  ASSERT_TRUE(fs::create_directory(native));
  WriteBytes(native / "AudioService.vol", "0.25\n");

  WritePidFile(Utf8Path(name + "/AudioService.pid"), 12);
  EXPECT_EQ("0.25", ReadAndRemoveFile(Utf8Path(name + "/AudioService.vol")));

  EXPECT_EQ("12\n", ReadBytes(native / "AudioService.pid"));
  EXPECT_FALSE(fs::exists(native / "AudioService.vol"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(folder), {}));
}

TEST_F(AudioFilesTest, TextThatIsNotAPathNamesNoFile) {
  WriteBytes(folder / "a", "0.5\n");
  // Cut at the NUL, the name would reach "a".
  EXPECT_EQ("", ReadAndRemoveFile(Utf8Path(std::string("a\0b", 3))));
  EXPECT_TRUE(fs::exists(folder / "a"));

  const char* const invalidUtf8[] = {
      "\xFF",              // never a UTF-8 byte
      "\xC3",              // truncated sequence
      "\xC0\xAF",          // overlong "/"
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
  };
  for (const char* name : invalidUtf8) {
    EXPECT_EQ(fs::path(), PathFromUtf8(Utf8Path(name))) << name;
  }
  EXPECT_NE(fs::path(), PathFromUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
}

TEST(AudioFilesDeletionTest, LineIsReturnedWhenTheFileCannotBeDeleted) {
  // procfs refuses to unlink its files, even for root.
  const std::string path = "/proc/self/comm";
  const std::optional<std::string> bytes = ReadBytes(path);
  if (!bytes) {
    GTEST_SKIP() << path << " is not readable";
  }
  EXPECT_EQ(bytes->substr(0, bytes->find('\n')), ReadAndRemoveFile(path));
  EXPECT_TRUE(fs::exists(path));
}

}  // namespace
